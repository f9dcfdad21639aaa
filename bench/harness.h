// The timing harness and the allocation count.
//
// Variants compared with each other run in the same rounds, taking turns, each
// round starting with the next one, so that a slow spell of a shared machine
// falls on all of them alike. Ratios and differences are taken round by round,
// between samples moments apart, and their median is reported.
#ifndef TESSARINE_BENCH_HARNESS_H
#define TESSARINE_BENCH_HARNESS_H

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

struct Plan {
    int warmup_calls;     // per variant, before the first round
    int rounds;           // one sample per variant per round
    int calls_per_round;  // a sample is the mean of this many back-to-back calls
};

using Call = std::function<void()>;
struct Variant {
    const char* name;
    Call call;
};
using Samples = std::vector<std::vector<double>>;  // microseconds per call: [variant][round]

inline Samples TimeInterleaved(const std::vector<Variant>& variants, const Plan& plan) {
    using Clock = std::chrono::steady_clock;
    for (const Variant& variant : variants)
        for (int i = 0; i < plan.warmup_calls; ++i) variant.call();
    Samples samples(variants.size());
    for (size_t round = 0; round < static_cast<size_t>(plan.rounds); ++round)
        for (size_t k = 0; k < variants.size(); ++k) {
            const size_t v = (k + round) % variants.size();
            const Clock::time_point start = Clock::now();
            for (int i = 0; i < plan.calls_per_round; ++i) variants[v].call();
            const std::chrono::duration<double, std::micro> spent = Clock::now() - start;
            samples[v].push_back(spent.count() / plan.calls_per_round);
        }
    return samples;
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The median over the rounds of combine(a, baseline): std::divides, std::minus.
template <class Combine>
double PerRoundMedian(const std::vector<double>& a, const std::vector<double>& baseline, Combine combine) {
    std::vector<double> per_round;
    for (size_t i = 0; i < a.size(); ++i) per_round.push_back(combine(a[i], baseline[i]));
    return Median(per_round);
}

// Every global operator new on the calling thread per call of `call`
// (heap_count.cpp).
struct PerCall {
    double allocations, bytes;
};
PerCall CountPerCall(const Call& call);

#endif
