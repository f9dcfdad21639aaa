#include "loading/load_pipeline.h"

#include <stdexcept>

#include "loading/device_config.h"
#include "loading/model_io_records.h"
#include "model_checks/model_bytes.h"
#include "module/console_formats.h"
#include "module/diagnostics.h"
#include "request/new_request.h"

namespace {

// A runtime call that yielded nothing: reported on the console only.
bool ReportEmpty(const char* trace_text, const char* console_text) {
    TraceParts(trace_text);
    ConsoleLine(console_text);
    return false;
}

// The buffer is compared by address: a reload from the same buffer reuses the
// copy taken before, even if the host has changed the bytes since.
void ReleaseIfChanged(Tessarine& object, const LoadCall& call) {
    if (call.model_data == object.model_data && call.model_size == object.model_size &&
        call.device_index == object.current_gpu_index && !call.reshape)
        return;
    object.ReleaseModel();
    object.model_data = call.model_data;
    object.model_size = call.model_size;
    object.current_gpu_index = call.device_index;
}

// The copy of the host's bytes, taken once per model; the runtime reads the
// copy, and only after the checks have looked at it.
void TakeModelBytes(Tessarine& object) {
    if (object.model_string.empty()) {
        if (object.model_data == nullptr && object.model_size != 0)
            throw std::invalid_argument("model_data is nullptr while model_size is " +
                                        std::to_string(object.model_size) + ".");
        object.model_string.assign(static_cast<const char*>(object.model_data), object.model_size);
    }
    if (!object.weights) object.weights = std::make_shared<ov::Tensor>();
    object.model.reset();
}

bool ReadModel(Tessarine& object) {
    object.model = object.core->read_model(object.model_string, *object.weights);
    return object.model != nullptr;
}

void Reshape(ov::Model& model, const LoadCall& call) {
    TraceParts(console::kNeedReshape);
    ConsoleLine(console::kNeedReshape);
    const SteadyTime start = SteadyNow();
    call.reshape_model(model);
    TraceParts(console::kReshapeDone, MillisecondsSince(start), "ms");
}

bool RunLoadSteps(Tessarine& object, const LoadCall& call) {
    ReleaseIfChanged(object, call);
    const std::string device_name = DeviceNameFor(call.device_index);
    if (!object.core) object.core = std::make_shared<ov::Core>(std::string{});
    TakeModelBytes(object);
    RefuseModelBytesTheRuntimeMustNotRead(object.model_string);
    if (!ReadModel(object))
        return ReportEmpty(console::kReadModelTrace, console::kReadModelFailed);
    if (call.reshape) Reshape(*object.model, call);

    ov::preprocess::PrePostProcessor ppp(object.model);
    RecordPorts("input", object.model->inputs(), object.input_names, object.input_node_dims);
    RecordPorts("output", object.model->outputs(), object.output_names, object.output_node_dims);
    ApplyDeviceProperties(object.core, object.current_gpu_index, device_name, call.element_type);

    object.built_model.reset();
    object.built_model = ppp.build();
    if (!object.built_model)
        return ReportEmpty(console::kBuildFailed, console::kBuildFailed);

    object.compiled_model.reset();
    ov::CompiledModel compiled =
        CompileForDevice(*object.core, object.built_model, device_name, object.current_gpu_index);
    if (compiled) object.compiled_model = std::make_shared<ov::CompiledModel>(std::move(compiled));
    if (!object.compiled_model)
        return ReportEmpty(console::kCompileFailed, console::kCompileFailed);
    DumpSupportedProperties(object.compiled_model);
    if (!CreateRequest(*object.compiled_model, *object.built_model, object.infer_request, object.request_ports))
        return ReportEmpty(console::kCreateRequestFailed, console::kCreateRequestFailed);
    return true;
}

bool ReportLoadFailure(Tessarine& object, const char* format, const char* what) {
    object.last_error = what;
    TraceParts(object.last_error);
    ConsoleLine(format, what);
    return false;
}

}  // namespace

bool RunLoadPipeline(Tessarine& object, const LoadCall& call) {
    TraceParts(call.entry_text);
    const SteadyTime start = SteadyNow();
    try {
        if (!RunLoadSteps(object, call)) return false;
    } catch (const ov::Exception& e) {
        return ReportLoadFailure(object, console::kLoadOvError, e.what());
    } catch (const std::exception& e) {
        return ReportLoadFailure(object, console::kLoadStdError, e.what());
    }
    TraceParts(call.done_text, MillisecondsSince(start), "ms");
    return true;
}
