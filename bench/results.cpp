#include "results.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

void Results::Add(const std::string& key, double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", value);
    values_[key] = text;
}

void Results::Add(const std::string& key, const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += (c == '\n' || c == '\t') ? ' ' : c;
    }
    values_[key] = quoted + "\"";
}

void Results::AddTimes(const std::string& key, const std::vector<double>& samples) {
    Add(key + ".min_us", Minimum(samples));
    Add(key + ".median_us", Median(samples));
}

void Results::AddTimes(const std::string& key, const std::vector<double>& samples,
                       const std::vector<double>& baseline) {
    AddTimes(key, samples);
    Add(key + ".ratio", PairedRatio(samples, baseline));
    Add(key + ".excess_us", PairedDifference(samples, baseline));
}

void Results::WriteJson(const std::string& path) const {
    std::ofstream out(path);
    if (!out) throw std::runtime_error("cannot write " + path);
    out << "{\n";
    size_t left = values_.size();
    for (const auto& [key, value] : values_) out << "  \"" << key << "\": " << value << (--left ? ",\n" : "\n");
    out << "}\n";
}
