// The detect form (slot 4): f32 [1, 3, H, W] in, f32 [1, 84, N] out, N the
// cells of the 8-, 16- and 32-pixel grids over the image (a detection head).
// It never rebuilds: the model loaded must take that input and give that
// output.
#include "inference/bindings.h"
#include "inference/guard.h"

bool Tessarine::DoInference(uint32_t width, uint32_t height, void* input_data, void* output_data,
                            uint64_t* output_count, uint64_t* output_dim2, uint64_t* output_dim1) {
    return RunGuarded(*this, "Tessarine::DoInference(1)", nullptr, [&] {
        if (!input_data || !output_data) return RejectCall(*this, "input_data or output_data is nullptr.");
        if (!output_count || !output_dim2 || !output_dim1)
            return RejectCall(*this, "output_count, output_dim2 or output_dim1 is nullptr.");
        if (!infer_request) return RejectCall(*this, "no model is loaded.");
        const ov::Shape input_shape{1, 3, height, width};
        const ov::Shape output_shape{1, image_ai::kDetectionRows, image_ai::DetectionCells(width, height)};
        if (!ShapeFits(input_shape, ov::element::f32))
            return RejectCall(*this, "the input image overflows 64 bits (element or byte count).");
        if (!ShapeFits(output_shape, ov::element::f32))
            return RejectCall(*this, "the output overflows 64 bits (element or byte count).");
        PassedThroughBuffers passed;
        const ov::Tensor result = BindImageTensors(
            *infer_request, request_ports, ov::Tensor(ov::element::f32, input_shape, input_data, ov::Strides{}),
            ov::Tensor(ov::element::f32, output_shape, output_data, ov::Strides{}), passed);
        infer_request->start_async();
        infer_request->wait();
        passed.Deliver(*infer_request);
        const ov::Shape result_shape = result.get_shape();
        *output_count = result.get_size();
        *output_dim2 = result_shape[2];
        *output_dim1 = result_shape[1];
        output_node_dims.assign(1, std::vector<int64_t>(result_shape.begin(), result_shape.end()));
        return true;
    });
}
