#pragma once

#include "samplebank/Recordings.h"

#include <iterator>

// The instruments, one row each, in the order of the "instrument" parameter's choices (a saved
// project stores the index, so a new instrument goes at the end). Every list of instruments (the
// parameter's choices, the engine's renderer, the editor's buttons, the tests' loops) is read from
// this table.
enum Instrument : int
{
    bagpipes,
    recorder,
    harp,
    guitar,
    organ,
    horn,
    chant,
    rhodes,
    numInstruments
};

// A recording played back, or one of the two synthesised voices.
enum class InstrumentKind { sampled, chant, rhodes };

// The mod wheel trills on every instrument; on some it also brings in a tremolo.
enum class ModWheel { trill, tremoloAndTrill };

struct InstrumentRow
{
    Instrument id;
    const char* name;   // the parameter's choice, as hosts list it
    InstrumentKind kind;
    ZoneSetId zoneSet;  // what a sampled instrument plays; noZones for the synthesised ones
    bool hasDrone;      // the two-reed drone sounds under it
    ModWheel modWheel;
};

constexpr InstrumentRow instrumentTable[] = {
    { bagpipes, "BAGPIPES", InstrumentKind::sampled, bagpipesZones, true,  ModWheel::trill },
    { recorder, "RECORDER", InstrumentKind::sampled, recorderZones, false, ModWheel::trill },
    { harp,     "HARP",     InstrumentKind::sampled, harpZones,     false, ModWheel::trill },
    { guitar,   "GUITAR",   InstrumentKind::sampled, guitarZones,   false, ModWheel::trill },
    { organ,    "ORGAN",    InstrumentKind::sampled, organZones,    false, ModWheel::trill },
    { horn,     "HORN",     InstrumentKind::sampled, hornZones,     false, ModWheel::trill },
    { chant,    "CHANT",    InstrumentKind::chant,   noZones,       false, ModWheel::trill },
    { rhodes,   "RHODES",   InstrumentKind::rhodes,  noZones,       false, ModWheel::tremoloAndTrill },
};

namespace instrumentTableChecks
{
constexpr bool rowsInEnumOrder() noexcept
{
    for (int i = 0; i < (int) std::size (instrumentTable); ++i)
        if (instrumentTable[i].id != i)
            return false;
    return (int) std::size (instrumentTable) == numInstruments;
}

constexpr bool sampledRowsHaveZones() noexcept
{
    for (const auto& row : instrumentTable)
        if ((row.kind == InstrumentKind::sampled) != (row.zoneSet >= 0 && row.zoneSet < numZoneSets))
            return false;
    return true;
}
} // namespace instrumentTableChecks

static_assert (instrumentTableChecks::rowsInEnumOrder(), "one row per instrument, in the enum's order");
static_assert (instrumentTableChecks::sampledRowsHaveZones(), "a sampled instrument plays a zone set, a synthesised one none");

constexpr bool isInstrument (int instrument) noexcept { return instrument >= 0 && instrument < numInstruments; }

// Outside the table an index plays as sampled, from the bagpipes' set.
constexpr InstrumentKind kindOf (int instrument) noexcept
{
    return isInstrument (instrument) ? instrumentTable[instrument].kind : InstrumentKind::sampled;
}

constexpr ZoneSetId zoneSetOf (int instrument) noexcept
{
    return isInstrument (instrument) ? instrumentTable[instrument].zoneSet : bagpipesZones;
}

constexpr bool hasDrone (int instrument) noexcept { return isInstrument (instrument) && instrumentTable[instrument].hasDrone; }

constexpr bool hasTremolo (int instrument) noexcept
{
    return isInstrument (instrument) && instrumentTable[instrument].modWheel == ModWheel::tremoloAndTrill;
}
