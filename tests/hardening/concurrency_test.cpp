// Several objects, one per thread, made, loaded and run at the same time on
// the CPU, must give the same results, bit for bit, as each gives alone: the
// objects share nothing, so neither the loads nor the runs of one may change
// what another computes.
#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "host.h"

namespace {

// Holds every thread until all have arrived, so that the loads, and then the
// runs, really overlap.
class Barrier {
public:
    explicit Barrier(size_t count) : count_(count) {}
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        const size_t generation = generation_;
        if (++arrived_ == count_) {
            arrived_ = 0;
            ++generation_;
            all_arrived_.notify_all();
            return;
        }
        all_arrived_.wait(lock, [&] { return generation != generation_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable all_arrived_;
    size_t count_;
    size_t arrived_ = 0;
    size_t generation_ = 0;
};

// One kind of work: the model it loads and one run, whose outputs it returns
// as raw bytes (empty when the run failed). `variant` changes the input, so
// that objects of the same kind compute different things.
struct Workload {
    const char* label;
    const char* model;
    std::function<std::vector<unsigned char>(IImageAIInference&, int variant)> run;
};

template <class T>
std::vector<unsigned char> Bytes(const T* data, size_t count) {
    const auto* begin = reinterpret_cast<const unsigned char*>(data);
    return {begin, begin + count * sizeof(T)};
}

std::vector<unsigned char> SingleImage(IImageAIInference& object, int variant) {
    const uint32_t width = 24 + variant, height = 16 + 2 * variant;
    std::vector<float> image = Image(width, height, static_cast<float>(variant));
    std::vector<float> map(2 * width * height);
    const auto desc = Descriptor(2);
    if (!object.DoInference(width, height, image.data(), desc.data(), width, height, map.data())) return {};
    return Bytes(map.data(), map.size());
}

std::vector<unsigned char> DetectionHead(IImageAIInference& object, int variant) {
    const uint32_t width = 40 + 8 * variant, height = 32;
    std::vector<float> image = Image(width, height, static_cast<float>(variant));
    std::vector<float> head(84 * ((width + 7) / 8 * 4 + (width + 15) / 16 * 2 + (width + 31) / 32));
    uint64_t count = 0, dim2 = 0, dim1 = 0;
    if (!object.DoInference(width, height, image.data(), head.data(), &count, &dim2, &dim1)) return {};
    if (count != head.size()) return {};
    return Bytes(head.data(), head.size());
}

std::vector<unsigned char> NamedCallerBuffers(IImageAIInference& object, int variant) {
    std::vector<float> x(512), y(512);
    for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>((i * 7 + variant) % 29) - 14.5f;
    std::vector<TensorData> outputs = {Record("y", {1, 512}, y.data())};
    if (!object.DoInference({Record("x", {1, 512}, x.data())}, outputs)) return {};
    return Bytes(y.data(), y.size());
}

std::vector<unsigned char> NamedRuntimeOutputs(IImageAIInference& object, int variant) {
    std::vector<float> values(3 + variant);
    for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<float>(i) * 1.5f - static_cast<float>(variant);
    std::vector<TensorData> outputs = {Record("doubled", {1, -1}, nullptr)};
    if (!object.DoInference({Record("values", {1, int64_t(values.size())}, values.data())}, outputs)) return {};
    return Bytes(static_cast<const float*>(outputs[0].data), outputs[0].size);
}

const Workload kWorkloads[] = {
    {"single image", "dynamic_conv", SingleImage},
    {"detection head", "detect_head", DetectionHead},
    {"named, caller buffers", "wide_matmul", NamedCallerBuffers},
    {"named, runtime outputs", "ragged_output", NamedRuntimeOutputs},
};

constexpr int kObjectsPerWorkload = 2;
constexpr int kRunsPerObject = 100;

struct Assignment {
    const Workload* workload;
    int variant;
    std::vector<unsigned char> alone;  // the result of one object running by itself
};

std::vector<unsigned char> RunAlone(const Workload& workload, int variant) {
    ObjectPtr object = NewHostObject();
    const std::vector<char> model = ReadModel(workload.model);
    if (!object->LoadModel(model.data(), model.size(), -1, 3)) return {};
    return workload.run(*object, variant);
}

TEST(ObjectsOnePerThread, LoadAndRunAtOnceAsEachDoesAlone) {
    std::vector<Assignment> assignments;
    for (const Workload& workload : kWorkloads)
        for (int variant = 0; variant < kObjectsPerWorkload; ++variant) {
            assignments.push_back({&workload, variant, RunAlone(workload, variant)});
            ASSERT_FALSE(assignments.back().alone.empty()) << workload.label << " fails even alone";
        }

    // Written by each thread into its own slot only; read after the joins.
    std::vector<std::string> failures(assignments.size());
    Barrier barrier(assignments.size());
    std::vector<std::thread> threads;
    for (size_t t = 0; t < assignments.size(); ++t)
        threads.emplace_back([&, t] {
            const Assignment& a = assignments[t];
            const std::vector<char> model = ReadModel(a.workload->model);
            barrier.Wait();
            ObjectPtr object = NewHostObject();
            const bool loaded = object->LoadModel(model.data(), model.size(), -1, 3);
            barrier.Wait();
            if (!loaded) {
                failures[t] = "load failed: " + object->GetLastErrorMessage();
                return;
            }
            for (int run = 0; run < kRunsPerObject && failures[t].empty(); ++run)
                if (a.workload->run(*object, a.variant) != a.alone)
                    failures[t] = "run " + std::to_string(run) + " differs from the run alone: " +
                                  object->GetLastErrorMessage();
        });
    for (std::thread& thread : threads) thread.join();
    for (size_t t = 0; t < assignments.size(); ++t)
        EXPECT_EQ(failures[t], "") << assignments[t].workload->label << ", variant " << assignments[t].variant;
}

}  // namespace
