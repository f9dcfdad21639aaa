// DoInference(1): f32 [1, 3, H, W] in, f32 [1, 84, N] out, where N counts the
// cells of the 8-, 16- and 32-pixel grids over the image (a detection head).
#include "inference/inference_common.h"

namespace {

// One halving, rounding up: trunc((d - 1) / 2) + 1, so 0 and 1 both give 1.
int64_t HalveUp(int64_t d) { return (d - 1) / 2 + 1; }

int64_t GridCells(int64_t d, int halvings) {
    for (int i = 0; i < halvings; ++i) d = HalveUp(d);
    return d;
}

}  // namespace

uint64_t GridCellCount(uint32_t width, uint32_t height) {
    // The host computes N in 32-bit signed arithmetic; unsigned 32-bit products
    // and sums give the same bits without overflow being undefined.
    const int64_t w = static_cast<int32_t>(width);
    const int64_t h = static_cast<int32_t>(height);
    uint32_t n = 0;
    for (int halvings = 3; halvings <= 5; ++halvings)
        n += static_cast<uint32_t>(GridCells(w, halvings)) * static_cast<uint32_t>(GridCells(h, halvings));
    return n;
}

bool Tessarine::DoInference(uint32_t width, uint32_t height, void* input_data, void* output_data,
                            uint64_t* output_count, uint64_t* output_dim2, uint64_t* output_dim1) {
    TraceParts("Tessarine::DoInference(1)");
    const bool ran = GuardInference([&] {
        if (!input_data || !output_data) return RejectRequest("input_data or output_data is nullptr.");
        if (!output_count || !output_dim2 || !output_dim1)
            return RejectRequest("output_count, output_dim2 or output_dim1 is nullptr.");
        if (!infer_request) return RejectRequest("no model is loaded.");
        const ov::Shape input_shape{1, 3, height, width};
        const ov::Shape output_shape{1, 84, GridCellCount(width, height)};
        if (!ShapeFits(input_shape, ov::element::f32))
            return RejectRequest("the input image overflows 64 bits (element or byte count).");
        if (!ShapeFits(output_shape, ov::element::f32))
            return RejectRequest("the output overflows 64 bits (element or byte count).");
        const ov::Tensor input(ov::element::f32, input_shape, input_data, ov::Strides{});
        const ov::Tensor output(ov::element::f32, output_shape, output_data, ov::Strides{});
        host_inputs.HoldFirst();
        BindInputTensor(*infer_request, input);
        outputs_in_host_memory = true;
        host_outputs.HoldFirst();
        const ov::Tensor result = BindOutputTensor(*infer_request, output);
        infer_request->start_async();
        infer_request->wait();
        const ov::Shape result_shape = result.get_shape();
        *output_count = result.get_size();
        *output_dim2 = result_shape[2];
        *output_dim1 = result_shape[1];
        output_node_dims.assign(1, std::vector<int64_t>(result_shape.begin(), result_shape.end()));
        return true;
    });
    if (!ran) return false;
    last_error.clear();
    return true;
}
