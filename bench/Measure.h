#pragma once

// What the benchmarks measure with: the CPU time of the calling thread, which a busy machine disturbs
// far less than wall time, and the process's resident memory by kind.
#include <ctime>
#include <fstream>
#include <string>

namespace bench
{
inline double threadSeconds()
{
    timespec t {};
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
    return (double) t.tv_sec + (double) t.tv_nsec * 1.0e-9;
}

inline double threadMs() { return threadSeconds() * 1.0e3; }

// A kB field of /proc/self/status ("RssAnon:", "RssFile:") in MB; 0 where there is none.
inline double statusMB (const std::string& field)
{
    std::ifstream status ("/proc/self/status");
    std::string key;
    while (status >> key)
    {
        double kB = 0.0;
        if (key == field && status >> kB)
            return kB / 1.0e3;
        status.ignore (1 << 20, '\n');
    }
    return 0.0;
}
} // namespace bench
