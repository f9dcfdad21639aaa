// The harness: warm-up, rounds of repeated calls, minimum and median per call.
//
// Variants that are compared with each other run in the same rounds, one
// after the other and each round starting with the next one, so that a slow
// spell of a shared machine falls on all of them alike instead of on
// whichever happened to run then. Ratios and differences are taken round by
// round, between samples taken moments apart, and their median reported.
#ifndef TESSARINE_BENCH_TIMING_H
#define TESSARINE_BENCH_TIMING_H

#include <functional>
#include <string>
#include <vector>

struct Plan {
    int warmup_calls;     // per variant, before the first round
    int rounds;           // one sample per variant per round
    int calls_per_round;  // a sample is the mean of this many back-to-back calls
};

struct Variant {
    std::string name;
    std::function<void()> call;
};

// Microseconds per call: samples[variant][round].
using Samples = std::vector<std::vector<double>>;

Samples TimeInterleaved(const std::vector<Variant>& variants, const Plan& plan);

double Minimum(const std::vector<double>& samples);
double Median(std::vector<double> samples);
// Medians over the rounds of a / baseline and of a - baseline.
double PairedRatio(const std::vector<double>& a, const std::vector<double>& baseline);
double PairedDifference(const std::vector<double>& a, const std::vector<double>& baseline);

double NowMicroseconds();

#endif
