// Shared helpers of the tests, the fuzz targets and the conformance test:
// models, objects (of the production library as a host opens it, or of this
// binary's own module objects, whose fields a test may read and set), host
// records and buffers, console capture, trace recording and the plugin doubles.
#ifndef TESSARINE_TEST_SUPPORT_H
#define TESSARINE_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image_ai_host.h"
#include "module/diagnostics.h"
#include "module/tessarine.h"

std::vector<char> ReadFileBytes(const std::string& path);
std::vector<char> ReadModel(const std::string& name);  // from the models folder; "dynamic_conv" is .onnx

using ObjectPtr = image_ai::ObjectPtr;
// From a module library as a host opens it, once per path: the module's by
// default, or the isolated module's.
ObjectPtr NewHostObject(const char* library = TESSARINE_MODULE_FILE);
inline ObjectPtr NewObject() { return ObjectPtr(InitModule(), ReleaseModule); }  // of this binary's module
inline Tessarine& AsTessarine(const ObjectPtr& object) { return *static_cast<Tessarine*>(object.get()); }

inline TensorData Record(std::string name, std::vector<int64_t> dims, void* data, int32_t type = DATA_TYPE_FLOAT32) {
    return {std::move(name), type, std::move(dims), data};
}
// The map form's descriptor with every byte but the channel count noise,
// which would show as a wrong count.
inline image_ai::OutputDescriptor Descriptor(uint64_t channels) { return image_ai::DescriptorFor(channels, 0xA5); }
// A planar f32 image whose values differ across channels and neighbouring
// pixels, so a swapped channel or axis changes every result.
std::vector<float> Image(uint32_t width, uint32_t height, float offset = 0, uint32_t channels = 3);
// dynamic_conv's map: map0 = r + g + b, map1 = 2r - b + 0.5.
std::vector<float> DynamicConvMap(const std::vector<float>& image);
// detect_head's [1, 84, N]: row c of grid cell (y, x) at stride s is the
// pixel (y*s, x*s) weighted by (c+1)/100 * (k+1) * (1, -1, 1)[k], plus c/100.
std::vector<float> DetectHead(const std::vector<float>& image, uint32_t width, uint32_t height);

// What is written to standard output (descriptor 1) between construction and
// Text(); captures nest.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture() { Text(); }
    std::string Text();  // stops capturing on the first call

private:
    int saved_fd_ = -1, capture_fd_ = -1;  // saved_fd_ < 0 once stopped
    std::string text_;
};

// Every trace text handed over while alive; recorders nest.
class TraceRecorder {
public:
    TraceRecorder();
    ~TraceRecorder();
    std::vector<std::string> texts;

private:
    TraceRecorder* outer_;
};

// One call's result, last error, console output and trace texts.
struct Outcome {
    bool ok;
    std::string error, console;
    std::vector<std::string> traces;
    size_t Traced(const std::string& prefix) const;  // the trace texts that start with prefix
};
template <class Call>
Outcome Capture(IImageAIInference& object, Call&& call) {
    TraceRecorder traces;
    StdoutCapture capture;
    const bool ok = call();
    std::string console = capture.Text();
    return {ok, object.GetLastErrorMessage(), console, traces.texts};
}

// A test of one object of this binary's module, whose fields are O()'s.
class ModuleTest : public ::testing::Test {
protected:
    // A model from the models folder; on the core given, else on the object's own.
    // (Inline, so that the fuzz targets, which link no GoogleTest, need none.)
    void Load(const std::string& name, int32_t device = -1, std::shared_ptr<ov::Core> core = nullptr) {
        model_ = ReadModel(name);
        if (core) O().core = std::move(core);
        ASSERT_TRUE(object_->LoadModel(model_.data(), model_.size(), device, 3)) << object_->GetLastErrorMessage();
    }
    Tessarine& O() { return AsTessarine(object_); }
    template <class Call>
    Outcome Run(Call&& call) { return Capture(*object_, call); }
    Outcome Tensors(const std::vector<TensorData>& inputs, std::vector<TensorData>& outputs) {
        return Run([&] { return object_->DoInference(inputs, outputs); });
    }

    std::vector<char> model_;
    ObjectPtr object_ = NewObject();
};

// A core in which "NPU" (and "GPU" where asked) is the runtime's CPU plugin
// under another name (npu_double/), so that MULTI with the priority "NPU"
// compiles, reshapes and runs here.
std::shared_ptr<ov::Core> CoreWithNpuDouble(bool gpu_double_too = false);

#endif
