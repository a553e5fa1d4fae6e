// bench/measure.h: how the benchmark programs time their work and report it.
// Wall time is what the user waits for; the process's own CPU time is a
// cross-check that other load on a shared machine barely disturbs.
#pragma once
#include <windows.h>
#include <psapi.h>

#include <cstdio>

// The wall clock and the process's CPU time at one moment.
struct Moment {
    LARGE_INTEGER wall;
    ULONGLONG cpu;  // user and kernel time, in 100-nanosecond units
};

// Reads both clocks now.
inline Moment Now() {
    Moment now;
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    now.cpu = ((static_cast<ULONGLONG>(kernel.dwHighDateTime) << 32) | kernel.dwLowDateTime) +
              ((static_cast<ULONGLONG>(user.dwHighDateTime) << 32) | user.dwLowDateTime);
    QueryPerformanceCounter(&now.wall);
    return now;
}

// Prints "<wallSeconds> <cpuSeconds> <peakWorkingSetKiB>" for the work done
// between two moments, without ending the line.
inline void PrintMeasure(const Moment &start, const Moment &end) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    double wall = static_cast<double>(end.wall.QuadPart - start.wall.QuadPart) /
                  static_cast<double>(frequency.QuadPart);
    double cpu = static_cast<double>(end.cpu - start.cpu) / 1e7;
    PROCESS_MEMORY_COUNTERS counters;
    counters.cb = sizeof counters;
    unsigned long peak = 0;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        peak = static_cast<unsigned long>(counters.PeakWorkingSetSize / 1024);
    std::printf("%.6f %.6f %lu", wall, cpu, peak);
}
