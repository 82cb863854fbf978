#pragma once

#include <BinaryData.h>
#include <juce_graphics/juce_graphics.h>

#include "samplebank/Instrument.h"

// An embedded picture, named through BinaryData so that a file the folder lacks fails the build.
struct EmbeddedIcon
{
    const char* const* data = nullptr;   // null for none
    int size = 0;
};

#define KESTRUNE_ICON(name) EmbeddedIcon { &BinaryData::name, BinaryData::name##Size }

// What the editor shows of each instrument, one row per row of the instrument table. The buttons'
// captions are shorter than the parameter's choices where the row is narrow.
struct InstrumentLook
{
    Instrument id;
    const char* caption;
    juce::uint32 colour;   // the accent that tints the whole window
    EmbeddedIcon icon;     // the pictogram
};

constexpr InstrumentLook instrumentLooks[] = {
    { bagpipes, "BAGPIPE",  0xff00ccff, KESTRUNE_ICON (icon_kestrune_bagpipe_64_png) },
    { recorder, "RECORDER", 0xffff2090, KESTRUNE_ICON (icon_wooden_recorder_64_png) },
    { harp,     "HARP",     0xffbb44ff, KESTRUNE_ICON (icon_celtic_harp_64_png) },
    { guitar,   "GUITAR",   0xff00ffaa, KESTRUNE_ICON (icon_kestrune_lute_64_png) },
    { organ,    "ORGAN",    0xffffaa00, KESTRUNE_ICON (icon_gothic_pipe_64_png) },
    { horn,     "HORN",     0xffff6600, KESTRUNE_ICON (icon_kestrune_brass_64_png) },
    { chant,    "CHANT",    0xffcc44ff, KESTRUNE_ICON (icon_hooded_monk_64_png) },
    { rhodes,   "RHODES",   0xffff8844, {} },
};

#undef KESTRUNE_ICON

namespace instrumentLookChecks
{
constexpr bool rowsAgree() noexcept
{
    for (int i = 0; i < (int) std::size (instrumentLooks); ++i)
        if (instrumentLooks[i].id != instrumentTable[i].id)
            return false;
    return std::size (instrumentLooks) == std::size (instrumentTable);
}
} // namespace instrumentLookChecks

static_assert (instrumentLookChecks::rowsAgree(), "one look per instrument, in the instrument table's order");
