// The calls the benchmark compares: the module's inference forms as a host
// makes them, over one image's buffers, and the raw request of the module's
// own compiled model over the same buffers.
#ifndef TESSARINE_BENCH_HOST_CALLS_H
#define TESSARINE_BENCH_HOST_CALLS_H

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "harness.h"
#include "image_ai_host.h"
#include "module/tessarine.h"

constexpr uint32_t kPrecisionCode = 3;  // f32: module and raw compute alike

inline void Check(bool ran, IImageAIInference& object) {
    if (!ran) throw std::runtime_error("the module failed: " + object.GetLastErrorMessage());
}

// The host keeps the bytes while the object may read them.
inline image_ai::ObjectPtr Loaded(const std::vector<char>& bytes) {
    image_ai::ObjectPtr object(InitModule(), ReleaseModule);
    Check(object->LoadModel(bytes.data(), bytes.size(), -1, kPrecisionCode), *object);
    return object;
}

inline ov::CompiledModel& CompiledOf(IImageAIInference& object) {
    return *static_cast<Tessarine&>(object).compiled_model;
}

// What a host hands over for one image, as plain buffers and as named records,
// and the baseline: a request of the module's own compiled model with tensors
// over the same buffers, set once.
struct HostBuffers {
    HostBuffers(bool map, uint32_t side, IImageAIInference& object)
        : side(side), map(map), input(size_t{3} * side * side) {
        output_dims = {1, 2, side, side};
        if (!map) output_dims = {1, int64_t(image_ai::kDetectionRows), int64_t(image_ai::DetectionCells(side, side))};
        const ov::Shape shape(output_dims.begin(), output_dims.end());
        output.resize(ov::shape_size(shape));
        for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<float>(i % 251) / 125.5f - 1.0f;
        ov::CompiledModel& compiled = CompiledOf(object);
        inputs = {{compiled.input().get_any_name(), DATA_TYPE_FLOAT32, {1, 3, side, side}, input.data()}};
        outputs = {{compiled.output().get_any_name(), DATA_TYPE_FLOAT32, output_dims, output.data()}};
        raw = compiled.create_infer_request();
        raw.set_input_tensor(ov::Tensor(ov::element::f32, {1, 3, side, side}, input.data()));
        raw.set_output_tensor(ov::Tensor(ov::element::f32, shape, output.data()));
    }
    size_t TensorBytes() const { return (input.size() + output.size()) * sizeof(float); }

    uint32_t side;
    bool map;
    std::vector<float> input, output;
    std::vector<int64_t> output_dims;
    image_ai::OutputDescriptor descriptor = image_ai::DescriptorFor(2);
    std::vector<TensorData> inputs, outputs;
    ov::InferRequest raw;
};

// The form the model's output suits (map or detect), the tensors form, and the
// two baselines: the raw request run as specified (start_async, then wait)
// and run with the runtime's synchronous infer(), the floor.
enum { kImageForm, kTensorsForm, kRawAsync, kRawInfer };
inline std::vector<Variant> Variants(IImageAIInference& o, HostBuffers& b) {
    auto map = [&o, &b] {
        Check(o.DoInference(b.side, b.side, b.input.data(), b.descriptor.data(), b.side, b.side, b.output.data()), o);
    };
    auto detect = [&o, &b] {
        uint64_t count = 0, dim2 = 0, dim1 = 0;
        Check(o.DoInference(b.side, b.side, b.input.data(), b.output.data(), &count, &dim2, &dim1), o);
    };
    return {b.map ? Variant{"map", map} : Variant{"detect", detect},
            {"tensors", [&o, &b] { Check(o.DoInference(b.inputs, b.outputs), o); }},
            {"raw", [&b] { b.raw.start_async(); b.raw.wait(); }},
            {"raw infer()", [&b] { b.raw.infer(); }}};
}

// Module and raw must have computed the same thing for their times to compare.
inline double LargestDifference(const Call& module_call, HostBuffers& b) {
    std::fill(b.output.begin(), b.output.end(), NAN);
    module_call();
    const std::vector<float> from_module = b.output;
    std::fill(b.output.begin(), b.output.end(), NAN);
    b.raw.infer();
    double worst = 0;
    for (size_t i = 0; i < b.output.size(); ++i) {
        const double d = std::fabs(b.output[i] - from_module[i]);
        if (!(d <= 1e-5)) throw std::runtime_error("the module's output differs from the raw request's");
        worst = std::max(worst, d);
    }
    return worst;
}

#endif
