// The one load pipeline. LoadModel, the single-input rebuild and the named
// rebuild all run it; they differ only in how the model is reshaped after it
// is read.
#include <functional>
#include <stdexcept>

#include "loading/ir_from_memory.h"
#include "loading/onnx_graph_check.h"
#include "loading/passed_through_outputs.h"
#include "module/tessarine.h"

struct Tessarine::ReshapeStep {
    const char* entry_text;
    const char* done_text;
    std::function<void(ov::Model&)> apply;
};

bool Tessarine::LoadModel(const void* model_data, uint64_t model_size, int32_t device_index,
                          uint32_t precision_code) {
    TraceParts("Tessarine::LoadModel()");
    this->precision_code = precision_code;
    const ov::element::Type element_type = PrecisionToElementType(static_cast<int32_t>(precision_code));
    return innerLoadModel(model_data, model_size, device_index, false, 0, 0, 0, 0, element_type);
}

bool Tessarine::innerLoadModel(const void* model_data, uint64_t model_size, int32_t device_index, bool reshape,
                               int64_t d0, int64_t d1, int64_t d2, int64_t d3, ov::element::Type element_type) {
    const ReshapeStep step{"Tessarine::innerLoadModel(0)", "Tessarine::innerLoadModel(0) done, duration: ",
                           [=](ov::Model& read) { read.reshape(ov::PartialShape{d0, d1, d2, d3}); }};
    return RunLoadPipeline(model_data, model_size, device_index, reshape, step, element_type);
}

bool Tessarine::innerLoadModel(const void* model_data, uint64_t model_size, int32_t device_index, bool reshape,
                               const std::vector<std::string>& reshape_names,
                               const std::vector<std::vector<int64_t>>& reshape_dims,
                               ov::element::Type element_type) {
    const ReshapeStep step{
        "Tessarine::innerLoadModel(1)", "Tessarine::innerLoadModel(1) done, duration: ", [&](ov::Model& read) {
            if (reshape_dims.size() < reshape_names.size())
                throw std::invalid_argument("reshape needs one dims list per input name: " +
                                            std::to_string(reshape_names.size()) + " names, " +
                                            std::to_string(reshape_dims.size()) + " dims lists.");
            std::map<std::string, ov::PartialShape> reshape_map;
            for (size_t i = 0; i < reshape_names.size(); ++i) {
                ov::PartialShape& shape = reshape_map[reshape_names[i]];
                shape = ov::PartialShape{};
                for (int64_t v : reshape_dims[i]) shape.push_back(ov::Dimension(v));
            }
            read.reshape(reshape_map, std::unordered_map<std::string, ov::PartialShape>{});
        }};
    return RunLoadPipeline(model_data, model_size, device_index, reshape, step, element_type);
}

bool Tessarine::RunLoadPipeline(const void* model_data, uint64_t model_size, int32_t device_index, bool reshape,
                                const ReshapeStep& reshape_step, ov::element::Type element_type) {
    TraceParts(reshape_step.entry_text);
    const SteadyTime start = SteadyNow();
    try {
        if (!RunLoadSteps(model_data, model_size, device_index, reshape, reshape_step, element_type)) return false;
    } catch (const ov::Exception& e) {
        last_error = e.what();
        TraceParts(last_error);
        ConsoleLine("[OpenVINOInstance]Load model ov::Exception error: %s", e.what());
        return false;
    } catch (const std::exception& e) {
        last_error = e.what();
        TraceParts(last_error);
        ConsoleLine("[OpenVINOInstance]Load model std::exception error: %s", e.what());
        return false;
    }
    TraceParts(reshape_step.done_text, MillisecondsSince(start), "ms");
    return true;
}

bool Tessarine::ReportEmpty(const char* trace_text, const char* console_text) {
    TraceParts(trace_text);
    ConsoleLine(console_text);
    return false;
}

bool Tessarine::RunLoadSteps(const void* model_data, uint64_t model_size, int32_t device_index, bool reshape,
                             const ReshapeStep& reshape_step, ov::element::Type element_type) {
    // The buffer is compared by address: a reload from the same buffer reuses
    // the copy taken before, even if the host has changed the bytes since.
    if (model_data != this->model_data || model_size != this->model_size || device_index != current_gpu_index ||
        reshape) {
        ReleaseModel();
        this->model_data = model_data;
        this->model_size = model_size;
        current_gpu_index = device_index;
    }
    const std::string device_name = DeviceNameFor(device_index);
    if (!core) core = std::make_shared<ov::Core>(std::string{});
    if (model_string.empty()) {
        if (model_data == nullptr && model_size != 0)
            throw std::invalid_argument("model_data is nullptr while model_size is " + std::to_string(model_size) +
                                        ".");
        model_string.assign(static_cast<const char*>(model_data), model_size);
    }
    if (!weights) weights = std::make_shared<ov::Tensor>();

    model.reset();
    RefuseOnnxTheReaderCannotTake(model_string);
    RefuseIrFromMemory(model_string);
    model = core->read_model(model_string, *weights);
    if (!model)
        return ReportEmpty("[OpenVINOInstance]Failed to read model, core->read_model",
                           "[OpenVINOInstance]Failed to read model");

    if (reshape) {
        TraceParts("[OpenVINOInstance]Need Reshape model");
        ConsoleLine("[OpenVINOInstance]Need Reshape model");
        const SteadyTime reshape_start = SteadyNow();
        reshape_step.apply(*model);
        TraceParts("[OpenVINOInstance]Reshape model done, duration: ", MillisecondsSince(reshape_start), "ms");
    }

    ov::preprocess::PrePostProcessor ppp(model);
    RecordPorts(true);
    RecordPorts(false);
    ApplyDeviceProperties(core, current_gpu_index, device_name, element_type);

    built_model.reset();
    built_model = ppp.build();
    if (!built_model)
        return ReportEmpty("[OpenVINOInstance]Failed to build model, ppp.build()",
                           "[OpenVINOInstance]Failed to build model, ppp.build()");

    compiled_model.reset();
    ov::CompiledModel compiled = CompileForDevice(device_name);
    if (compiled) compiled_model = std::make_shared<ov::CompiledModel>(std::move(compiled));
    if (!compiled_model)
        return ReportEmpty("[OpenVINOInstance]Failed to compile model, core->compile_model",
                           "[OpenVINOInstance]Failed to compile model, core->compile_model");

    DumpSupportedProperties(compiled_model);
    std::vector<size_t> passed_through = FindPassedThroughOutputs(*compiled_model, *built_model);

    // The previous request is replaced by this assignment only; what is known
    // of its outputs goes with it.
    ov::InferRequest request = compiled_model->create_infer_request();
    infer_request = request ? std::make_shared<ov::InferRequest>(std::move(request)) : nullptr;
    passed_through_outputs = std::move(passed_through);
    outputs_in_host_memory = false;
    host_inputs.Reset(compiled_model->inputs());
    host_outputs.Reset(compiled_model->outputs(), passed_through_outputs);
    if (!infer_request)
        return ReportEmpty(
            "[OpenVINOInstance]Failed to create infer request, compiled_model->create_infer_request()",
            "[OpenVINOInstance]Failed to create infer request, compiled_model->create_infer_request()");
    return true;
}
