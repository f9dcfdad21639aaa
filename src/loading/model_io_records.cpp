// Records the names and dimensions of the model's inputs and outputs, which
// GetInputShape and GetOutputShape report. A port whose name or shape cannot
// be read is skipped; the load goes on with the next one, and what was stored
// for it before the failure stays.
#include "module/tessarine.h"

void Tessarine::RecordPorts(bool inputs) {
    const std::string kind = inputs ? "input" : "output";
    std::vector<std::string>& names = inputs ? input_names : output_names;
    std::vector<std::vector<int64_t>>& node_dims = inputs ? input_node_dims : output_node_dims;
    const size_t n = inputs ? model->inputs().size() : model->get_output_size();
    names.clear();
    node_dims.clear();
    names.resize(n);
    node_dims.resize(n);
    TraceParts(kind, "_node_dims size: ", n);
    for (size_t i = 0; i < n; ++i) {
        try {
            const ov::Output<ov::Node> port = inputs ? model->input(i) : model->output(i);
            // Taken up to the first zero byte, as a C host would read the name.
            names[i] = port.get_any_name().c_str();
            TraceParts(kind, "_shape, ", kind, "_names[i]: ", names[i]);
            const ov::PartialShape shape = port.get_partial_shape();
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
