// LoadModel against a raw read_model and compile_model of the same bytes on
// the CPU, and one rebuild on the MULTI path against the raw steps it takes.
#ifndef TESSARINE_BENCH_LOAD_BENCH_H
#define TESSARINE_BENCH_LOAD_BENCH_H

#include <cstdint>
#include <string>

#include "results.h"
#include "timing.h"

struct LoadCase {
    std::string model;
    Plan plan;
};

struct RebuildCase {
    std::string model;
    uint32_t sizes[2];  // square images; the calls alternate between them
    bool map_output;
    uint64_t map_channels;
    Plan plan;
};

void RunLoadCase(const std::string& model_dir, const LoadCase& c, Results& results);
void RunRebuildCase(const std::string& model_dir, const RebuildCase& c, Results& results);

#endif
