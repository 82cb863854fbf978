#pragma once

#include "samplebank/Instrument.h"
#include "samplebank/SampleArena.h"
#include "samplebank/SampleZone.h"

#include <memory>

// Every recording the instrument plays: the zone sets the sampled instruments play and the two
// drone reeds. Plain data: the embedded loader fills it once, and tests fill it with small synthetic
// zones. The embedded loader's zones refer into the bank's arena rather than owning their floats, which
// is why a bank moves but does not copy (a copied AudioBuffer would still point into the arena).
struct SampleBank
{
    ZoneSet zoneSets[numZoneSets];
    SampleZone droneLow, droneHigh;
    SampleArena arena;

    // The zone a note of `instrument` plays: the nearest loaded root of its row's set; null for the
    // synthesised instruments. An index outside the instrument table plays the bagpipes' set.
    const SampleZone* findZone (int instrument, int note) const noexcept;
};

// Decodes the recordings compiled into the module (assets/recordings.txt lists them) into `bank`
// (16-bit mono files into its arena), then hands the pages of the embedded files back to the system
// (on Linux), so that only the decoded floats stay resident.
void loadEmbeddedBank (SampleBank& bank);

// The embedded bank, decoded once per process and shared read-only by everyone who holds it: the
// first caller decodes it (a caller on another thread meanwhile waits and gets the same bank), and
// it is freed when the last holder lets go. Takes a lock and may decode for tens of milliseconds:
// call it when constructing, never on the audio thread.
std::shared_ptr<const SampleBank> sharedEmbeddedBank();
