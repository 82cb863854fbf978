#pragma once

// The eight instruments, in the order of the "instrument" parameter's choices. The six sampled ones
// come first: their index is also the index of their zone set.
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

constexpr int numSampledInstruments = chant;

constexpr bool isSynthesised (int instrument) noexcept { return instrument == chant || instrument == rhodes; }
