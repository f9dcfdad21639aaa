// The map form (slot 5): one planar f32 image in, one planar f32 map out,
// both in the host's memory. On the MULTI choices the model is compiled for
// one fixed size, so a new width or height rebuilds it first.
#include <cstring>

#include "inference/bindings.h"
#include "inference/rebuild.h"

namespace {

uint64_t OutputChannels(const void* output_desc) {
    if (!output_desc) return 3;
    uint64_t channels = 0;
    std::memcpy(&channels, static_cast<const unsigned char*>(output_desc) + image_ai::kOutputDescriptorChannelsAt,
                sizeof channels);
    return channels;
}

}  // namespace

bool Tessarine::DoInference(uint32_t width, uint32_t height, void* input_data, const void* output_desc,
                            uint32_t output_width, uint32_t output_height, void* output_data) {
    return RunGuarded(*this, "Tessarine::DoInference(0)", "Tessarine::DoInference(0) done, duration: ", [&] {
        if (!input_data || !output_data) return RejectCall(*this, "input_data or output_data is nullptr.");
        const ov::Shape input_shape{1, 3, height, width};
        const ov::Shape output_shape{1, OutputChannels(output_desc), output_height, output_width};
        if (!ShapeFits(input_shape, ov::element::f32))
            return RejectCall(*this, "the input image overflows 64 bits (element or byte count).");
        if (!ShapeFits(output_shape, ov::element::f32))
            return RejectCall(*this, "the output overflows 64 bits (element or byte count).");
        const bool rebuilt_if_needed = RebuildIfNeeded(*this, width, height, [&](ov::element::Type element_type) {
            return innerLoadModel(model_data, model_size, current_gpu_index, true, 1, 3, height, width,
                                  element_type);
        });
        if (!rebuilt_if_needed) return false;
        if (!infer_request) return RejectCall(*this, "no model is loaded.");
        PassedThroughBuffers passed;
        BindImageTensors(*infer_request, request_ports,
                         ov::Tensor(ov::element::f32, input_shape, input_data, ov::Strides{}),
                         ov::Tensor(ov::element::f32, output_shape, output_data, ov::Strides{}), passed);
        infer_request->start_async();
        infer_request->wait();
        passed.Deliver(*infer_request);
        return true;
    });
}
