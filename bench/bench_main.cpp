// The benchmark program: the module against the raw OpenVINO runtime in one
// process, with the same compiled models and thread settings. Writes what it
// measured as JSON; write_report.py turns that into the table.
//
// Usage: tessarine_bench MODEL_DIR OUTPUT.json [--quick] [--only=SECTION]
// MODEL_DIR holds the models make_bench_models.py writes; --quick takes a
// quarter of the rounds, for trying the program out, not for numbers;
// --only= with some of inference, load, rebuild and memory, separated by
// commas, runs those parts only, for looking into them
// (the report needs them all).
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include <openvino/core/version.hpp>

#include "inference_bench.h"
#include "load_bench.h"
#include "machine_load.h"
#include "memory_bench.h"
#include "results.h"

namespace {

Plan Scaled(Plan plan, bool quick) {
    if (quick) plan.rounds = plan.rounds / 4 > 2 ? plan.rounds / 4 : 2;
    return plan;
}

struct Options {
    bool quick = false;
    std::string only;  // sections, separated by commas; empty: all
    bool Runs(const char* section) const { return only.empty() || only.find(section) != std::string::npos; }
};

void RunAll(const std::string& models, const Options& options, Results& results) {
    const bool quick = options.quick;
    const Plan tiny{200, 60, 100};
    const Plan detection{3, 40, 1};
    if (options.Runs("inference"))
        for (const InferenceCase& c : {InferenceCase{"tiny_map", 32, 32, true, 2, Scaled(tiny, quick)},
                                       InferenceCase{"tiny_head", 64, 64, false, 0, Scaled(tiny, quick)},
                                       InferenceCase{"dense_map", 640, 640, true, 2, Scaled(detection, quick)},
                                       InferenceCase{"detector", 640, 640, false, 0, Scaled(detection, quick)}})
            RunInferenceCase(models, c, results);
    if (options.Runs("load")) {
        RunLoadCase(models, {"tiny_map", Scaled({1, 60, 1}, quick)}, results);
        RunLoadCase(models, {"detector", Scaled({1, 40, 1}, quick)}, results);
    }
    if (options.Runs("rebuild")) {
        RunRebuildCase(models, {"tiny_map", {32, 48}, true, 2, Scaled({1, 30, 1}, quick)}, results);
        RunRebuildCase(models, {"dense_map", {640, 608}, true, 2, Scaled({1, 12, 1}, quick)}, results);
    }
    if (options.Runs("memory"))
        for (const MemoryCase& c : {MemoryCase{"tiny_map", 32, 320, true, 2}, MemoryCase{"tiny_head", 64, 640, false, 0}}) {
            RunHeapCase(models, c, results);
            RunResidentCase(models, c, results);
        }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s MODEL_DIR OUTPUT.json [--quick] [--only=SECTION]\n", argv[0]);
        return 2;
    }
    SteadyAllocator();
    Options options;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) options.quick = true;
        if (std::strncmp(argv[i], "--only=", 7) == 0) options.only = argv[i] + 7;
    }
    try {
        Results results;
        results.Add("openvino_version", ov::get_openvino_version().buildNumber);
        results.Add("quick", options.quick ? 1.0 : 0.0);
        const CpuSnapshot start = TakeCpuSnapshot();
        RunAll(argv[1], options, results);
        results.Add("others_cpu_share", OthersShare(start, TakeCpuSnapshot()));
        results.WriteJson(argv[2]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tessarine_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
