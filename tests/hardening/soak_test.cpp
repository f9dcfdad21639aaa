// Long runs through the production library, as a host loads it: nothing may
// be left behind over many loads, rebuilds and calls, and an object on
// another thread, made, loaded and run while the soak's object runs, must
// compute what that object computed alone (objects share nothing). The
// isolated module runs the same soaks (but on MULTI): its host side, which
// copies every tensor and maps memory per object, may keep nothing either.
//
// Memory is read as floors (the lowest reading over ten consecutive cycles,
// after the allocator has handed its free pages back, with one malloc arena):
// single readings wander by MiBs as the runtime's threads come and go, and
// with an arena per thread the floor steps up whenever a thread gets a new
// one. Floors after the first quarter of a run stay within 0.1 MiB on two
// cores. The runtime keeps memory per inference thread (scratch buffers,
// thread stacks), so the resident bounds grow with the threads it reports
// for this machine; the bounds below are per thread.
// - 200 load (or rebuild) cycles, resident floor at cycles 41-50 against
//   191-200 within 1 MiB: each load copies, reads and compiles wide_matmul's
//   1 MiB of weights, so keeping any of that per cycle grows by 150 MiB.
// - 10,000 calls, calls 2491-2500 against 9991-10000: the heap in use, where
//   every allocation of the module lands, within 64 KiB (under 9 bytes a
//   call) on any machine; resident memory, where the runtime's own pools step
//   up by about 1.4 MiB now and then on two cores, within 4 MiB.
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

[[maybe_unused]] const int one_malloc_arena = TESSARINE_SANITIZED ? 0 : mallopt(M_ARENA_MAX, 1);

// Each workload returns what call i computed, or nothing where the call did
// not do what it should; odd and even calls differ, in size where they can.
template <bool kDetect>
std::vector<float> Picture(IImageAIInference& object, int i) {
    const uint32_t w = 32 - 8 * (i % 2), h = 24 + 8 * (i % 2);
    std::vector<float> image = Image(w, h, i % 2), out(kDetect ? 84 * image_ai::DetectionCells(w, h) : 2 * w * h);
    uint64_t count, dim2, dim1;
    const bool ok = kDetect ? object.DoInference(w, h, image.data(), out.data(), &count, &dim2, &dim1)
                            : object.DoInference(w, h, image.data(), Descriptor(2).data(), w, h, out.data());
    return ok ? out : std::vector<float>{};
}

// y = x through wide_matmul's 1 MiB of weights, which proves a load really
// compiled: odd calls into the host's buffer, even ones into the runtime's
// (for which the module takes a fresh request). Then a call the module must
// refuse, by turns before anything is bound, for an unknown type code it
// throws, and for a shape the runtime refuses.
std::vector<float> Tensors(IImageAIInference& object, int i) {
    std::vector<float> x = Image(512, 1, i % 2, 1), host(512);
    std::vector<TensorData> outputs = {Record("y", {1, i % 2 ? 512 : -1}, i % 2 ? host.data() : nullptr)};
    if (!object.DoInference({Record("x", {1, 512}, x.data())}, outputs)) return {};
    const std::vector<float> y((float*)outputs[0].data, (float*)outputs[0].data + 512);
    const std::vector<TensorData> bad[] = {{Record("x", {1, 512}, nullptr)}, {Record("x", {1, 512}, x.data(), 12)},
                                           {Record("x", {1, 2}, x.data())}};
    StdoutCapture quiet;  // a console line for each
    return object.DoInference(bad[i % 3], outputs) || object.GetLastErrorMessage().empty() ? std::vector<float>{} : y;
}

struct SoakCase {
    const char* model;
    std::vector<float> (*run)(IImageAIInference&, int);
    // A load in every cycle, else one; MULTI on the NPU double, where every new size rebuilds.
    bool loads = false, on_multi = false;
    const char* library = TESSARINE_MODULE_FILE;  // or the isolated module's, whose workers must leave nothing either
};

