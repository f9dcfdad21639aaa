// The tensors form (slot 3): any model on named, typed tensors in the host's
// memory. Outputs are bound to host buffers when every output record has a
// complete shape; otherwise the runtime allocates them and the records are
// pointed at the request's own results afterwards.

#include "inference/rebuild.h"
#include "inference/tensor_records.h"
#include "request/bindings.h"
#include "request/named_bindings.h"
#include "request/new_request.h"

namespace {

// The runtime looks a name up among inputs and outputs alike: an input record
// named after an output would bind the host's input buffer as that output,
// and the run would write into it; a runtime-allocated output record named
// after an input would be pointed at the input's buffer. So each name must be
// one of its own side's (the request's compiled model throws otherwise),
// unless its record is the only one of its side, whose name is not used.
void RequireOwnSide(ov::InferRequest& request, const BoundTensors& bound) {
    if (bound.input_names.size() <= 1 && bound.output_names.size() <= 1) return;
    const ov::CompiledModel compiled = request.get_compiled_model();
    if (bound.input_names.size() > 1)
        for (const std::string& name : bound.input_names) compiled.input(name);
    if (bound.output_names.size() > 1)
        for (const std::string& name : bound.output_names) compiled.output(name);
}

void RunBound(ov::InferRequest& request, RequestPorts& ports, const BoundTensors& bound,
              std::vector<TensorData>& outputs) {
    RequireOwnSide(request, bound);
    if (bound.dynamic_outputs) OwnOutputsAgain(request, ports);
    BindNamedInputs(request, ports.inputs, bound.input_names, bound.inputs);
    PassedThroughBuffers passed;
    if (!bound.dynamic_outputs) BindNamedOutputs(request, ports, bound.output_names, bound.outputs, passed);
    RunAndDeliver(request, passed);
    if (bound.dynamic_outputs) FillRuntimeOutputs(request, bound.output_names, outputs);
}

// The call before bound these very views and checked these very records, and
// nothing has replaced the request since: nothing to check, bind or rebuild.
bool RunAsBefore(Tessarine& object, const std::vector<TensorData>& inputs, const std::vector<TensorData>& outputs) {
    if (!object.infer_request || !HeldAlready(object.request_ports.inputs, inputs) ||
        !HeldAlready(object.request_ports.outputs, outputs))
        return false;
    int32_t width = 0;
    int32_t height = 0;
    FindInputSize(inputs, width, height);
    if (RebuildNeeded(object, width, height)) return false;
    RunAndDeliver(*object.infer_request, PassedThroughBuffers{});
    return true;
}

}  // namespace

bool Tessarine::DoInference(const std::vector<TensorData>& inputs, std::vector<TensorData>& outputs) {
    return RunGuarded(*this, "Tessarine::DoInference(2)", "Tessarine::DoInference(2) done, duration: ", [&] {
        if (RunAsBefore(*this, inputs, outputs)) return true;
        BoundTensors bound;
        if (const std::string rejection = CollectRecords(*this, inputs, outputs, bound); !rejection.empty())
            return RejectCall(*this, rejection);
        int32_t width = 0;
        int32_t height = 0;
        FindInputSize(inputs, width, height);
        const bool rebuilt_if_needed = RebuildIfNeeded(*this, width, height, [&](ov::element::Type element_type) {
            std::vector<std::vector<int64_t>> reshape_dims;
            reshape_dims.reserve(inputs.size());
            for (const TensorData& record : inputs) reshape_dims.push_back(record.dims);
            return innerLoadModel(model_data, model_size, current_gpu_index, true, bound.input_names, reshape_dims,
                                  element_type);
        });
        if (!rebuilt_if_needed) return false;
        if (!infer_request) return RejectCall(*this, "no model is loaded.");
        RunBound(*infer_request, request_ports, bound, outputs);
        return true;
    });
}
