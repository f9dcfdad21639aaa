// The map form (slot 5): one planar f32 image in, one planar f32 map out,
// both in the host's memory. On the MULTI choices the model is compiled for
// one fixed size, so a new width or height rebuilds it first.
#include <cstring>

#include "request/bindings.h"
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
        // Dims as the runtime takes them, unsigned 64-bit (a channel count
        // past INT64_MAX round-trips through the signed array).
        const int64_t input_dims[] = {1, 3, height, width};
        const int64_t output_dims[] = {1, static_cast<int64_t>(OutputChannels(output_desc)), output_height,
                                       output_width};
        if (!ShapeFits(input_dims, 4, ov::element::f32))
            return RejectCall(*this, "the input image overflows 64 bits (element or byte count).");
        if (!ShapeFits(output_dims, 4, ov::element::f32))
            return RejectCall(*this, "the output overflows 64 bits (element or byte count).");
        const bool rebuilt_if_needed = RebuildIfNeeded(*this, width, height, [&](ov::element::Type element_type) {
            return innerLoadModel(model_data, model_size, current_gpu_index, true, 1, 3, height, width,
                                  element_type);
        });
        if (!rebuilt_if_needed) return false;
        if (!infer_request) return RejectCall(*this, "no model is loaded.");
        PassedThroughBuffers passed;
        BindImageViews(*infer_request, request_ports, {input_data, ov::element::f32, input_dims, 4},
                       {output_data, ov::element::f32, output_dims, 4}, passed);
        RunAndDeliver(*infer_request, passed);
        return true;
    });
}
