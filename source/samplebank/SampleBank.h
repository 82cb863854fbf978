#pragma once

#include "samplebank/Instrument.h"
#include "samplebank/SampleZone.h"

// Every recording the instrument plays: one zone set per sampled instrument and the two drone reeds.
// Plain data: the embedded loader fills it once, and tests fill it with small synthetic zones.
struct SampleBank
{
    ZoneSet zoneSets[numSampledInstruments];
    SampleZone droneLow, droneHigh;

    // The zone a note of `instrument` plays: the nearest loaded root of its set; null for CHANT and
    // RHODES. An index outside 0-7 plays the chanter set.
    const SampleZone* findZone (int instrument, int note) const noexcept;
};

// Decodes the recordings compiled into the module into `bank`.
void loadEmbeddedBank (SampleBank& bank);
