// DoInference(0): one planar f32 image in, one planar f32 map out, both in the
// host's memory. On the MULTI choices the model is compiled for one fixed size,
// so a new width or height rebuilds it first.
#include <cstring>

#include "inference/inference_common.h"

namespace {

// The host's 64-byte output descriptor carries the channel count at byte 40.
uint64_t OutputChannels(const void* output_desc) {
    if (!output_desc) return 3;
    uint64_t channels = 0;
    std::memcpy(&channels, static_cast<const unsigned char*>(output_desc) + 40, sizeof channels);
    return channels;
}

}  // namespace

bool Tessarine::DoInference(uint32_t width, uint32_t height, void* input_data, const void* output_desc,
                            uint32_t output_width, uint32_t output_height, void* output_data) {
    TraceParts("Tessarine::DoInference(0)");
    const SteadyTime start = SteadyNow();
    const bool ran = GuardInference([&] {
        if (!input_data || !output_data) return RejectRequest("input_data or output_data is nullptr.");
        const ov::Shape input_shape{1, 3, height, width};
        const ov::Shape output_shape{1, OutputChannels(output_desc), output_height, output_width};
        if (!ShapeFits(input_shape, ov::element::f32))
            return RejectRequest("the input image overflows 64 bits (element or byte count).");
        if (!ShapeFits(output_shape, ov::element::f32))
            return RejectRequest("the output overflows 64 bits (element or byte count).");
        if (RebuildNeeded(static_cast<int32_t>(width), static_cast<int32_t>(height))) {
            TraceParts("Ready reload model, current_gpu_index: ", current_gpu_index, ", new_inputWidth: ", width,
                       ", new_inputHeight: ", height);
            const ov::element::Type element_type = PrecisionToElementType(static_cast<int32_t>(precision_code));
            if (!innerLoadModel(model_data, model_size, current_gpu_index, true, 1, 3, height, width, element_type))
                return RejectFailedRebuild();
            TraceParts("Tessarine::RebuildModel()");
            input_width = static_cast<int32_t>(width);
            input_height = static_cast<int32_t>(height);
        }
        if (!infer_request) return RejectRequest("no model is loaded.");
        host_inputs.HoldFirst();
        BindInputTensor(*infer_request, ov::Tensor(ov::element::f32, input_shape, input_data, ov::Strides{}));
        outputs_in_host_memory = true;
        const ov::Tensor output(ov::element::f32, output_shape, output_data, ov::Strides{});
        PassedThroughBuffers passed;
        if (!TakeIfPassedThrough(*infer_request, passed_through_outputs, output, passed)) {
            host_outputs.HoldFirst();
            BindOutputTensor(*infer_request, output);
        }
        infer_request->start_async();
        infer_request->wait();
        passed.Deliver(*infer_request);
        return true;
    });
    if (!ran) return false;
    last_error.clear();
    TraceParts("Tessarine::DoInference(0) done, duration: ", MillisecondsSince(start), "ms");
    return true;
}
