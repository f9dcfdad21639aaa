#ifndef TESSARINE_RUN_TIMING_H
#define TESSARINE_RUN_TIMING_H

#include <functional>

struct Latency {
    int runs = 0;
    double min_ms = 0;
    double median_ms = 0;
};

// Runs `run` the given number of times, timing each call; on runs longer than
// a few seconds in all, a progress line goes to standard error now and then.
Latency TimeRuns(int repeat, const std::function<void()>& run);

void PrintLatency(const Latency& latency);

#endif
