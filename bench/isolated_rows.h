// The isolated module's rows of the report (isolated_rows.cpp), over the
// bench's own models and plans (bench_main.cpp).
#ifndef TESSARINE_BENCH_ISOLATED_ROWS_H
#define TESSARINE_BENCH_ISOLATED_ROWS_H

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "harness.h"
#include "host_calls.h"

// Image input [1, 3, side, side]; output a map [1, 2, side, side] or a
// detection head. The tiny ones are the test models, the others the bench's own.
struct Model {
    const char* folder;  // in the build tree
    const char* name;
    uint32_t side;
    bool map;
};

struct Bench {
    std::string build;
    bool quick;
    std::ofstream report;
    int threads = 0;

    Plan Scaled(Plan plan) const {
        if (quick) plan.rounds = std::max(2, plan.rounds / 4);
        return plan;
    }
    std::vector<char> Bytes(const Model& m) const {
        std::ifstream file(build + "/" + m.folder + "/" + m.name + ".onnx", std::ios::binary);
        if (!file) throw std::runtime_error(std::string("cannot read the model ") + m.name);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }
};

inline const Plan kTinyPlan{200, 60, 100}, kDetectionPlan{3, 40, 1}, kLoadPlan{1, 40, 1};

template <class... Args>
std::string Format(const char* format, Args... args) {
    char text[512];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

inline const char* Verdict(bool met) { return met ? "met" : "**missed**"; }

void IsolatedInferenceRows(const Model& m, bool tiny, Bench& bench);
void IsolatedLoadRow(const Model& m, Bench& bench);
void IsolatedMemoryRow(const std::string& model_path, Bench& bench);

#endif
