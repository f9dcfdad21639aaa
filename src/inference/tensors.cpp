// The tensors form (slot 3): any model on named, typed tensors in the host's
// memory. Outputs are bound to host buffers when every output record has a
// complete shape; otherwise the runtime allocates them and the records are
// pointed at the request's own results afterwards.
#include <algorithm>

#include "request/bindings.h"
#include "request/new_request.h"
#include "inference/rebuild.h"
#include "inference/tensor_records.h"

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

void BindInputs(ov::InferRequest& request, HostBindings& side, const BoundTensors& bound) {
    if (bound.input_names.size() == 1) return side.Bind(request, true, 0, nullptr, bound.inputs.front());
    for (size_t i = 0; i < bound.input_names.size(); ++i) {
        const std::string& name = bound.input_names[i];
        side.Bind(request, true, side.PortOf(name), &name, bound.inputs[i]);
    }
}

size_t OutputIndexOf(const std::vector<ov::Output<const ov::Node>>& ports, const std::string& name) {
    for (size_t i = 0; i < ports.size(); ++i)
        if (ports[i].get_names().count(name)) return i;
    return ports.size();
}

// Outputs the compiled model feeds straight from an input are taken aside
// instead (see bindings.h); the lookup costs nothing on a model without them.
void BindHostOutputs(ov::InferRequest& request, RequestPorts& ports, const BoundTensors& bound,
                     PassedThroughBuffers& passed) {
    const std::vector<std::string>& names = bound.output_names;
    std::vector<ov::Output<const ov::Node>> model_outputs;
    if (!ports.passed_through.empty()) model_outputs = request.get_compiled_model().outputs();
    auto passed_through = [&](size_t index) {
        return std::count(ports.passed_through.begin(), ports.passed_through.end(), index) > 0;
    };
    ports.outputs_in_host_memory = true;
    if (names.size() == 1) {
        // By position: with several model outputs the binding fails, as it must.
        if (model_outputs.size() == 1 && passed_through(0))
            return passed.Take(model_outputs.front(), bound.outputs.front(), names.front());
        return ports.outputs.Bind(request, false, 0, nullptr, bound.outputs.front());
    }
    for (size_t i = 0; i < names.size(); ++i) {
        const size_t index = OutputIndexOf(model_outputs, names[i]);
        if (index < model_outputs.size() && passed_through(index)) {
            passed.Take(model_outputs[index], bound.outputs[i], names[i]);
            continue;
        }
        ports.outputs.Bind(request, false, ports.outputs.PortOf(names[i]), &names[i], bound.outputs[i]);
    }
}

void RunBound(ov::InferRequest& request, RequestPorts& ports, const BoundTensors& bound,
              std::vector<TensorData>& outputs) {
    RequireOwnSide(request, bound);
    if (bound.dynamic_outputs) OwnOutputsAgain(request, ports);
    BindInputs(request, ports.inputs, bound);
    PassedThroughBuffers passed;
    if (!bound.dynamic_outputs) BindHostOutputs(request, ports, bound, passed);
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
