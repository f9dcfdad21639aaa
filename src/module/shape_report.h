// The shape queries' one rule, shared by the module and by the isolated
// module's host side, which answers them from the shapes its worker reported.
#ifndef TESSARINE_SHAPE_REPORT_H
#define TESSARINE_SHAPE_REPORT_H

#include <cstdint>
#include <vector>

// Stores up to five dimensions through the non-null out-arguments and returns
// the full count. An index past the recorded list reports nothing (0).
inline uint32_t ReportShape(const std::vector<std::vector<int64_t>>& recorded, uint32_t index,
                            int64_t* const (&out)[5]) {
    if (index >= recorded.size()) return 0;
    const std::vector<int64_t>& dims = recorded[index];
    for (size_t k = 5; k-- > 0;)
        if (out[k] && dims.size() > k) *out[k] = dims[k];
    return static_cast<uint32_t>(dims.size());
}

#endif
