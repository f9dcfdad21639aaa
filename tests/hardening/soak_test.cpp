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
// The sanitized build runs the same cycles for AddressSanitizer's sake only:
// its allocator makes these readings meaningless.
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <future>
#include <thread>

#include "host.h"

namespace {

[[maybe_unused]] const int one_malloc_arena = kSanitized ? 0 : mallopt(M_ARENA_MAX, 1);

// What a run computed (empty: the call failed) and what it should have.
using Result = std::pair<std::vector<float>, std::vector<float>>;

Result Map(IImageAIInference& object, int i) {
    const uint32_t width = 32 - 8 * (i % 2), height = 24 + 8 * (i % 2);  // a new size each call
    std::vector<float> image = Image(width, height, i % 2), map(2 * width * height, NAN);
    if (!object.DoInference(width, height, image.data(), Descriptor(2).data(), width, height, map.data())) map.clear();
    return {map, DynamicConvMap(image)};
}

Result Detect(IImageAIInference& object, int i) {
    const uint32_t width = 40 + 8 * (i % 2), height = 24;
    std::vector<float> image = Image(width, height, i % 2);
    std::vector<float> head(image_ai::kDetectionRows * image_ai::DetectionCells(width, height), NAN);
    uint64_t count = 0, dim2 = 0, dim1 = 0;
    if (!object.DoInference(width, height, image.data(), head.data(), &count, &dim2, &dim1) || count != head.size())
        head.clear();
    return {head, DetectHead(image, width, height)};
}

Result Tensors(IImageAIInference& object, int i) {
    float a[4] = {1, -2, 3.5f, float(i % 2)}, b[4] = {4, 5, -6, 8};
    std::vector<float> got(8, NAN), want(8);
    for (int k = 0; k < 4; ++k) want[k] = a[k] + b[k], want[4 + k] = a[k] - b[k];
    std::vector<TensorData> outputs = {Record("sum", {1, 4}, got.data()), Record("difference", {1, 4}, &got[4])};
    if (!object.DoInference({Record("a", {1, 4}, a), Record("b", {1, 4}, b)}, outputs)) got.clear();
    return {got, want};
}

// The output's length follows the input's, so the runtime reallocates it.
Result RuntimeOutputs(IImageAIInference& object, int i) {
    const int64_t length = 5 + 2 * (i % 2);
    std::vector<float> values(length), want(length);
    for (int64_t k = 0; k < length; ++k) values[k] = 1.5f * k - i % 2, want[k] = 2 * values[k];
    std::vector<TensorData> outputs = {Record("doubled", {1, -1}, nullptr)};
    if (!object.DoInference({Record("values", {1, length}, values.data())}, outputs) ||
        outputs[0].dims != std::vector<int64_t>{1, length} || outputs[0].size != uint64_t(length))
        return {{}, want};
    const auto* doubled = static_cast<const float*>(outputs[0].data);
    return {{doubled, doubled + length}, want};
}

// y = x through 1 MiB of weights: proves a load really compiled.
Result Wide(IImageAIInference& object, int i) {
    std::vector<float> x(512), y(512, NAN);
    for (size_t k = 0; k < x.size(); ++k) x[k] = float((k * 7 + i % 2) % 29) - 14.5f;
    std::vector<TensorData> outputs = {Record("y", {1, 512}, y.data())};
    if (!object.DoInference({Record("x", {1, 512}, x.data())}, outputs)) y.clear();
    return {y, x};
}

// Failures take other paths: a rejection before anything is bound, an
// unknown type code thrown by the module, a shape the runtime refuses.
Result Rejected(IImageAIInference& object, int i) {
    float a[4] = {}, b[4] = {}, out[8] = {};
    const std::vector<TensorData> calls[] = {{Record("a", {1, 4}, a), Record("b", {1, 4}, nullptr)},
                                             {Record("a", {1, 4}, a), Record("b", {1, 4}, b, 12)},
                                             {Record("a", {1, 2}, a), Record("b", {1, 4}, b)}};
    std::vector<TensorData> outputs = {Record("sum", {1, 4}, out), Record("difference", {1, 4}, out + 4)};
    StdoutCapture quiet;  // a console line per call
    const bool ran = object.DoInference(calls[i % 3], outputs);
    return {{float(ran), float(object.GetLastErrorMessage().empty())}, {0, 0}};
}

enum Kind { kInferences, kLoadRunRelease, kNewObjects, kReloads, kRebuildsOnMulti };

struct SoakCase {
    const char* name;
    Kind kind;
    const char* model;
    Result (*run)(IImageAIInference&, int);
};

void PrintTo(const SoakCase& c, std::ostream* os) { *os << c.name; }

struct Floors {
    long resident_kib = LONG_MAX, heap_kib = LONG_MAX;
    void Lower() {
        resident_kib = std::min(resident_kib, ResidentKiB());
        heap_kib = std::min(heap_kib, long(mallinfo2().uordblks / 1024));
    }
};

class Soak : public testing::TestWithParam<SoakCase> {};

TEST_P(Soak, LeavesNothingBehind) {
    const SoakCase& c = GetParam();
    const std::vector<char> model = ReadModel(c.model), copy = model;
    ObjectPtr object = c.kind == kRebuildsOnMulti ? NewObject() : NewHostObject();
    if (c.kind == kRebuildsOnMulti) AsTessarine(object).core = CoreWithNpuDouble();  // every new size rebuilds
    const int32_t device = c.kind == kRebuildsOnMulti ? -2 : -1;
    const auto load = [&](const std::vector<char>& bytes) {
        ASSERT_TRUE(object->LoadModel(bytes.data(), bytes.size(), device, 3)) << object->GetLastErrorMessage();
    };
    if (c.kind == kInferences || c.kind == kRebuildsOnMulti) load(model);
    const int count = c.kind == kInferences ? 10000 : 200, settled = count / 4;
    Floors at_settled, at_end;
    for (int i = 1; i <= count && !HasFatalFailure(); ++i) {
        if (c.kind == kNewObjects) object = NewHostObject();  // its core, plugins and threads go too
        if (c.kind == kLoadRunRelease || c.kind == kNewObjects) load(model);
        if (c.kind == kReloads) load(i % 2 ? copy : model);  // over a loaded model, from another address
        const auto [got, want] = c.run(*object, i);
        ASSERT_EQ(got.size(), want.size()) << "call " << i << " failed: " << object->GetLastErrorMessage();
        for (size_t k = 0; k < got.size(); ++k) ASSERT_NEAR(got[k], want[k], 1e-4f) << "call " << i << ", at " << k;
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

const SoakCase kSoaks[] = {
    {"LoadRunRelease", kLoadRunRelease, "wide_matmul", Wide},
    {"ObjectMadeLoadedDestroyed", kNewObjects, "wide_matmul", Wide},
    {"ReloadFromAnotherAddress", kReloads, "wide_matmul", Wide},
    {"RebuildOnMulti", kRebuildsOnMulti, "dynamic_conv", Map},
    {"Map", kInferences, "dynamic_conv", Map},
    {"Detect", kInferences, "detect_head", Detect},
    {"TensorsIntoHostBuffers", kInferences, "two_inputs", Tensors},
    {"TensorsIntoRuntimeOutputs", kInferences, "ragged_output", RuntimeOutputs},
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
            threads.push_back({&c, variant, c.run(*object, variant).first});
            ASSERT_FALSE(threads.back().alone.empty()) << c.name << " fails even alone";
        }
    std::promise<void> go, all_loaded;
    const std::shared_future<void> started = go.get_future().share(), loaded = all_loaded.get_future().share();
    std::atomic<size_t> loads{0};
    std::vector<std::thread> running;
    for (Thread& t : threads)
        running.emplace_back([&, t = &t] {
            const std::vector<char> model = ReadModel(t->workload->model);
            started.wait();
            ObjectPtr object = NewHostObject();
            if (!object->LoadModel(model.data(), model.size(), -1, 3)) t->failure = object->GetLastErrorMessage();
            if (++loads == threads.size()) all_loaded.set_value();
            loaded.wait();
            for (int run = 0; run < 100 && t->failure.empty(); ++run)
                if (t->workload->run(*object, t->variant).first != t->alone)
                    t->failure = "run " + std::to_string(run) + " differs: " + object->GetLastErrorMessage();
        });
    go.set_value();
    for (std::thread& thread : running) thread.join();
    for (const Thread& t : threads) EXPECT_EQ(t.failure, "") << t.workload->name << ", variant " << t.variant;
}

}  // namespace
