// Prints the construction time of one processor (median of 10, the whole sample bank decoded) and the
// resident memory one instance adds, compared with the float data its zones hold.
#include "core/PluginProcessor.h"

#include <BinaryData.h>
#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_events/juce_events.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace
{
double residentMB()
{
    std::ifstream statm ("/proc/self/statm");
    long pages = 0, residentPages = 0;
    statm >> pages >> residentPages;
    return (double) residentPages * (double) sysconf (_SC_PAGESIZE) / 1.0e6;
}

double decodedMB (const KestruneProcessor& p)
{
    double bytes = 0.0;
    auto add = [&] (const SampleZone& z) { bytes += (double) z.buffer.getNumChannels() * z.buffer.getNumSamples() * sizeof (float); };
    for (const auto& set : p.zoneSets)
        for (int i = 0; i < set.numZones; ++i)
            add (set.zones[i]);
    add (p.droneLow);
    add (p.droneHigh);
    return bytes / 1.0e6;
}

// The straightforward decode, for comparison: every file read into a temporary buffer of all its
// channels, then averaged into the zone.
void loadViaTemporary (SampleZone& zone, const void* data, int size, int root)
{
    juce::WavAudioFormat format;
    std::unique_ptr<juce::AudioFormatReader> reader (
        format.createReaderFor (new juce::MemoryInputStream (data, (size_t) size, false), true));
    if (reader == nullptr || reader->lengthInSamples <= 0)
        return;
    const auto frames = (int) reader->lengthInSamples;
    const auto channels = (int) reader->numChannels;
    juce::AudioBuffer<float> temp (channels, frames);
    reader->read (&temp, 0, frames, 0, true, true);
    zone.buffer.setSize (1, frames);
    zone.buffer.clear();
    for (int c = 0; c < channels; ++c)
        zone.buffer.addFrom (0, 0, temp, c, 0, frames, 1.0f / (float) channels);
    zone.sampleRate = reader->sampleRate;
    zone.rootNote = root;
    zone.loaded = true;
}

// Decodes all 89 embedded recordings into fresh zones with `load`; milliseconds.
template <typename Load>
double decodeAll (Load load)
{
    std::vector<SampleZone> zones (89);
    size_t next = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (int r = 0; r < BinaryData::namedResourceListSize; ++r)
    {
        if (! juce::String (BinaryData::originalFilenames[r]).endsWith (".wav"))
            continue;
        int size = 0;
        const auto* data = BinaryData::getNamedResource (BinaryData::namedResourceList[r], size);
        load (zones[next++], data, size, 60);
    }
    return std::chrono::duration<double, std::milli> (std::chrono::steady_clock::now() - t0).count();
}

double median (std::vector<double> v)
{
    std::sort (v.begin(), v.end());
    return 0.5 * (v[(v.size() - 1) / 2] + v[v.size() / 2]);
}
} // namespace

int main()
{
    juce::ScopedJuceInitialiser_GUI juce;
    using Clock = std::chrono::steady_clock;

    std::make_unique<KestruneProcessor>().reset(); // one-time set-up (fonts, singletons) outside the figures

    std::vector<double> constructMs, loadMs;
    for (int i = 0; i < 10; ++i)
    {
        const auto t0 = Clock::now();
        auto p = std::make_unique<KestruneProcessor>();
        const auto t1 = Clock::now();
        p->loadAllSamples(); // the bank alone, into zones that already have their shape
        const auto t2 = Clock::now();
        constructMs.push_back (std::chrono::duration<double, std::milli> (t1 - t0).count());
        loadMs.push_back (std::chrono::duration<double, std::milli> (t2 - t1).count());
    }

    std::vector<double> direct, viaTemporary;
    for (int i = 0; i < 10; ++i)
    {
        direct.push_back (decodeAll (loadSample));
        viaTemporary.push_back (decodeAll (loadViaTemporary));
    }

    const auto before = residentMB();
    auto instance = std::make_unique<KestruneProcessor>();
    const auto added = residentMB() - before;
    const auto decoded = decodedMB (*instance);

    std::printf ("construct one processor (median of 10): %.1f ms  (goal <= 60 ms)\n", median (constructMs));
    std::printf ("reload the bank into existing zones (median of 10): %.1f ms\n", median (loadMs));
    std::printf ("decode all 89 recordings into fresh zones (median of 10): loadSample %.1f ms, "
                 "via a temporary buffer %.1f ms\n", median (direct), median (viaTemporary));
    std::printf ("decoded float data: %.1f MB\n", decoded);
    std::printf ("resident memory added by one instance: %.1f MB = %.1f %% above the decoded data  (goal <= 10 %%)\n",
                 added, 100.0 * (added / decoded - 1.0));
    return 0;
}
