// Shared helpers of the tests: models, objects, standard-output capture,
// trace recording and access to the object's state.
#ifndef TESSARINE_TEST_SUPPORT_H
#define TESSARINE_TEST_SUPPORT_H

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image_ai_inference.h"
#include "module/diagnostics.h"
#include "module/tessarine.h"

std::string ModelPath(const std::string& name);  // "dynamic_conv" -> .../models/dynamic_conv.onnx
std::vector<char> ReadModel(const std::string& name);
std::vector<char> ReadFileBytes(const std::string& path);

// An object made and destroyed through the exports of this build.
using ObjectPtr = std::unique_ptr<IImageAIInference, void (*)(IImageAIInference*)>;
ObjectPtr NewObject();
Tessarine& AsTessarine(const ObjectPtr& object);

// A named record of the interface over the caller's buffer.
TensorData Record(std::string name, std::vector<int64_t> dims, void* data, int32_t type = DATA_TYPE_FLOAT32);

// The host's 64-byte output block of DoInference(0): the channel count at
// byte 40 and every other byte noise, which would show as a wrong count.
std::array<unsigned char, 64> Descriptor(uint64_t channels);

// A planar f32 image with distinct values in every channel of a pixel and
// across neighbouring pixels, so a swapped channel or plane changes results.
std::vector<float> Image(uint32_t width, uint32_t height, float offset = 0, uint32_t channels = 3);
// dynamic_conv's map: map0 = r + g + b, map1 = 2r - b + 0.5.
std::vector<float> DynamicConvMap(const std::vector<float>& image);
// detect_head's [1, 84, N]: row c of grid cell (y, x) at stride s is the
// pixel (y*s, x*s) weighted by (c+1)/100 * (k+1) * (1, -1, 1)[k], plus c/100.
std::vector<float> DetectHead(const std::vector<float>& image, uint32_t width, uint32_t height);

// Captures what is written to standard output (file descriptor 1) between
// construction and Text(), including printf output of the module.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    std::string Text();  // stops capturing on the first call

private:
    int saved_fd_ = -1;
    int capture_fd_ = -1;
    std::string text_;
    bool done_ = false;
};

// Records every trace text while alive.
class TraceRecorder {
public:
    TraceRecorder();
    ~TraceRecorder();
    const std::vector<std::string>& Texts() const;
    bool Contains(const std::string& text) const;
    size_t Count(const std::string& text) const;
};

// A core in which "NPU" is the real CPU plugin under another name, so that
// MULTI with the priority "NPU" compiles and runs here.
std::shared_ptr<ov::Core> CoreWithNpuDouble();
// The same with "GPU" a double too; while refused, a core that has yet to
// create the "GPU" double fails to (see npu_plugin_double.cpp).
std::shared_ptr<ov::Core> CoreWithNpuAndGpuDoubles();
void RefuseNewGpuDoubles(bool refuse);

// Short names for the object's state, which the tests read and set.
struct TessarineTestAccess {
    static void SetCore(Tessarine& object, std::shared_ptr<ov::Core> core) { object.core = std::move(core); }
    static const std::shared_ptr<ov::Core>& Core(const Tessarine& object) { return object.core; }
    static const std::shared_ptr<ov::Model>& Model(const Tessarine& object) { return object.model; }
    static const std::shared_ptr<ov::CompiledModel>& Compiled(const Tessarine& object) {
        return object.compiled_model;
    }
    static const std::shared_ptr<ov::InferRequest>& Request(const Tessarine& object) { return object.infer_request; }
    static const std::string& ModelString(const Tessarine& object) { return object.model_string; }
    static const void* ModelData(const Tessarine& object) { return object.model_data; }
    static int32_t DeviceIndex(const Tessarine& object) { return object.current_gpu_index; }
    static int32_t InputWidth(const Tessarine& object) { return object.input_width; }
    static int32_t InputHeight(const Tessarine& object) { return object.input_height; }
    static uint32_t PrecisionCode(const Tessarine& object) { return object.precision_code; }
    static const std::vector<std::string>& InputNames(const Tessarine& object) { return object.input_names; }
    static const std::vector<std::string>& OutputNames(const Tessarine& object) { return object.output_names; }
    static bool LoadNamed(Tessarine& object, const void* data, uint64_t size, int32_t device,
                          const std::vector<std::string>& names, const std::vector<std::vector<int64_t>>& dims) {
        return object.innerLoadModel(data, size, device, true, names, dims, ov::element::f32);
    }
    static bool LoadReshaped(Tessarine& object, const void* data, uint64_t size, int32_t device, int64_t d0,
                             int64_t d1, int64_t d2, int64_t d3) {
        return object.innerLoadModel(data, size, device, true, d0, d1, d2, d3, ov::element::f32);
    }
};

#endif
