// Long runs through the production library, as a host loads it: nothing may
// be left behind over many loads, rebuilds and inferences, and objects on
// several threads at once must compute what each computes alone.
//
// Memory is read as floors (the lowest reading over ten consecutive cycles,
// after the allocator has handed its free pages back, with one malloc arena):
// single readings wander by MiBs as the runtime's threads come and go, and
// with an arena per thread the floor steps up whenever a thread gets a new
// one. Floors after the first quarter of a run stay within 0.1 MiB here.
// - 200 load (or rebuild) cycles, resident floor at cycles 41-50 against
//   191-200 within 2 MiB: each load copies, reads and compiles wide_matmul's
//   1 MiB of weights, so keeping any of that per cycle grows by 150 MiB.
// - 10,000 inferences, calls 2491-2500 against 9991-10000: the heap in use,
//   where every allocation of the module lands, within 64 KiB (under 9 bytes
//   a call); resident memory, where the runtime's own pools step up by about
//   1.4 MiB now and then, within 8 MiB.
// Every call must compute what the first call of its kind did (the values
// themselves are the other tests' concern). The sanitized build runs the same
// cycles for AddressSanitizer's sake only: its allocator makes the memory
// readings meaningless.
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <fstream>
#include <thread>

#include "test_support.h"

namespace {

constexpr bool kSanitized = TESSARINE_SANITIZED;
[[maybe_unused]] const int one_malloc_arena = kSanitized ? 0 : mallopt(M_ARENA_MAX, 1);

// Each workload returns what the call computed, or nothing where the call did
// not do what it should; odd and even calls differ.
std::vector<float> Map(IImageAIInference& object, int i) {
    const uint32_t width = 32 - 8 * (i % 2), height = 24 + 8 * (i % 2);  // a new size each call
    std::vector<float> image = Image(width, height, i % 2), map(2 * width * height);
    if (!object.DoInference(width, height, image.data(), Descriptor(2).data(), width, height, map.data())) map.clear();
    return map;
}

// Odd calls write into the host's buffers, even ones into the runtime's, for
// which the module takes a fresh request.
std::vector<float> Tensors(IImageAIInference& object, int i) {
    float a[4] = {1, -2, 3.5f, float(i % 2)}, b[4] = {4, 5, -6, 8}, host[8];
    const std::vector<int64_t> dims = {1, i % 2 ? 4 : -1};
    std::vector<TensorData> outputs = {Record("sum", dims, i % 2 ? host : nullptr),
                                       Record("difference", dims, i % 2 ? host + 4 : nullptr)};
    if (!object.DoInference({Record("a", {1, 4}, a), Record("b", {1, 4}, b)}, outputs)) return {};
    std::vector<float> got(static_cast<float*>(outputs[0].data), static_cast<float*>(outputs[0].data) + 4);
    got.insert(got.end(), static_cast<float*>(outputs[1].data), static_cast<float*>(outputs[1].data) + 4);
    return got;
}

// y = x through 1 MiB of weights: proves a load really compiled.
std::vector<float> Wide(IImageAIInference& object, int i) {
    std::vector<float> x(512), y(512);
    for (size_t k = 0; k < x.size(); ++k) x[k] = float((k * 7 + i % 2) % 29) - 14.5f;
    std::vector<TensorData> outputs = {Record("y", {1, 512}, y.data())};
    if (!object.DoInference({Record("x", {1, 512}, x.data())}, outputs)) y.clear();
    return y;
}

// Failures take other paths: a rejection before anything is bound, an
// unknown type code thrown by the module, a shape the runtime refuses.
std::vector<float> Rejected(IImageAIInference& object, int i) {
    float a[4] = {}, out[8] = {};
    const std::vector<TensorData> calls[] = {{Record("a", {1, 4}, a), Record("b", {1, 4}, nullptr)},
                                             {Record("a", {1, 4}, a), Record("b", {1, 4}, a, 12)},
                                             {Record("a", {1, 2}, a), Record("b", {1, 4}, a)}};
    std::vector<TensorData> outputs = {Record("sum", {1, 4}, out), Record("difference", {1, 4}, out + 4)};
    StdoutCapture quiet;  // a console line per call
    if (object.DoInference(calls[i % 3], outputs) || object.GetLastErrorMessage().empty()) return {};
    return {1};
}

enum Kind { kInferences, kLoadRunRelease, kNewObjects, kReloads, kRebuildsOnMulti };
struct SoakCase {
    const char* name;
    Kind kind;
    const char* model;
    std::vector<float> (*run)(IImageAIInference&, int);
};
void PrintTo(const SoakCase& c, std::ostream* os) { *os << c.name; }

struct Floors {
    long resident_kib = LONG_MAX, heap_kib = LONG_MAX;
    void Lower() {
        malloc_trim(0);  // so that what is measured is memory something still holds
        long pages = 0, resident_pages = 0;
        std::ifstream("/proc/self/statm") >> pages >> resident_pages;
        resident_kib = std::min(resident_kib, resident_pages * sysconf(_SC_PAGESIZE) / 1024);
        heap_kib = std::min(heap_kib, long(mallinfo2().uordblks / 1024));
    }
};

class Soak : public testing::TestWithParam<SoakCase> {};

TEST_P(Soak, LeavesNothingBehind) {
    const SoakCase& c = GetParam();
    const std::vector<char> model = ReadModel(c.model), copy = model;
    ObjectPtr object = c.kind == kRebuildsOnMulti ? NewObject() : NewHostObject();
    if (c.kind == kRebuildsOnMulti) AsTessarine(object).core = CoreWithNpuDouble();  // every new size rebuilds
    const auto load = [&](const std::vector<char>& bytes) {
        const int32_t device = c.kind == kRebuildsOnMulti ? -2 : -1;
        ASSERT_TRUE(object->LoadModel(bytes.data(), bytes.size(), device, 3)) << object->GetLastErrorMessage();
    };
    if (c.kind == kInferences || c.kind == kRebuildsOnMulti) load(model);
    const int count = c.kind == kInferences ? 10000 : 200, settled = count / 4;
    Floors at_settled, at_end;
    std::vector<float> first[2];
    for (int i = 1; i <= count && !HasFatalFailure(); ++i) {
        if (c.kind == kNewObjects) object = NewHostObject();  // its core, plugins and threads go too
        if (c.kind == kLoadRunRelease || c.kind == kNewObjects) load(model);
        if (c.kind == kReloads) load(i % 2 ? copy : model);  // over a loaded model, from another address
        const std::vector<float> got = c.run(*object, i);
        if (i <= 2) first[i % 2] = got;
        ASSERT_TRUE(!got.empty() && got == first[i % 2]) << "call " << i << ": " << object->GetLastErrorMessage();
        if (c.kind == kLoadRunRelease) object->ReleaseModel();
        if (!kSanitized && i > settled - 10 && i <= settled) at_settled.Lower();
        if (!kSanitized && i > count - 10) at_end.Lower();
    }
    if (kSanitized) return;
    EXPECT_LE(at_end.resident_kib - at_settled.resident_kib, count == 200 ? 2048 : 8192)
        << "resident floor " << at_settled.resident_kib << " KiB at " << settled << ", then " << at_end.resident_kib;
    if (count != 200)
        EXPECT_LE(at_end.heap_kib - at_settled.heap_kib, 64)
            << "heap floor " << at_settled.heap_kib << " KiB at " << settled << ", then " << at_end.heap_kib;
}

// One soak per way memory could be kept: the load, the release, the object,
// the load over a loaded model, the rebuild, and each path of an inference.
const SoakCase kSoaks[] = {
    {"LoadRunRelease", kLoadRunRelease, "wide_matmul", Wide},
    {"ObjectMadeLoadedDestroyed", kNewObjects, "wide_matmul", Wide},
    {"ReloadFromAnotherAddress", kReloads, "wide_matmul", Wide},
    {"RebuildOnMulti", kRebuildsOnMulti, "dynamic_conv", Map},
    {"Map", kInferences, "dynamic_conv", Map},
    {"TensorsIntoHostAndRuntimeBuffers", kInferences, "two_inputs", Tensors},
    {"RejectedCalls", kInferences, "two_inputs", Rejected},
};
INSTANTIATE_TEST_SUITE_P(Cycles, Soak, testing::ValuesIn(kSoaks),
                         [](const testing::TestParamInfo<SoakCase>& info) { return std::string(info.param.name); });

// Two objects per inference workload, one per thread, load at once and then
// run at once a hundred times; every run must equal, bit for bit, the same
// run of an object alone: objects share nothing.
TEST(ObjectsOnePerThread, LoadAndRunAtOnceAsEachDoesAlone) {
    struct Thread {
        const SoakCase* workload;
        int variant;
        std::vector<float> alone;
        std::string failure;  // written by its own thread only
    };
    std::vector<Thread> threads;
    for (const SoakCase& c : kSoaks)
        for (int variant = 0; c.kind == kInferences && c.run != Rejected && variant < 2; ++variant) {
            const std::vector<char> model = ReadModel(c.model);
            ObjectPtr object = NewHostObject();
            ASSERT_TRUE(object->LoadModel(model.data(), model.size(), -1, 3)) << object->GetLastErrorMessage();
            threads.push_back({&c, variant, c.run(*object, variant)});
            ASSERT_FALSE(threads.back().alone.empty()) << c.name << " fails even alone";
        }
    std::atomic<size_t> arrived{0};
    const auto wait_for_all = [&](size_t round) {
        for (++arrived; arrived < round * threads.size();) std::this_thread::yield();
    };
    std::vector<std::thread> running;
    for (Thread& t : threads)
        running.emplace_back([&, t = &t] {
            const std::vector<char> model = ReadModel(t->workload->model);
            wait_for_all(1);
            ObjectPtr object = NewHostObject();
            if (!object->LoadModel(model.data(), model.size(), -1, 3)) t->failure = object->GetLastErrorMessage();
            wait_for_all(2);
            for (int run = 0; run < 100 && t->failure.empty(); ++run)
                if (t->workload->run(*object, t->variant) != t->alone)
                    t->failure = "run " + std::to_string(run) + " differs: " + object->GetLastErrorMessage();
        });
    for (std::thread& thread : running) thread.join();
    for (const Thread& t : threads) EXPECT_EQ(t.failure, "") << t.workload->name << ", variant " << t.variant;
}

}  // namespace
