// Constructs 16 plug-in instances in one process, as a session with 16 tracks does, and prints the
// resident memory they add against one decoded bank, and the time each construction takes (the
// first apart from the rest), in CPU time of the constructing thread, which a busy machine disturbs
// far less than wall time. Then, with every instance gone, two threads construct one instance
// each at the same moment, several rounds: prints whether they got one bank and how long each took.
// Usage: kestrune_instances_bench [instances] [rounds]
#include "core/PluginProcessor.h"
#include "Measure.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
double residentMB()
{
    std::ifstream statm ("/proc/self/statm");
    long pages = 0, residentPages = 0;
    statm >> pages >> residentPages;
    return (double) residentPages * (double) sysconf (_SC_PAGESIZE) / 1.0e6;
}

double decodedMB (const SampleBank& bank)
{
    double bytes = 0.0;
    auto add = [&] (const SampleZone& z) { bytes += (double) z.buffer.getNumChannels() * z.buffer.getNumSamples() * sizeof (float); };
    for (const auto& set : bank.zoneSets)
        for (int i = 0; i < set.numZones; ++i)
            add (set.zones[i]);
    add (bank.droneLow);
    add (bank.droneHigh);
    return bytes / 1.0e6;
}

double median (std::vector<double> v)
{
    std::sort (v.begin(), v.end());
    return 0.5 * (v[(v.size() - 1) / 2] + v[v.size() / 2]);
}
} // namespace

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    const auto count = juce::jmax (2, argc > 1 ? std::atoi (argv[1]) : 16);
    const auto rounds = juce::jmax (1, argc > 2 ? std::atoi (argv[2]) : 5);

    std::vector<std::unique_ptr<KestruneProcessor>> instances;
    std::vector<double> ms;
    const auto before = residentMB();
    // Resident pages mapped from files: the module's own, the embedded recordings among them.
    const auto fileBefore = bench::statusMB ("RssFile:");
    double afterFirst = before;
    for (int i = 0; i < count; ++i)
    {
        const auto start = bench::threadMs();
        instances.push_back (std::make_unique<KestruneProcessor>());
        ms.push_back (bench::threadMs() - start);
        if (i == 0)
            afterFirst = residentMB();
    }
    const auto added = residentMB() - before;
    const auto fileAdded = bench::statusMB ("RssFile:") - fileBefore;
    const auto bankMB = decodedMB (instances.front()->getSampleBank());

    // What decoding one bank costs on this machine now, for scale: a private bank, freed again
    // (after the memory is measured, which it would disturb).
    double decodeMs = 0.0;
    {
        const auto start = bench::threadMs();
        auto own = std::make_unique<SampleBank>();
        loadEmbeddedBank (*own);
        decodeMs = bench::threadMs() - start;
    }


    int distinctBanks = 0;
    for (size_t i = 0; i < instances.size(); ++i)
    {
        const auto* bank = &instances[i]->getSampleBank();
        if (std::none_of (instances.begin(), instances.begin() + (long) i,
                          [bank] (const auto& p) { return &p->getSampleBank() == bank; }))
            ++distinctBanks;
    }

    const std::vector<double> later (ms.begin() + 1, ms.end());
    std::printf ("%d instances in one process\n", count);
    std::printf ("  resident memory added: %.1f MB = %.2f x one decoded bank (%.1f MB)  (goal <= 1.2 x)\n",
                 added, added / bankMB, bankMB);
    std::printf ("  of which pages of the module's file: %.1f MB\n", fileAdded);
    std::printf ("  the first added %.1f MB, each later one %.2f MB\n", afterFirst - before, (before + added - afterFirst) / (count - 1));
    std::printf ("  distinct banks: %d\n", distinctBanks);
    std::printf ("  construction CPU: first %.1f ms (goal <= 30) = %.2f x decoding one bank here (%.1f ms);\n"
                 "                    later median %.2f ms (goal <= 2), later max %.2f ms\n",
                 ms.front(), ms.front() / decodeMs, decodeMs, median (later), *std::max_element (later.begin(), later.end()));
    instances.clear();

    // Two threads released together, each constructing one instance while no other exists.
    int sharedRounds = 0;
    std::vector<double> pairMs;
    for (int r = 0; r < rounds; ++r)
    {
        std::atomic<int> ready { 0 };
        std::atomic<bool> go { false };
        std::unique_ptr<KestruneProcessor> made[2];
        double took[2] = {};
        auto construct = [&] (int t) {
            ++ready;
            while (! go.load())
                std::this_thread::yield();
            const auto start = bench::threadMs();
            made[t] = std::make_unique<KestruneProcessor>();
            took[t] = bench::threadMs() - start;
        };
        std::thread a (construct, 0), b (construct, 1);
        while (ready.load() < 2)
            std::this_thread::yield();
        go = true;
        a.join();
        b.join();
        sharedRounds += &made[0]->getSampleBank() == &made[1]->getSampleBank() ? 1 : 0;
        pairMs.push_back (took[0]);
        pairMs.push_back (took[1]);
    }
    std::printf ("two threads constructing at once, %d rounds: one bank in %d, construction median %.1f ms, max %.1f ms\n",
                 rounds, sharedRounds, median (pairMs), *std::max_element (pairMs.begin(), pairMs.end()));
    return 0;
}
