// Each DoInference form against the raw runtime: the same compiled model (a
// second request made from the module's), the same host buffers.
#ifndef TESSARINE_BENCH_INFERENCE_BENCH_H
#define TESSARINE_BENCH_INFERENCE_BENCH_H

#include <cstdint>
#include <string>

#include "results.h"
#include "timing.h"

struct InferenceCase {
    std::string model;  // file stem in the model folder, and the key in the results
    uint32_t width;
    uint32_t height;
    bool map_output;        // image -> map (form 0); otherwise a detection head (form 1)
    uint64_t map_channels;  // of the map
    Plan plan;
};

void RunInferenceCase(const std::string& model_dir, const InferenceCase& c, Results& results);

#endif
