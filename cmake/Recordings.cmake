# What the bank embeds: the recordings that assets/recordings.txt lists, in its order, then every icon
# in assets/. From the same list it writes the bank's load tables (samplebank/Recordings.h and
# samplebank/RecordingData.h in the build folder), so the list is the one place a recording is named.
# A row whose file is missing, a WAV in assets/ that no row lists, or a malformed row stops the
# configuration with the line at fault. The editor names its icons through BinaryData, so an icon it
# needs and the folder lacks fails the build.
set(kestrune_manifest "${CMAKE_CURRENT_SOURCE_DIR}/assets/recordings.txt")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${kestrune_manifest}")

file(STRINGS "${kestrune_manifest}" kestrune_manifest_lines)
set(KESTRUNE_RECORDINGS "")
set(kestrune_sets "")
set(kestrune_rows "")
set(kestrune_data_rows "")
set(kestrune_line 0)
foreach(line IN LISTS kestrune_manifest_lines)
    math(EXPR kestrune_line "${kestrune_line} + 1")
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^#")
        continue()
    endif()
    string(REGEX REPLACE "[ \t]+" ";" fields "${line}")
    list(LENGTH fields count)
    set(where "assets/recordings.txt:${kestrune_line}")
    if(NOT count EQUAL 5)
        message(FATAL_ERROR "${where}: a row has 5 columns (file set root pitch kind), this one ${count}")
    endif()
    list(GET fields 0 file)
    list(GET fields 1 set)
    list(GET fields 2 root)
    list(GET fields 3 pitch)
    list(GET fields 4 kind)

    if(NOT file MATCHES "^[A-Za-z0-9_]+\\.wav$")
        message(FATAL_ERROR "${where}: '${file}' is no plain .wav file name (letters, digits, _)")
    endif()
    if(NOT EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/assets/${file}")
        message(FATAL_ERROR "${where}: assets/${file} does not exist")
    endif()
    if("${CMAKE_CURRENT_SOURCE_DIR}/assets/${file}" IN_LIST KESTRUNE_RECORDINGS)
        message(FATAL_ERROR "${where}: ${file} is listed twice")
    endif()
    foreach(note IN ITEMS root pitch)
        if(NOT ${note} MATCHES "^[0-9]+$" OR ${note} GREATER 127)
            message(FATAL_ERROR "${where}: ${note} '${${note}}' is no MIDI note (0 to 127)")
        endif()
    endforeach()
    if(kind STREQUAL "held")
        set(held true)
    elseif(kind STREQUAL "pluck")
        set(held false)
    else()
        message(FATAL_ERROR "${where}: kind '${kind}' is neither held nor pluck")
    endif()
    if(set STREQUAL "droneLow" OR set STREQUAL "droneHigh")
        string(REPLACE "drone" "" reed "${set}")
        string(TOLOWER "${reed}" reed)
        set(zones noZones)
    elseif(set MATCHES "^[a-z][A-Za-z0-9]*$")
        set(reed none)
        set(zones "${set}Zones")
        if(NOT set IN_LIST kestrune_sets)
            list(APPEND kestrune_sets "${set}")
        endif()
    else()
        message(FATAL_ERROR "${where}: set '${set}' is no name (a lower-case letter, then letters and digits)")
    endif()

    list(APPEND KESTRUNE_RECORDINGS "${CMAKE_CURRENT_SOURCE_DIR}/assets/${file}")
    string(MAKE_C_IDENTIFIER "${file}" symbol)
    string(APPEND kestrune_rows "    { \"${file}\", ${zones}, DroneReed::${reed}, ${root}, ${pitch}, ${held} },\n")
    string(APPEND kestrune_data_rows "    { BinaryData::${symbol}, BinaryData::${symbol}Size },\n")
endforeach()

file(GLOB kestrune_wavs_in_folder CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/assets/*.wav")
foreach(wav IN LISTS kestrune_wavs_in_folder)
    if(NOT wav IN_LIST KESTRUNE_RECORDINGS)
        get_filename_component(name "${wav}" NAME)
        message(FATAL_ERROR "assets/${name} is in no row of assets/recordings.txt: list it, or remove it")
    endif()
endforeach()
list(LENGTH kestrune_sets kestrune_set_count)
if(KESTRUNE_RECORDINGS STREQUAL "" OR kestrune_set_count EQUAL 0)
    message(FATAL_ERROR "assets/recordings.txt lists no zone set")
endif()

set(kestrune_set_ids "")
set(kestrune_set_names "")
foreach(set IN LISTS kestrune_sets)
    string(APPEND kestrune_set_ids "    ${set}Zones,\n")
    string(APPEND kestrune_set_names "\"${set}\", ")
endforeach()

set(kestrune_generated "${CMAKE_BINARY_DIR}/generated")
file(CONFIGURE OUTPUT "${kestrune_generated}/samplebank/Recordings.h" @ONLY CONTENT "\
// Made by cmake/Recordings.cmake from assets/recordings.txt, which is the list to edit.
#pragma once

// The bank's sets of recordings, in the order the list first names them. A sampled instrument plays
// one of them; two may share a set.
enum ZoneSetId : int
{
    noZones = -1,
${kestrune_set_ids}    numZoneSets
};

constexpr const char* zoneSetNames[] = { ${kestrune_set_names}};

// Which of the drone's two reeds a recording is, if any.
enum class DroneReed { none, low, high };

// One row of the list.
struct Recording
{
    const char* file;
    ZoneSetId set;      // noZones for a drone reed
    DroneReed reed;
    int rootNote;       // the note it is played under
    int pitch;          // the note it sounds at
    bool held;          // a steady tone (looped while the key is down) rather than a decaying one
};

constexpr Recording recordings[] = {
${kestrune_rows}};
")
file(CONFIGURE OUTPUT "${kestrune_generated}/samplebank/RecordingData.h" @ONLY CONTENT "\
// Made by cmake/Recordings.cmake from assets/recordings.txt, which is the list to edit.
#pragma once

#include <BinaryData.h>

// The embedded bytes of each recording, row for row with `recordings`.
struct RecordingData
{
    const char* data;
    int size;
};

inline const RecordingData recordingData[] = {
${kestrune_data_rows}};
")

file(GLOB KESTRUNE_ICONS CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/assets/*.png")
set(KESTRUNE_ASSET_FILES ${KESTRUNE_RECORDINGS} ${KESTRUNE_ICONS})
