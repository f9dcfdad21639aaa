// LoadModel and the two forms of innerLoadModel, which differ only in how
// they reshape what they read.
#include <map>
#include <stdexcept>
#include <unordered_map>

#include "loading/load_pipeline.h"
#include "module/diagnostics.h"

bool Tessarine::LoadModel(const void* model_data, uint64_t model_size, int32_t device_index,
                          uint32_t precision_code) {
    TraceParts("Tessarine::LoadModel()");
    this->precision_code = precision_code;
    const ov::element::Type element_type = PrecisionToElementType(static_cast<int32_t>(precision_code));
    return innerLoadModel(model_data, model_size, device_index, false, 0, 0, 0, 0, element_type);
}

bool Tessarine::innerLoadModel(const void* model_data, uint64_t model_size, int32_t device_index, bool reshape,
                               int64_t d0, int64_t d1, int64_t d2, int64_t d3, ov::element::Type element_type) {
    return RunLoadPipeline(
        *this, {model_data, model_size, device_index, reshape,
                [=](ov::Model& read) { read.reshape(ov::PartialShape{d0, d1, d2, d3}); }, element_type,
                "Tessarine::innerLoadModel(0)", "Tessarine::innerLoadModel(0) done, duration: "});
}

bool Tessarine::innerLoadModel(const void* model_data, uint64_t model_size, int32_t device_index, bool reshape,
                               const std::vector<std::string>& reshape_names,
                               const std::vector<std::vector<int64_t>>& reshape_dims,
                               ov::element::Type element_type) {
    auto reshape_by_name = [&](ov::Model& read) {
        if (reshape_dims.size() < reshape_names.size())
            throw std::invalid_argument("reshape needs one dims list per input name: " +
                                        std::to_string(reshape_names.size()) + " names, " +
                                        std::to_string(reshape_dims.size()) + " dims lists.");
        // A name given twice keeps its later shape.
        std::map<std::string, ov::PartialShape> reshape_map;
        for (size_t i = 0; i < reshape_names.size(); ++i) {
            ov::PartialShape& shape = reshape_map[reshape_names[i]];
            shape = ov::PartialShape{};
            for (int64_t v : reshape_dims[i]) shape.push_back(ov::Dimension(v));
        }
        read.reshape(reshape_map, std::unordered_map<std::string, ov::PartialShape>{});
    };
    return RunLoadPipeline(*this, {model_data, model_size, device_index, reshape, reshape_by_name, element_type,
                                   "Tessarine::innerLoadModel(1)", "Tessarine::innerLoadModel(1) done, duration: "});
}
