// Long runs through the production library, as a host loads it: nothing may
// be left behind over many loads, rebuilds and calls, and an object on
// another thread, made, loaded and run while the soak's object runs, must
// compute what that object computed alone (objects share nothing).
//
// Memory is read as floors (the lowest reading over ten consecutive cycles,
// after the allocator has handed its free pages back, with one malloc arena):
// single readings wander by MiBs as the runtime's threads come and go, and
// with an arena per thread the floor steps up whenever a thread gets a new
// one. Floors after the first quarter of a run stay within 0.1 MiB here.
// - 200 load (or rebuild) cycles, resident floor at cycles 41-50 against
//   191-200 within 2 MiB: each load copies, reads and compiles wide_matmul's
//   1 MiB of weights, so keeping any of that per cycle grows by 150 MiB.
// - 10,000 calls, calls 2491-2500 against 9991-10000: the heap in use, where
//   every allocation of the module lands, within 64 KiB (under 9 bytes a
//   call); resident memory, where the runtime's own pools step up by about
//   1.4 MiB now and then, within 8 MiB.
// Every call must compute what the first call of its parity did (the values
// themselves are the other tests' concern). The sanitized build runs the same
// cycles for AddressSanitizer's sake only: its allocator makes the memory
// readings meaningless.
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <future>

#include "test_support.h"

