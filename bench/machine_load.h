// How much of the machine other processes took while the benchmark ran: on a
// shared machine this says whether the numbers can be trusted.
#ifndef TESSARINE_BENCH_MACHINE_LOAD_H
#define TESSARINE_BENCH_MACHINE_LOAD_H

#include <functional>

struct CpuSnapshot {
    double busy_ticks;   // every CPU, every process
    double total_ticks;  // busy and idle
    double own_ticks;    // this process, all its threads
};

CpuSnapshot TakeCpuSnapshot();

// Share of all CPU time between the two snapshots that went to other processes.
double OthersShare(const CpuSnapshot& start, const CpuSnapshot& end);

// Above this share of the CPU time taken by others, a measurement is
// disturbed: the runtimes use every core, and anything else that runs slows
// one of their threads and so the whole inference.
inline constexpr double kBusyShare = 0.05;

// Runs a measurement, and once more if other processes took more than
// kBusyShare of the CPU time during it; returns the share of the last attempt.
double RunUndisturbed(const char* what, const std::function<void()>& run);

// Minor page faults of this process so far: fresh pages the kernel had to
// map, which a load pays for when the allocator hands out new memory.
long MinorFaults();

// Pins glibc's mmap and trim thresholds at the value its dynamic rule tops out
// at. Left dynamic, the threshold depends on which block sizes the process
// freed before, so whether a load's large blocks come as fresh, faulting
// pages or as reused heap memory depends on the history of the run, and
// the module and the raw load took turns paying thousands of faults a load.
void SteadyAllocator();

#endif
