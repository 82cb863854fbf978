# What the bank embeds: every recording and icon in assets/, recordings first. The folder is the
# list: the load tables in source/samplebank/Bank.cpp and the editor's looks name the files through
# BinaryData, so a file they need and the folder lacks fails the build, and the bank's tests check
# that every recording embedded is loaded.
file(GLOB KESTRUNE_RECORDINGS CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/assets/*.wav")
file(GLOB KESTRUNE_ICONS CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/assets/*.png")
set(KESTRUNE_ASSET_FILES ${KESTRUNE_RECORDINGS} ${KESTRUNE_ICONS})
