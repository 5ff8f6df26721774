#pragma once

// The process's own memory figures for the benchmarks' counters (Linux; -1
// and no effect elsewhere).

#include <fstream>
#include <string>

namespace zelvar::bench {

// A field of /proc/self/status in kB ("VmRSS:", "VmHWM:").
inline long statusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = -1;
    while (status >> key) {
        if (key == field) {
            status >> value;
            return value;
        }
        status.ignore(256, '\n');
    }
    return -1;
}

// Restarts the peak-resident-memory mark so that it covers what follows.
inline void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

} // namespace zelvar::bench
