// Prints the time to decode the whole sample bank (median of 10) and the resident (anonymous) memory
// one bank adds, compared with the float data its zones hold.
#include "samplebank/Bank.h"
#include "samplebank/RecordingData.h"
#include "samplebank/WavDecoder.h"
#include "Measure.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace
{
double decodedMB (const SampleBank& p)
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

// Decodes every embedded recording into fresh zones with `load`; milliseconds.
template <typename Load>
double decodeAll (Load load)
{
    std::vector<SampleZone> zones (std::size (recordingData));
    const auto t0 = std::chrono::steady_clock::now();
    for (size_t i = 0; i < zones.size(); ++i)
        load (zones[i], recordingData[i].data, recordingData[i].size, 60);
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
    using Clock = std::chrono::steady_clock;

    std::vector<double> loadMs;
    for (int i = 0; i < 10; ++i)
    {
        auto bank = std::make_unique<SampleBank>();
        const auto t0 = Clock::now();
        loadEmbeddedBank (*bank);
        loadMs.push_back (std::chrono::duration<double, std::milli> (Clock::now() - t0).count());
    }

    std::vector<double> direct, viaTemporary;
    for (int i = 0; i < 10; ++i)
    {
        direct.push_back (decodeAll ([] (SampleZone& z, const void* d, int n, int root) { loadSample (z, d, n, root); }));
        viaTemporary.push_back (decodeAll (loadViaTemporary));
    }

    // Memory not mapped from files is what the decoded floats occupy: the pages of the embedded files
    // the decoder reads (and the loader hands back) are file-backed and left out.
    const auto before = bench::statusMB ("RssAnon:");
    auto bank = std::make_unique<SampleBank>();
    loadEmbeddedBank (*bank);
    const auto added = bench::statusMB ("RssAnon:") - before;
    const auto decoded = decodedMB (*bank);

    std::printf ("decode the embedded bank (median of 10): %.1f ms\n", median (loadMs));
    std::printf ("decode all %zu recordings into fresh zones (median of 10): loadSample %.1f ms, "
                 "via a temporary buffer %.1f ms\n", std::size (recordingData), median (direct), median (viaTemporary));
    std::printf ("decoded float data: %.1f MB\n", decoded);
    std::printf ("resident memory added by one bank: %.1f MB = %.1f %% above the decoded data  (goal <= 10 %%)\n",
                 added, 100.0 * (added / decoded - 1.0));
    return 0;
}
