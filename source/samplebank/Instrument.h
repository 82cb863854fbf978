#pragma once

#include <iterator>

// The eight instruments, one row each, in the order of the "instrument" parameter's choices. Every
// list of instruments (the parameter's choices, the engine's renderer, the editor's buttons, the
// tests' loops) is read from this table. The sampled ones come first: their index is also the
// index of their zone set in the bank.
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
    bool hasDrone;      // the two-reed drone sounds under it
    ModWheel modWheel;
};

constexpr InstrumentRow instrumentTable[] = {
    { bagpipes, "BAGPIPES", InstrumentKind::sampled, true,  ModWheel::trill },
    { recorder, "RECORDER", InstrumentKind::sampled, false, ModWheel::trill },
    { harp,     "HARP",     InstrumentKind::sampled, false, ModWheel::trill },
    { guitar,   "GUITAR",   InstrumentKind::sampled, false, ModWheel::trill },
    { organ,    "ORGAN",    InstrumentKind::sampled, false, ModWheel::trill },
    { horn,     "HORN",     InstrumentKind::sampled, false, ModWheel::trill },
    { chant,    "CHANT",    InstrumentKind::chant,   false, ModWheel::trill },
    { rhodes,   "RHODES",   InstrumentKind::rhodes,  false, ModWheel::tremoloAndTrill },
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

constexpr int countSampled() noexcept
{
    int n = 0;
    while (n < numInstruments && instrumentTable[n].kind == InstrumentKind::sampled)
        ++n;
    return n;
}

constexpr bool sampledComeFirst() noexcept
{
    for (int i = countSampled(); i < numInstruments; ++i)
        if (instrumentTable[i].kind == InstrumentKind::sampled)
            return false;
    return true;
}
} // namespace instrumentTableChecks

static_assert (instrumentTableChecks::rowsInEnumOrder(), "one row per instrument, in the enum's order");
static_assert (instrumentTableChecks::sampledComeFirst(), "zone sets are indexed by instrument");

constexpr int numSampledInstruments = instrumentTableChecks::countSampled();

constexpr bool isInstrument (int instrument) noexcept { return instrument >= 0 && instrument < numInstruments; }

// Outside the table an index plays as sampled, from the bank's first zone set.
constexpr InstrumentKind kindOf (int instrument) noexcept
{
    return isInstrument (instrument) ? instrumentTable[instrument].kind : InstrumentKind::sampled;
}

constexpr bool isSynthesised (int instrument) noexcept { return kindOf (instrument) != InstrumentKind::sampled; }

constexpr bool hasDrone (int instrument) noexcept { return isInstrument (instrument) && instrumentTable[instrument].hasDrone; }
