// The module's implementation of IImageAIInference: the interface, the
// operations the module names, and the object's fields.
//
// One object owns one OpenVINO core, at most one model with its compiled form,
// and one inference request that every DoInference form runs on. The state is
// what the fields hold; no flag records "loaded". The stages (src/loading,
// src/inference) are free functions that take the object and act on its
// fields, so a stage changes without this header; hosts only ever see
// IImageAIInference. Of the request's own code (src/request, a layer below
// this header) only the type of a field is included.
#ifndef TESSARINE_H
#define TESSARINE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <openvino/openvino.hpp>

#include "image_ai_inference.h"
#include "request/request_ports.h"

class Tessarine : public IImageAIInference {
public:
    Tessarine() = default;
    ~Tessarine() override;
    Tessarine(const Tessarine&) = delete;
    Tessarine& operator=(const Tessarine&) = delete;

    bool LoadModel(const void* model_data, uint64_t model_size, int32_t device_index,
                   uint32_t precision_code) override;
    void ReleaseModel() override;
    bool DoInference(const std::vector<TensorData>& inputs, std::vector<TensorData>& outputs) override;
    bool DoInference(uint32_t width, uint32_t height, void* input_data, void* output_data,
                     uint64_t* output_count, uint64_t* output_dim2, uint64_t* output_dim1) override;
    bool DoInference(uint32_t width, uint32_t height, void* input_data, const void* output_desc,
                     uint32_t output_width, uint32_t output_height, void* output_data) override;
    uint32_t GetInputShape(uint32_t index, int64_t* dim0, int64_t* dim1, int64_t* dim2, int64_t* dim3,
                           int64_t* dim4) override;
    uint32_t GetOutputShape(uint32_t index, int64_t* dim0, int64_t* dim1, int64_t* dim2, int64_t* dim3,
                            int64_t* dim4) override;
    std::string GetLastErrorMessage() override;

    // The two code families of the interface (src/module/element_types.cpp).
    static ov::element::Type DataTypeToElementType(int32_t code);
    static ov::element::Type PrecisionToElementType(int32_t code);

    // innerLoadModel(0): with reshape set, the single input becomes [d0, d1, d2, d3].
    bool innerLoadModel(const void* model_data, uint64_t model_size, int32_t device_index, bool reshape, int64_t d0,
                        int64_t d1, int64_t d2, int64_t d3, ov::element::Type element_type);
    // innerLoadModel(1): with reshape set, each named input gets its own dims.
    bool innerLoadModel(const void* model_data, uint64_t model_size, int32_t device_index, bool reshape,
                        const std::vector<std::string>& reshape_names,
                        const std::vector<std::vector<int64_t>>& reshape_dims, ov::element::Type element_type);

    std::shared_ptr<ov::Core> core;
    std::shared_ptr<ov::Model> model;
    std::shared_ptr<ov::Model> built_model;
    std::shared_ptr<ov::CompiledModel> compiled_model;
    std::shared_ptr<ov::InferRequest> infer_request;
    std::shared_ptr<ov::Tensor> weights;
    std::string model_string;
    std::string last_error;
    const void* model_data = nullptr;
    uint64_t model_size = 0;
    int32_t current_gpu_index = -1;
    int32_t input_width = -1;
    int32_t input_height = -1;
    std::vector<std::string> input_names;
    std::vector<std::string> output_names;
    std::vector<std::vector<int64_t>> input_node_dims;
    std::vector<std::vector<int64_t>> output_node_dims;
    uint32_t precision_code = 3;
    // What the module knows of infer_request's ports (request_ports.h).
    RequestPorts request_ports;
};

#endif
