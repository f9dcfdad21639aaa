#include "module/diagnostics.h"
#include "module/tessarine.h"

namespace {

// Stores up to five dimensions through the non-null out-arguments and returns
// the full count. An index past the recorded list reports nothing (0).
uint32_t ReportShape(const std::vector<std::vector<int64_t>>& recorded, uint32_t index, int64_t* const (&out)[5]) {
    if (index >= recorded.size()) return 0;
    const std::vector<int64_t>& dims = recorded[index];
    for (size_t k = 5; k-- > 0;)
        if (out[k] && dims.size() > k) *out[k] = dims[k];
    return static_cast<uint32_t>(dims.size());
}

}  // namespace

uint32_t Tessarine::GetInputShape(uint32_t index, int64_t* dim0, int64_t* dim1, int64_t* dim2, int64_t* dim3,
                                  int64_t* dim4) {
    TraceParts("Tessarine::GetInputShape()");
    return ReportShape(input_node_dims, index, {dim0, dim1, dim2, dim3, dim4});
}

uint32_t Tessarine::GetOutputShape(uint32_t index, int64_t* dim0, int64_t* dim1, int64_t* dim2, int64_t* dim3,
                                   int64_t* dim4) {
    TraceParts("Tessarine::GetOutputShape()");
    return ReportShape(output_node_dims, index, {dim0, dim1, dim2, dim3, dim4});
}