namespace {

constexpr bool kSanitized = TESSARINE_SANITIZED;
[[maybe_unused]] const int one_malloc_arena = kSanitized ? 0 : mallopt(M_ARENA_MAX, 1);

// Each workload returns what call i computed, or nothing where the call did
// not do what it should; odd and even calls differ, in size where they can.
template <bool kDetect>
std::vector<float> Picture(IImageAIInference& object, int i) {
    const uint32_t width = 32 - 8 * (i % 2), height = 24 + 8 * (i % 2);
    std::vector<float> image = Image(width, height, i % 2);
    std::vector<float> out(kDetect ? 84 * image_ai::DetectionCells(width, height) : 2 * width * height);
    uint64_t count, dim2, dim1;
    const bool ok = kDetect ? object.DoInference(width, height, image.data(), out.data(), &count, &dim2, &dim1)
                            : object.DoInference(width, height, image.data(), Descriptor(2).data(), width, height,
                                                 out.data());
    return ok ? out : std::vector<float>{};
}

// Odd calls write into the host's buffers, even ones into the runtime's, for
// which the module takes a fresh request.
std::vector<float> Tensors(IImageAIInference& object, int i) {
    float a[4] = {1, -2, 3.5f, float(i % 2)}, b[4] = {4, 5, -6, 8}, host[8] = {};
    std::vector<TensorData> outputs = {Record("sum", {1, i % 2 ? 4 : -1}, i % 2 ? host : nullptr),
                                       Record("difference", {1, i % 2 ? 4 : -1}, i % 2 ? host + 4 : nullptr)};
    if (!object.DoInference({Record("a", {1, 4}, a), Record("b", {1, 4}, b)}, outputs)) return {};
    std::vector<float> got;
    for (const TensorData& r : outputs) got.insert(got.end(), (float*)r.data, (float*)r.data + 4);
    return got;
}

// Rejections take other paths: before anything is bound, an unknown type code
// thrown by the module, a shape the runtime refuses.
std::vector<float> Rejected(IImageAIInference& object, int i) {
    float a[4] = {};
    std::vector<TensorData> outputs = {Record("sum", {1, 4}, a), Record("difference", {1, 4}, a)};
    const std::vector<TensorData> calls[] = {{Record("a", {1, 4}, a), Record("b", {1, 4}, nullptr)},
                                             {Record("a", {1, 4}, a), Record("b", {1, 4}, a, 12)},
                                             {Record("a", {1, 2}, a), Record("b", {1, 4}, a)}};
    StdoutCapture quiet;  // a console line per call
    if (object.DoInference(calls[i % 3], outputs) || object.GetLastErrorMessage().empty()) return {};
    return {1};
}

// y = x through 1 MiB of weights: proves a load really compiled.
std::vector<float> Wide(IImageAIInference& object, int i) {
    std::vector<float> x = Image(512, 1, i % 2, 1), y(512);
    std::vector<TensorData> outputs = {Record("y", {1, 512}, y.data())};
    return object.DoInference({Record("x", {1, 512}, x.data())}, outputs) ? y : std::vector<float>{};
}

struct SoakCase {
    const char *name, *model;
    std::vector<float> (*run)(IImageAIInference&, int);
    int cycles;
    bool loads, on_multi;  // a load in every cycle, else one; MULTI on the NPU double: every new size rebuilds
};
void PrintTo(const SoakCase& c, std::ostream* os) { *os << c.name; }

// Lowers a floor of resident and heap KiB to what is held now.
void Lower(long (&floor)[2]) {
    malloc_trim(0);  // so that what is measured is memory something still holds
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    floor[0] = std::min(floor[0], resident * sysconf(_SC_PAGESIZE) / 1024);
    floor[1] = std::min(floor[1], long(mallinfo2().uordblks / 1024));
}

ObjectPtr Loaded(ObjectPtr object, const std::vector<char>& model, int32_t device = -1) {
    if (!object->LoadModel(model.data(), model.size(), device, 3)) ADD_FAILURE() << object->GetLastErrorMessage();
    return object;
}

class Soak : public testing::TestWithParam<SoakCase> {};

TEST_P(Soak, LeavesNothingBehind) {
    const SoakCase& c = GetParam();
    const std::vector<char> model = ReadModel(c.model), copy = model;
    ObjectPtr object = c.on_multi ? NewObject() : NewHostObject();
    if (c.on_multi) AsTessarine(object).core = CoreWithNpuDouble();
    if (!c.loads) object = Loaded(std::move(object), model, c.on_multi ? -2 : -1);
    long settled[2] = {LONG_MAX, LONG_MAX}, end[2] = {LONG_MAX, LONG_MAX};
    std::vector<float> first[2];
    std::future<int> other;  // the first call of another object, at once on a thread of its own, that differs
    for (int i = 1; i <= c.cycles && !HasFailure(); ++i) {
        // Every third cycle on a new object (its core, plugins and threads go
        // too); odd cycles load over a loaded model, from another address.
        if (c.loads) object = Loaded(i % 3 ? std::move(object) : NewHostObject(), i % 2 ? copy : model);
        const std::vector<float> got = c.run(*object, i);
        if (i <= 2) first[i % 2] = got;
        EXPECT_TRUE(!got.empty() && got == first[i % 2]) << "call " << i << ": " << object->GetLastErrorMessage();
        if (i == 2 && c.cycles == 10000 && c.run != Rejected)  // whose captures of the console would interleave
            other = std::async(std::launch::async, [&] {
                ObjectPtr another = Loaded(NewHostObject(), model);
                for (int k = 1; k <= 100; ++k)
                    if (c.run(*another, k) != first[k % 2]) return k;
                return 0;
            });
        if (c.loads && i % 2) object->ReleaseModel();
        if (!kSanitized && i > c.cycles / 4 - 10 && i <= c.cycles / 4) Lower(settled);
        if (!kSanitized && i > c.cycles - 10) Lower(end);
    }
    if (other.valid()) EXPECT_EQ(other.get(), 0) << "another object, on another thread at once, computes otherwise";
    if (kSanitized) return;
    EXPECT_LE(end[0] - settled[0], c.cycles == 200 ? 2048 : 8192) << "resident KiB";
    if (c.cycles != 200) EXPECT_LE(end[1] - settled[1], 64) << "heap KiB";
}

const SoakCase kSoaks[] = {
    {"LoadRunRelease", "wide_matmul", Wide, 200, true, false},
    {"RebuildOnMulti", "dynamic_conv", Picture<false>, 200, false, true},
    {"Map", "dynamic_conv", Picture<false>, 10000, false, false},
    {"Detect", "detect_head", Picture<true>, 10000, false, false},
    {"Tensors", "two_inputs", Tensors, 10000, false, false},
    {"RejectedCalls", "two_inputs", Rejected, 10000, false, false}};
INSTANTIATE_TEST_SUITE_P(Cycles, Soak, testing::ValuesIn(kSoaks),
                         [](const testing::TestParamInfo<SoakCase>& info) { return std::string(info.param.name); });

}  // namespace
