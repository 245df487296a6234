// What the terminal benchmarks measure of their own process: a monotonic clock, CPU time and
// resident memory. The device is played by a forked child, so these are the window's alone.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <unistd.h>

inline std::int64_t NowNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// User and system CPU time of this process, in seconds.
inline double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline std::int64_t ResidentBytes()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r"))
    {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return std::int64_t(resident) * sysconf(_SC_PAGESIZE);
}
