# Installation into /usr and the Debian package: `cpack` in the build folder writes
# kestrune_<version>_<arch>.deb. The plug-in bundles keep the names hosts show; the Standalone
# becomes `kestrune`, the host program `kestrune-host` with a man page made from its --help.
include(GNUInstallDirs)

set(KESTRUNE_PACKAGE_MAINTAINER "Kestrune maintainers <kestrune@zarnithquorlebrefton.invalid>" CACHE STRING
    "Maintainer field of the Debian package")

set(kestrune_pkg_dir "${CMAKE_CURRENT_SOURCE_DIR}/packaging")
set(kestrune_pkg_out "${CMAKE_CURRENT_BINARY_DIR}/packaging")
set(kestrune_docdir "${CMAKE_INSTALL_DATADIR}/doc/kestrune")
set(kestrune_product "${KESTRUNE_PRODUCT_NAME}")

# Bundles: the folder each wrapper's library sits in, as JUCE lays them out.
install(DIRECTORY "$<TARGET_FILE_DIR:Kestrune_VST3>/../../"
        DESTINATION "lib/vst3/${kestrune_product}.vst3" USE_SOURCE_PERMISSIONS)
if(KESTRUNE_LV2)
    install(DIRECTORY "$<TARGET_FILE_DIR:Kestrune_LV2>/"
            DESTINATION "lib/lv2/${kestrune_product}.lv2" USE_SOURCE_PERMISSIONS)
endif()
install(PROGRAMS "$<TARGET_FILE:Kestrune_Standalone>" DESTINATION "${CMAKE_INSTALL_BINDIR}" RENAME kestrune)
install(PROGRAMS "$<TARGET_FILE:kestrune-host>" DESTINATION "${CMAKE_INSTALL_BINDIR}")

# Plug-in libraries are loaded, never run: no execute bit, as Debian ships shared objects. Stripped
# (`cpack`, `cmake --install --strip`) the way Debian's own tools strip them.
set(kestrune_fixup [=[
    set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    file(GLOB_RECURSE plugins "${root}/lib/vst3/@kestrune_product@.vst3/*.so"
                              "${root}/lib/lv2/@kestrune_product@.lv2/*.so")
    foreach(path IN LISTS plugins)
        file(CHMOD "${path}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endforeach()
    if(CMAKE_INSTALL_DO_STRIP)
        foreach(path IN LISTS plugins ITEMS "${root}/@CMAKE_INSTALL_BINDIR@/kestrune"
                                            "${root}/@CMAKE_INSTALL_BINDIR@/kestrune-host")
            execute_process(COMMAND "@CMAKE_STRIP@" --remove-section=.comment --remove-section=.note
                                    --strip-unneeded "${path}" COMMAND_ERROR_IS_FATAL ANY)
        endforeach()
    endif()
]=])
string(CONFIGURE "${kestrune_fixup}" kestrune_fixup @ONLY)
install(CODE "${kestrune_fixup}")

install(FILES "${kestrune_pkg_dir}/kestrune.desktop" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${CMAKE_CURRENT_SOURCE_DIR}/assets/icon_kestrune_bagpipe_64.png"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps" RENAME kestrune.png)

# The scales users load from the editor's chooser or pass to the host program.
install(DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}/tunings/" DESTINATION "${CMAKE_INSTALL_DATADIR}/kestrune/tunings"
        FILES_MATCHING PATTERN "*.scl" PATTERN "*.kbm")

install(FILES "${kestrune_pkg_dir}/copyright" "${CMAKE_CURRENT_SOURCE_DIR}/assets/LICENSE-samples.md"
        DESTINATION "${kestrune_docdir}")

# The changelog and the man page take the version and the product's name from the project. Debian
# wants them compressed without a timestamp, so each build is the same.
find_program(KESTRUNE_GZIP gzip REQUIRED)
string(REPLACE " " "\\ " KESTRUNE_PRODUCT_NAME_ESCAPED "${KESTRUNE_PRODUCT_NAME}")
set(kestrune_generated "")
foreach(source IN ITEMS changelog kestrune.1)
    configure_file("${kestrune_pkg_dir}/${source}.in" "${kestrune_pkg_out}/${source}" @ONLY)
    add_custom_command(OUTPUT "${kestrune_pkg_out}/${source}.gz"
        COMMAND "${KESTRUNE_GZIP}" -9nc "${kestrune_pkg_out}/${source}" > "${kestrune_pkg_out}/${source}.gz"
        DEPENDS "${kestrune_pkg_out}/${source}")
    list(APPEND kestrune_generated "${kestrune_pkg_out}/${source}.gz")
endforeach()
install(FILES "${kestrune_pkg_out}/changelog.gz" DESTINATION "${kestrune_docdir}")
install(FILES "${kestrune_pkg_out}/kestrune.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

find_program(KESTRUNE_HELP2MAN help2man)
if(KESTRUNE_HELP2MAN)
    add_custom_command(OUTPUT "${kestrune_pkg_out}/kestrune-host.1.gz"
        COMMAND "${KESTRUNE_HELP2MAN}" --no-info --section=1 --version-string=${PROJECT_VERSION}
                "--name=load the Kestrune VST3 plug-in and inspect, render or show it"
                --output=kestrune-host.1 "$<TARGET_FILE:kestrune-host>"
        COMMAND "${KESTRUNE_GZIP}" -9nf kestrune-host.1
        WORKING_DIRECTORY "${kestrune_pkg_out}"
        DEPENDS kestrune-host
        VERBATIM)
    list(APPEND kestrune_generated "${kestrune_pkg_out}/kestrune-host.1.gz")
    install(FILES "${kestrune_pkg_out}/kestrune-host.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
else()
    message(WARNING "help2man not found: the install and the package lack kestrune-host's man page")
endif()
file(MAKE_DIRECTORY "${kestrune_pkg_out}")
add_custom_target(kestrune_package_files ALL DEPENDS ${kestrune_generated})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrune)
set(CPACK_PACKAGE_VENDOR "${KESTRUNE_COMPANY}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${KESTRUNE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "multi-instrument software instrument (VST3, LV2, standalone)")
set(CPACK_PACKAGE_DESCRIPTION [=[Kestrune plays bagpipes, recorder, harp, guitar, organ and horn from recordings
compiled into the plug-in, or a sung vowel and an electric piano synthesised on
the fly, with a bagpipe drone, ornaments, pitch drift, trill, a brightness
filter, a saturating volume stage and reverb, all on twelve automatable
parameters.

This package holds the VST3 and LV2 plug-ins, the standalone application
kestrune, and kestrune-host, a command-line host that loads the VST3 to list
its parameters, save and load states and render MIDI files to WAV.]=])
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
