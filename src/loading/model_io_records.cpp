#include "loading/model_io_records.h"

#include "module/diagnostics.h"

void RecordPorts(const char* kind, const std::vector<ov::Output<ov::Node>>& ports, std::vector<std::string>& names,
                 std::vector<std::vector<int64_t>>& node_dims) {
    const size_t n = ports.size();
    names.clear();
    node_dims.clear();
    names.resize(n);
    node_dims.resize(n);
    TraceParts(kind, "_node_dims size: ", n);
    for (size_t i = 0; i < n; ++i) {
        try {
            // Taken up to the first zero byte, as a C host would read the name.
            names[i] = ports[i].get_any_name().c_str();
            TraceParts(kind, "_shape, ", kind, "_names[i]: ", names[i]);
            const ov::PartialShape shape = ports[i].get_partial_shape();
            std::vector<int64_t>& dims = node_dims[i];
            dims.resize(shape.size());
            TraceParts(kind, "_shape, shape_size: ", dims.size(), ", ", kind, "_shape: ");
            for (size_t j = 0; j < dims.size(); ++j) {
                dims[j] = shape[j].is_static() ? shape[j].get_length() : -1;
                TraceParts(dims[j]);
            }
        } catch (...) {
            TraceParts(kind, "_shape exception, index: ", i);
        }
    }
}
