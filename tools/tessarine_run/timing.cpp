#include "timing.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <vector>

Latency TimeRuns(int repeat, const std::function<void()>& run) {
    if (repeat < 1) throw std::invalid_argument("--repeat must be at least 1");
    using Clock = std::chrono::steady_clock;
    std::vector<double> times;
    const Clock::time_point begin = Clock::now();
    Clock::time_point last_report = begin;
    for (int i = 0; i < repeat; ++i) {
        const Clock::time_point start = Clock::now();
        run();
        const Clock::time_point end = Clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        if (i + 1 < repeat && end - last_report >= std::chrono::seconds(2)) {
            std::fprintf(stderr, "  ... %d of %d runs done, %.1f s\n", i + 1, repeat,
                         std::chrono::duration<double>(end - begin).count());
            last_report = end;
        }
    }
    std::sort(times.begin(), times.end());
    const size_t n = times.size();
    const double median = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
    return Latency{static_cast<int>(n), times.front(), median};
}

void PrintLatency(const Latency& latency) {
    std::printf("latency over %d run%s: min %.2f ms, median %.2f ms\n", latency.runs, latency.runs == 1 ? "" : "s",
                latency.min_ms, latency.median_ms);
}