// Lowers a floor of resident and heap KiB to what is held now.
void Lower(long (&floor)[2]) {
    malloc_trim(0);  // so that what is measured is memory something still holds
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    floor[0] = std::min(floor[0], resident * sysconf(_SC_PAGESIZE) / 1024);
    floor[1] = std::min(floor[1], long(mallinfo2().uordblks / 1024));
}

class Soak : public testing::TestWithParam<SoakCase> {};

TEST_P(Soak, LeavesNothingBehind) {
    const SoakCase& c = GetParam();
    const std::vector<char> model = ReadModel(c.model), copy = model;
    long floors[2][2] = {{LONG_MAX, LONG_MAX}, {LONG_MAX, LONG_MAX}};  // after the first quarter, at the end
    // Cycles of a new object; what its first odd and even calls computed.
    const auto soak = [&](int cycles, bool measure) {
        ObjectPtr object = c.on_multi ? NewObject() : NewHostObject(c.library);
        if (c.on_multi) AsTessarine(object).core = CoreWithNpuDouble();
        std::vector<std::vector<float>> first(2);
        for (int i = 1; i <= cycles && !HasFailure(); ++i) {
            // Every third cycle on a new object (its core, plugins and threads
            // go too); odd cycles load over a loaded model, from another address.
            if (c.loads && i % 3 == 0) object = NewHostObject(c.library);
            // A failed load shows in the call; -2 is MULTI.
            if (c.loads || i == 1) object->LoadModel((i % 2 ? copy : model).data(), model.size(), -1 - c.on_multi, 3);
            const std::vector<float> got = c.run(*object, i);
            if (i <= 2) first[i % 2] = got;
            EXPECT_TRUE(!got.empty()) << "call " << i << ": " << object->GetLastErrorMessage();
            EXPECT_TRUE(got == first[i % 2]) << "call " << i << ": " << object->GetLastErrorMessage();
            if (c.loads && i % 2) object->ReleaseModel();
            if (measure && (i > cycles - 10 || (i > cycles / 4 - 10 && i <= cycles / 4))) Lower(floors[i > cycles / 2]);
        }
        return first;
    };
    // Another object at once, on a thread of its own, done long before the
    // soak's memory settles (not for the tensors form, whose captures of the
    // console would interleave).
    const int cycles = c.loads || c.on_multi ? 200 : 10000;
    std::future<std::vector<std::vector<float>>> other;
    if (cycles > 200 && c.run != Tensors) other = std::async(std::launch::async, soak, 100, false);
    const std::vector<std::vector<float>> first = soak(cycles, !TESSARINE_SANITIZED);
    if (other.valid()) EXPECT_TRUE(other.get() == first) << "another object, on a thread at once, computes otherwise";
    ov::Core core;
    const long threads = core.compile_model(core.read_model(std::string(model.begin(), model.end()), ov::Tensor()), "CPU")
                             .get_property(ov::inference_num_threads);
    EXPECT_LE(floors[1][0] - floors[0][0], (cycles == 200 ? 1024 : 4096) * std::max(threads, 2L)) << "resident KiB";
    if (cycles != 200) EXPECT_LE(floors[1][1] - floors[0][1], 64) << "heap KiB";
}

// Loads and releases, rebuilds on MULTI, then 10,000 calls of each form (the tensors form's with rejections).
// The same through the isolated module, but for MULTI, which its worker cannot be given the NPU double for.
const SoakCase kSoaks[] = {{"wide_matmul", Tensors, true}, {"dynamic_conv", Picture<false>, false, true},
                           {"dynamic_conv", Picture<false>}, {"detect_head", Picture<true>}, {"wide_matmul", Tensors},
#if defined(TESSARINE_ISOLATED_MODULE_FILE)
                           {"wide_matmul", Tensors, true, false, TESSARINE_ISOLATED_MODULE_FILE},
                           {"detect_head", Picture<true>, false, false, TESSARINE_ISOLATED_MODULE_FILE},
                           {"wide_matmul", Tensors, false, false, TESSARINE_ISOLATED_MODULE_FILE},
#endif
};
INSTANTIATE_TEST_SUITE_P(Cycles, Soak, testing::ValuesIn(kSoaks));

}  // namespace
