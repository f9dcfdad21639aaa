// The isolated module against the module, side by side in one process, on
// the same models and the same host buffers: what a call adds (the copies
// and the round trip to the worker), what a load adds (starting the worker
// and the runtime in it), and the memory each object takes with eight
// objects of the default detector.
#include <dirent.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "isolated_rows.h"

namespace {

constexpr double kIsolatedTinyBudgetUs = 30.0, kIsolatedDetectionBudget = 1.05, kIsolatedLoadBudgetMs = 50.0;

const image_ai::ModuleLibrary& IsolatedLibrary() {
    static const image_ai::ModuleLibrary library(TESSARINE_ISOLATED_MODULE_FILE);
    return library;
}

image_ai::ObjectPtr LoadedIsolated(const std::vector<char>& bytes) {
    image_ai::ObjectPtr object = IsolatedLibrary().NewObject();
    Check(object->LoadModel(bytes.data(), bytes.size(), -1, kPrecisionCode), *object);
    return object;
}

// Proportional set size in KiB: shared pages (the runtime's libraries, in
// every worker) counted once across the processes that share them.
double PssKiB(const std::string& pid) {
    std::ifstream rollup("/proc/" + pid + "/smaps_rollup");
    for (std::string line; std::getline(rollup, line);)
        if (line.rfind("Pss:", 0) == 0) return std::stod(line.substr(4));
    return 0;
}

double ChildrenPssKiB() {
    double total = 0;
    const std::string self = std::to_string(getpid());
    std::ifstream children("/proc/" + self + "/task/" + self + "/children");
    for (std::string pid; children >> pid;) total += PssKiB(pid);
    return total;
}

}  // namespace

void IsolatedInferenceRows(const Model& m, bool tiny, Bench& bench) {
    const std::vector<char> bytes = bench.Bytes(m);
    image_ai::ObjectPtr module = Loaded(bytes), isolated = LoadedIsolated(bytes);
    HostBuffers b(m.map, m.side, *module);
    const std::vector<Variant> in_process = Variants(*module, b), worker = Variants(*isolated, b);
    std::fprintf(stderr, "isolated inference: %s\n", m.name);
    for (int f = 0; f < 2; ++f) LargestDifference(worker[f].call, b);  // throws unless it computes the same
    const Samples s = TimeInterleaved({in_process[0], in_process[1], worker[0], worker[1]},
                                      bench.Scaled(tiny ? kTinyPlan : kDetectionPlan));
    for (size_t f = 0; f < 2; ++f) {
        const double ratio = PerRoundMedian(s[2 + f], s[f], std::divides<>()),
                     excess = PerRoundMedian(s[2 + f], s[f], std::minus<>());
        const std::string target =
            tiny ? Format("≤ +%g µs: %s", kIsolatedTinyBudgetUs, Verdict(excess <= kIsolatedTinyBudgetUs))
                 : Format("≤ %g: %s", kIsolatedDetectionBudget, Verdict(ratio <= kIsolatedDetectionBudget));
        bench.report << Format("| %s %ux%u | %s | %.1f | %.1f | %+.1f | %.3f | %s |\n", m.name, m.side, m.side,
                               in_process[f].name, Median(s[2 + f]), Median(s[f]), excess, ratio, target.c_str());
    }
}

// A new object's first load: for the isolated module that starts the worker
// and the runtime in it, the module makes its core.
void IsolatedLoadRow(const Model& m, Bench& bench) {
    const std::vector<char> bytes = bench.Bytes(m);
    const Call module_load = [&] { Loaded(bytes); };
    const Call isolated_load = [&] { LoadedIsolated(bytes); };
    std::fprintf(stderr, "isolated load: %s\n", m.name);
    const Samples s = TimeInterleaved({{"module", module_load}, {"isolated", isolated_load}}, bench.Scaled(kLoadPlan));
    const double excess = PerRoundMedian(s[1], s[0], std::minus<>()) / 1000;
    bench.report << Format("| %s | %.1f | %.1f | %+.1f | ≤ +%g ms: %s |\n", m.name, Median(s[1]) / 1000,
                           Median(s[0]) / 1000, excess, kIsolatedLoadBudgetMs,
                           Verdict(excess <= kIsolatedLoadBudgetMs));
}

void IsolatedMemoryRow(const std::string& model_path, Bench& bench) {
    std::ifstream file(model_path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    constexpr int kObjects = 8;
    double per_object[2];
    for (int isolated = 0; isolated < 2; ++isolated) {
        const double before = PssKiB("self") + ChildrenPssKiB();
        std::vector<image_ai::ObjectPtr> objects;
        for (int i = 0; i < kObjects; ++i) objects.push_back(isolated ? LoadedIsolated(bytes) : Loaded(bytes));
        per_object[isolated] = (PssKiB("self") + ChildrenPssKiB() - before) / kObjects / 1024;
    }
    bench.report << Format("| default detector, %d objects | %.1f | %.1f |\n", kObjects, per_object[1],
                           per_object[0]);
}
