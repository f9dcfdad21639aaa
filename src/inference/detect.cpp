// The detect form (slot 4): f32 [1, 3, H, W] in, f32 [1, 84, N] out, N the
// cells of the 8-, 16- and 32-pixel grids over the image (a detection head).
// It never rebuilds: the model loaded must take that input and give that
// output.
#include <algorithm>
#include <iterator>

#include "request/bindings.h"
#include "inference/guard.h"

bool Tessarine::DoInference(uint32_t width, uint32_t height, void* input_data, void* output_data,
                            uint64_t* output_count, uint64_t* output_dim2, uint64_t* output_dim1) {
    return RunGuarded(*this, "Tessarine::DoInference(1)", nullptr, [&] {
        if (!input_data || !output_data) return RejectCall(*this, "input_data or output_data is nullptr.");
        if (!output_count || !output_dim2 || !output_dim1)
            return RejectCall(*this, "output_count, output_dim2 or output_dim1 is nullptr.");
        if (!infer_request) return RejectCall(*this, "no model is loaded.");
        const int64_t input_dims[] = {1, 3, height, width};
        const int64_t output_dims[] = {1, static_cast<int64_t>(image_ai::kDetectionRows),
                                       static_cast<int64_t>(image_ai::DetectionCells(width, height))};
        if (!ShapeFits(input_dims, 4, ov::element::f32))
            return RejectCall(*this, "the input image overflows 64 bits (element or byte count).");
        if (!ShapeFits(output_dims, 3, ov::element::f32))
            return RejectCall(*this, "the output overflows 64 bits (element or byte count).");
        PassedThroughBuffers passed;
        BindImageViews(*infer_request, request_ports, {input_data, ov::element::f32, input_dims, 4},
                       {output_data, ov::element::f32, output_dims, 3}, passed);
        RunAndDeliver(*infer_request, passed);
        // The output the run wrote is the host's view of these dims, or was
        // checked against them before its values were copied in.
        *output_count = static_cast<uint64_t>(output_dims[1] * output_dims[2]);
        *output_dim2 = static_cast<uint64_t>(output_dims[2]);
        *output_dim1 = static_cast<uint64_t>(output_dims[1]);
        const std::vector<int64_t>* recorded = output_node_dims.size() == 1 ? &output_node_dims.front() : nullptr;
        if (!recorded || !std::equal(recorded->begin(), recorded->end(), std::begin(output_dims), std::end(output_dims)))
            output_node_dims.assign(1, std::vector<int64_t>(std::begin(output_dims), std::end(output_dims)));
        return true;
    });
}
