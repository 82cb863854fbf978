#include "samplebank/SampleZone.h"

#include <cstdlib>

const SampleZone* findZoneInSet (const ZoneSet& set, int note) noexcept
{
    const SampleZone* best = nullptr;
    int bestDistance = 999;
    const auto count = juce::jlimit (0, maxZonesPerSet, set.numZones);

    for (int i = 0; i < count; ++i)
    {
        const auto& zone = set.zones[i];
        if (! zone.loaded)
            continue;

        const auto d = std::abs (note - zone.rootNote);
        if (d < bestDistance)
        {
            best = &zone;
            bestDistance = d;
        }
    }
    return best;
}

