// Byte counts of the host's tensors, as the host side of the isolated module
// sizes the shared memory for them, without the runtime: the element sizes
// of the DataType codes, and the module's rule that a shape must fit in 64
// bits with a zero dim counted as one (bindings.h, ShapeFits). A tensor the
// rule refuses is never copied: the worker refuses the call before it reads.
#ifndef TESSARINE_ISOLATED_TENSOR_BYTES_H
#define TESSARINE_ISOLATED_TENSOR_BYTES_H

#include <cstdint>
#include <optional>
#include <vector>

#include "image_ai_inference.h"

// 0 for a code the module does not know.
inline uint64_t ElementBytes(int32_t code) {
    constexpr uint64_t kBytes[] = {1, 1, 1, 2, 2, 4, 4, 8, 8, 2, 4, 8};  // DATA_TYPE_BOOL .. DATA_TYPE_FLOAT64
    return code >= DATA_TYPE_BOOL && code <= DATA_TYPE_FLOAT64 ? kBytes[code] : 0;
}

// The byte count of a tensor of these dims, or none when the module would
// refuse them: no dims, a negative one, an unknown type, or a count that
// does not fit.
inline std::optional<uint64_t> TensorBytes(const std::vector<int64_t>& dims, uint64_t element_bytes) {
    if (dims.empty() || element_bytes == 0) return std::nullopt;
    uint64_t counted = 1, elements = 1;
    for (int64_t dim : dims) {
        if (dim < 0) return std::nullopt;
        const uint64_t value = static_cast<uint64_t>(dim);
        if (value > 1 && counted > UINT64_MAX / value) return std::nullopt;
        counted *= value ? value : 1;
        elements *= value;
    }
    if (counted > UINT64_MAX / element_bytes) return std::nullopt;
    return elements * element_bytes;
}

#endif
