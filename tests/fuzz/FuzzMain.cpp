// kestrune_fuzz state|midi [--seconds S] [--blocks N] [--seed X] [--replay FILE]
// Runs one fuzzer for a time (or a number of blocks), prints its figures and exits 1 on a finding.
// When the process dies inside a block (a sanitizer report) or a block runs for more than ten
// seconds, the input of that block is written to kestrune-fuzz-<mode>-input.bin for --replay.
#include "Fuzz.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <thread>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_UNDEFINED__)
 #define KESTRUNE_FUZZ_DEATH_CALLBACK 1
#elif defined(__has_feature)
 #if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer)
  #define KESTRUNE_FUZZ_DEATH_CALLBACK 1
 #endif
#endif
#if KESTRUNE_FUZZ_DEATH_CALLBACK
 #include <sanitizer/common_interface_defs.h>
#endif

namespace fuzz
{
namespace
{
std::atomic<const void*> currentData { nullptr };
std::atomic<size_t> currentSize { 0 };
std::atomic<std::int64_t> blockStartMs { 0 };
std::atomic<std::int64_t> blocksDone { 0 };
char dumpPath[256] = "kestrune-fuzz-input.bin";

std::int64_t steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds> (std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Only plain C calls: this also runs from a sanitizer's death report.
void dumpCurrentInput()
{
    const auto* data = currentData.load();
    const auto size = currentSize.load();
    std::fprintf (stderr, "fuzz: died in block %lld\n", (long long) blocksDone.load());
    if (data == nullptr)
        return;
    if (auto* f = std::fopen (dumpPath, "wb"))
    {
        std::fwrite (data, 1, size, f);
        std::fclose (f);
        std::fprintf (stderr, "fuzz: its input (%zu bytes) is in %s\n", size, dumpPath);
    }
}

void watchdog()
{
    for (;;)
    {
        std::this_thread::sleep_for (std::chrono::milliseconds (100));
        const auto start = blockStartMs.load();
        if (start != 0 && steadyMs() - start > 10000)
        {
            std::fprintf (stderr, "fuzz: a block has run for more than 10 s (hang)\n");
            dumpCurrentInput();
            std::_Exit (3);
        }
    }
}
} // namespace

void setCurrentInput (const void* data, size_t size) noexcept
{
    currentSize = size;
    currentData = data;
}

void blockStarted() noexcept { blockStartMs = steadyMs(); }

void blockFinished() noexcept
{
    blockStartMs = 0;
    ++blocksDone;
}

void reportProgress (const char* fuzzer, std::int64_t inputs, double seconds) noexcept
{
    static double next = 60.0;
    if (seconds < next)
        return;
    next = seconds + 60.0;
    std::fprintf (stderr, "fuzz %s: %lld inputs through every door after %.0f s (%.0f a second)\n", fuzzer, (long long) inputs, seconds,
                  (double) inputs / seconds);
}

double threadCpuMs() noexcept
{
    timespec ts {};
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &ts);
    return (double) ts.tv_sec * 1000.0 + (double) ts.tv_nsec * 1.0e-6;
}
} // namespace fuzz

int main (int argc, char** argv)
{
    if (argc < 2 || (std::strcmp (argv[1], "state") != 0 && std::strcmp (argv[1], "midi") != 0))
    {
        std::fprintf (stderr, "usage: kestrune_fuzz state|midi [--seconds S] [--blocks N] [--seed X] [--replay FILE]\n");
        return 2;
    }
    const bool state = std::strcmp (argv[1], "state") == 0;

    fuzz::Options options;
    for (int i = 2; i + 1 < argc; i += 2)
    {
        const char* flag = argv[i];
        const char* value = argv[i + 1];
        if (std::strcmp (flag, "--seconds") == 0)     options.seconds = std::atof (value);
        else if (std::strcmp (flag, "--blocks") == 0) options.blocks = std::atoll (value);
        else if (std::strcmp (flag, "--seed") == 0)   options.seed = std::strtoull (value, nullptr, 0);
        else if (std::strcmp (flag, "--replay") == 0) options.replay = value;
        else
        {
            std::fprintf (stderr, "kestrune_fuzz: unknown option %s\n", flag);
            return 2;
        }
    }

    std::snprintf (fuzz::dumpPath, sizeof (fuzz::dumpPath), "kestrune-fuzz-%s-input.bin", argv[1]);
   #if KESTRUNE_FUZZ_DEATH_CALLBACK
    __sanitizer_set_death_callback (fuzz::dumpCurrentInput);
   #endif
    std::thread (fuzz::watchdog).detach();

    juce::ScopedJuceInitialiser_GUI juce;
    fuzz::Figures figures;
    try
    {
        figures = state ? fuzz::runStateFuzzer (options) : fuzz::runMidiFuzzer (options);
    }
    catch (const std::exception& e)
    {
        std::fprintf (stderr, "kestrune_fuzz: %s\n", e.what());
        return 2;
    }

    std::printf ("fuzz %s: %lld blocks in %.1f s (%.0f blocks/s), slowest block %.2f ms CPU, seed %llu, %lld findings\n",
                 argv[1], (long long) figures.blocks, figures.seconds,
                 figures.seconds > 0.0 ? (double) figures.blocks / figures.seconds : 0.0,
                 figures.slowestBlockMs, (unsigned long long) options.seed, (long long) figures.findings);
    return figures.findings == 0 ? 0 : 1;
}
