#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Shared by the two fuzzers and their driver.
namespace fuzz
{
struct Options
{
    double seconds = 10.0;          // stop after this long...
    std::int64_t blocks = 0;        // ...or once every door has taken this many inputs, when not 0
    std::uint64_t seed = 1;
    std::string replay;             // a file holding one input to run instead of fuzzing
};

struct Figures
{
    std::int64_t blocks = 0;
    double seconds = 0.0;
    double slowestBlockMs = 0.0;    // thread CPU time of the slowest block
    std::int64_t findings = 0;
};

// The input being run, for the crash and hang reports: the driver writes it to a file when the
// process dies or a block runs far too long.
void setCurrentInput (const void* data, size_t size) noexcept;
void blockStarted() noexcept;
void blockFinished() noexcept;

// A line on stderr once a minute with the inputs taken so far, for runs of hours.
void reportProgress (const char* fuzzer, std::int64_t inputs, double seconds) noexcept;

// CPU time this thread has used, in milliseconds: a loaded machine does not make a block look slow.
double threadCpuMs() noexcept;

// A small, fast generator (SplitMix64): the same seed gives the same run.
struct Rng
{
    std::uint64_t state;
    std::uint64_t next() noexcept
    {
        auto z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    int below (int n) noexcept { return n <= 0 ? 0 : (int) (next() % (std::uint64_t) n); }
    int between (int lo, int hi) noexcept { return lo + below (hi - lo + 1); }
    bool chance (int percent) noexcept { return below (100) < percent; }
    double unit() noexcept { return (double) (next() >> 11) * (1.0 / 9007199254740992.0); }
};

Figures runStateFuzzer (const Options&);
Figures runMidiFuzzer (const Options&);
} // namespace fuzz
