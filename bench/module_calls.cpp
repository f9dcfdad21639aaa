#include "module_calls.h"

#include <stdexcept>

namespace {

void Check(bool ran, IImageAIInference& object) {
    if (!ran) throw std::runtime_error("DoInference failed: " + object.GetLastErrorMessage());
}

}  // namespace

Variant SingleForm(IImageAIInference& object, HostBuffers& b, bool map_output) {
    if (map_output)
        return {"form0", [&object, &b] {
                    Check(object.DoInference(b.width, b.height, b.input.data(), b.descriptor.data(),
                                             static_cast<uint32_t>(b.output_dims[3]),
                                             static_cast<uint32_t>(b.output_dims[2]), b.output.data()),
                          object);
                }};
    return {"form1", [&object, &b] {
                uint64_t count = 0, dim2 = 0, dim1 = 0;
                Check(object.DoInference(b.width, b.height, b.input.data(), b.output.data(), &count, &dim2, &dim1),
                      object);
            }};
}

Variant NamedForm(IImageAIInference& object, const std::vector<TensorData>& inputs,
                  std::vector<TensorData>& outputs) {
    return {"form2", [&object, &inputs, &outputs] { Check(object.DoInference(inputs, outputs), object); }};
}

uint64_t HeadCells(uint32_t width, uint32_t height) {
    uint64_t cells = 0;
    for (uint32_t stride : {8u, 16u, 32u})
        cells += uint64_t{(width + stride - 1) / stride} * ((height + stride - 1) / stride);
    return cells;
}

std::vector<int64_t> OutputDims(uint32_t width, uint32_t height, bool map_output, uint64_t map_channels) {
    if (map_output) return {1, static_cast<int64_t>(map_channels), height, width};
    return {1, 84, static_cast<int64_t>(HeadCells(width, height))};
}
