// The module's implementation of IImageAIInference.
//
// One object owns one OpenVINO core, at most one model with its compiled form,
// and one inference request that every DoInference form runs on. The state is
// what the fields hold; no flag records "loaded".
#ifndef TESSARINE_H
#define TESSARINE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <openvino/openvino.hpp>
#include <openvino/runtime/exception.hpp>

#include "image_ai_inference.h"
#include "inference/host_bindings.h"
#include "module/diagnostics.h"

struct TessarineTestAccess;

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

    static ov::element::Type DataTypeToElementType(int32_t code);
    static ov::element::Type PrecisionToElementType(int32_t code);

    // Device selection and compile configuration.
    static std::string DeviceNameFor(int32_t device_index);
    void ApplyDeviceProperties(std::shared_ptr<ov::Core> core, int32_t device_index, const std::string& device_name,
                               ov::element::Type element_type);
    void DumpSupportedProperties(std::shared_ptr<ov::CompiledModel> compiled_model);

    // The trace sink. It emits nothing; texts are only built in builds made
    // with a trace observer (see diagnostics.h).
    void Trace(std::string text);

private:
    friend struct TessarineTestAccess;

    // How a load reshapes the model it has just read.
    struct ReshapeStep;

    // innerLoadModel(0): reshape the single input to [d0, d1, d2, d3].
    bool innerLoadModel(const void* model_data, uint64_t model_size, int32_t device_index, bool reshape, int64_t d0,
                        int64_t d1, int64_t d2, int64_t d3, ov::element::Type element_type);
    // innerLoadModel(1): reshape each named input to its own dims.
    bool innerLoadModel(const void* model_data, uint64_t model_size, int32_t device_index, bool reshape,
                        const std::vector<std::string>& reshape_names,
                        const std::vector<std::vector<int64_t>>& reshape_dims, ov::element::Type element_type);
    bool RunLoadPipeline(const void* model_data, uint64_t model_size, int32_t device_index, bool reshape,
                         const ReshapeStep& reshape_step, ov::element::Type element_type);
    bool RunLoadSteps(const void* model_data, uint64_t model_size, int32_t device_index, bool reshape,
                      const ReshapeStep& reshape_step, ov::element::Type element_type);
    void RecordPorts(bool inputs);
    ov::CompiledModel CompileForDevice(const std::string& device_name);
    bool ReportEmpty(const char* trace_text, const char* console_text);

    void ReleaseModelState();

    // The inference forms' shared parts (src/inference/).
    template <class Work>
    bool GuardInference(Work&& work);
    bool ReportInferenceError(const char* format, const char* what);
    bool RejectRequest(const std::string& message);
    bool RebuildNeeded(int32_t width, int32_t height) const;
    bool RejectFailedRebuild();
    void OwnOutputsAgain();

    template <class... Parts>
    void TraceParts(const Parts&... parts) {
        if constexpr (kTraceTexts) Trace(JoinTraceText(parts...));
    }

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
    // Not part of the state above, and both describe infer_request, whatever
    // became of compiled_model since: whether its outputs were last bound to
    // host buffers, which it keeps until it is given others; and which of
    // its outputs its compiled model feeds straight from an input, which are
    // never bound to host buffers (see inference_common.h).
    bool outputs_in_host_memory = false;
    std::vector<size_t> passed_through_outputs;
    // Which of the request's ports hold a host buffer (see host_bindings.h).
    HostBindings host_inputs, host_outputs;
};

#endif
