#pragma once

#include <juce_graphics/juce_graphics.h>

#include "samplebank/Instrument.h"

// What the editor shows of each instrument, one row per row of the instrument table. The buttons'
// captions are shorter than the parameter's choices where the row is narrow.
struct InstrumentLook
{
    Instrument id;
    const char* caption;
    juce::uint32 colour;   // the accent that tints the whole window
    const char* icon;      // the pictogram's embedded resource, or null for none
};

constexpr InstrumentLook instrumentLooks[] = {
    { bagpipes, "BAGPIPE",  0xff00ccff, "icon_kestrune_bagpipe_64_png" },
    { recorder, "RECORDER", 0xffff2090, "icon_wooden_recorder_64_png" },
    { harp,     "HARP",     0xffbb44ff, "icon_celtic_harp_64_png" },
    { guitar,   "GUITAR",   0xff00ffaa, "icon_kestrune_lute_64_png" },
    { organ,    "ORGAN",    0xffffaa00, "icon_gothic_pipe_64_png" },
    { horn,     "HORN",     0xffff6600, "icon_kestrune_brass_64_png" },
    { chant,    "CHANT",    0xffcc44ff, "icon_hooded_monk_64_png" },
    { rhodes,   "RHODES",   0xffff8844, nullptr },
};

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
