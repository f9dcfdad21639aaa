#include "timing.h"

#include <algorithm>
#include <chrono>

namespace {

double TimeRound(const Variant& variant, int calls) {
    const double start = NowMicroseconds();
    for (int i = 0; i < calls; ++i) variant.call();
    return (NowMicroseconds() - start) / calls;
}

template <class Combine>
double PairedMedian(const std::vector<double>& a, const std::vector<double>& baseline, Combine combine) {
    std::vector<double> paired;
    for (size_t i = 0; i < a.size() && i < baseline.size(); ++i) paired.push_back(combine(a[i], baseline[i]));
    return Median(paired);
}

}  // namespace

double NowMicroseconds() {
    using namespace std::chrono;
    return duration<double, std::micro>(steady_clock::now().time_since_epoch()).count();
}

Samples TimeInterleaved(const std::vector<Variant>& variants, const Plan& plan) {
    const size_t n = variants.size();
    for (const Variant& variant : variants)
        for (int i = 0; i < plan.warmup_calls; ++i) variant.call();
    Samples samples(n);
    for (int round = 0; round < plan.rounds; ++round)
        for (size_t k = 0; k < n; ++k) {
            const size_t v = (k + static_cast<size_t>(round)) % n;
            samples[v].push_back(TimeRound(variants[v], plan.calls_per_round));
        }
    return samples;
}

double Minimum(const std::vector<double>& samples) { return *std::min_element(samples.begin(), samples.end()); }

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

double PairedRatio(const std::vector<double>& a, const std::vector<double>& baseline) {
    return PairedMedian(a, baseline, [](double x, double y) { return x / y; });
}

double PairedDifference(const std::vector<double>& a, const std::vector<double>& baseline) {
    return PairedMedian(a, baseline, [](double x, double y) { return x - y; });
}
