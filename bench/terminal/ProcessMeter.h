// What the terminal benchmarks measure of their own process: a monotonic clock, CPU time and
// resident memory. The device is played by a forked child, so these are the window's alone.
// Under an X display (QT_QPA_PLATFORM=xcb) they also measure the X server's CPU time, since
// drawing costs the display server too; the server is found by its lock file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <string>
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

// The X server behind $DISPLAY, or 0 when there is none (offscreen runs).
inline long XServerPid()
{
    const char* display = std::getenv("DISPLAY");
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (display == nullptr || display[0] != ':' || platform == nullptr ||
        std::string(platform) != "xcb")
        return 0;
    long pid = 0;
    const std::string lock = "/tmp/.X" + std::to_string(std::atoi(display + 1)) + "-lock";
    if (FILE* f = std::fopen(lock.c_str(), "r"))
    {
        if (std::fscanf(f, "%ld", &pid) != 1)
            pid = 0;
        std::fclose(f);
    }
    return pid;
}

// CPU time of all threads of process `pid`, in seconds, to the nanosecond (schedstat).
inline double ProcessCpuSeconds(long pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    double seconds = 0;
    if (DIR* dir = opendir(tasks.c_str()))
    {
        while (const dirent* entry = readdir(dir))
        {
            if (entry->d_name[0] == '.')
                continue;
            unsigned long long ns = 0;
            if (FILE* f = std::fopen((tasks + "/" + entry->d_name + "/schedstat").c_str(), "r"))
            {
                if (std::fscanf(f, "%llu", &ns) == 1)
                    seconds += ns / 1e9;
                std::fclose(f);
            }
        }
        closedir(dir);
    }
    return seconds;
}

// Peak resident memory of this process (VmHWM), in bytes.
inline std::int64_t PeakResidentBytes()
{
    long kib = 0;
    if (FILE* f = std::fopen("/proc/self/status", "r"))
    {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1)
                break;
        std::fclose(f);
    }
    return std::int64_t(kib) * 1024;
}
