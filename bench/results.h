// Everything the benchmark measured, as flat "section.model.what" keys, for
// write_report.py to turn into the table. Values are numbers or short texts.
#ifndef TESSARINE_BENCH_RESULTS_H
#define TESSARINE_BENCH_RESULTS_H

#include <map>
#include <string>
#include <vector>

#include "timing.h"

class Results {
public:
    void Add(const std::string& key, double value);
    void Add(const std::string& key, const std::string& text);
    // key.min_us and key.median_us of per-call samples.
    void AddTimes(const std::string& key, const std::vector<double>& samples);
    // AddTimes, and key.ratio and key.excess_us against the baseline's
    // samples of the same rounds.
    void AddTimes(const std::string& key, const std::vector<double>& samples, const std::vector<double>& baseline);
    void WriteJson(const std::string& path) const;

private:
    std::map<std::string, std::string> values_;  // already written as JSON values
};

#endif
