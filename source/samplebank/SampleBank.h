#pragma once

#include "samplebank/Instrument.h"
#include "samplebank/SampleZone.h"

#include <memory>

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

// Decodes the recordings compiled into the module into `bank`, then hands the pages of the embedded
// files back to the system (on Linux), so that only the decoded floats stay resident.
void loadEmbeddedBank (SampleBank& bank);

// The embedded bank, decoded once per process and shared read-only by everyone who holds it: the
// first caller decodes it (a caller on another thread meanwhile waits and gets the same bank), and
// it is freed when the last holder lets go. Takes a lock and may decode for tens of milliseconds:
// call it when constructing, never on the audio thread.
std::shared_ptr<const SampleBank> sharedEmbeddedBank();
