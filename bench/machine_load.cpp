#include "machine_load.h"

#include <malloc.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

CpuSnapshot TakeCpuSnapshot() {
    CpuSnapshot snapshot{0, 0, 0};
    if (std::FILE* stat = std::fopen("/proc/stat", "r")) {
        double user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
        if (std::fscanf(stat, "cpu %lf %lf %lf %lf %lf %lf %lf %lf", &user, &nice, &system, &idle, &iowait, &irq,
                        &softirq, &steal) == 8) {
            snapshot.busy_ticks = user + nice + system + irq + softirq + steal;
            snapshot.total_ticks = snapshot.busy_ticks + idle + iowait;
        }
        std::fclose(stat);
    }
    if (std::FILE* self = std::fopen("/proc/self/stat", "r")) {
        char line[1024] = {};
        if (std::fgets(line, sizeof line, self)) {
            // The fields after the command name, which may hold spaces, start
            // after its closing parenthesis; utime and stime are the 12th and 13th.
            const char* rest = std::strrchr(line, ')');
            double utime = 0, stime = 0;
            if (rest && std::sscanf(rest + 2, "%*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %lf %lf", &utime,
                                    &stime) == 2)
                snapshot.own_ticks = utime + stime;
        }
        std::fclose(self);
    }
    return snapshot;
}

double OthersShare(const CpuSnapshot& start, const CpuSnapshot& end) {
    const double total = end.total_ticks - start.total_ticks;
    if (total <= 0) return 0;
    const double others = (end.busy_ticks - start.busy_ticks) - (end.own_ticks - start.own_ticks);
    return others > 0 ? others / total : 0;
}

double RunUndisturbed(const char* what, const std::function<void()>& run) {
    constexpr int kAttempts = 2;  // more would stretch a run on a busy machine past a few minutes
    double share = 0;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        const CpuSnapshot start = TakeCpuSnapshot();
        run();
        share = OthersShare(start, TakeCpuSnapshot());
        if (share <= kBusyShare) break;
        std::fprintf(stderr, "%s: other processes took %.0f%% of the CPU time%s\n", what, 100 * share,
                     attempt < kAttempts ? "; measuring again shortly" : "");
        // A build on a shared machine comes in bursts: give this one time to pass.
        if (attempt < kAttempts) std::this_thread::sleep_for(std::chrono::seconds(5));
    }
    return share;
}

long MinorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

void SteadyAllocator() {
    constexpr int kMaxDynamicMmapThreshold = 32 << 20;  // glibc's DEFAULT_MMAP_THRESHOLD_MAX on 64-bit
    mallopt(M_MMAP_THRESHOLD, kMaxDynamicMmapThreshold);
    mallopt(M_TRIM_THRESHOLD, 2 * kMaxDynamicMmapThreshold);  // what the dynamic rule sets beside it
}
