// DoInference(2): any model on named, typed tensors in the host's memory.
// Outputs are bound to host buffers when every output record has a complete
// shape; otherwise the runtime allocates them and the records are pointed at
// the request's own results afterwards.
#include <algorithm>

#include "inference/inference_common.h"

namespace {

struct BoundTensors {
    std::vector<std::string> input_names;
    std::vector<ov::Tensor> inputs;
    std::vector<std::string> output_names;
    std::vector<ov::Tensor> outputs;
    bool dynamic_outputs = false;
    bool null_output_data = false;
};

ov::Shape ShapeOf(const std::vector<int64_t>& dims) { return ov::Shape(dims.begin(), dims.end()); }

bool HasNegative(const std::vector<int64_t>& dims) {
    for (int64_t d : dims)
        if (d < 0) return true;
    return false;
}

// Returns the rejection message, or nullptr when every input record is usable.
const char* CollectInputs(const std::vector<TensorData>& records, const std::string& first_model_input,
                          BoundTensors& bound) {
    if (records.empty()) return "inputs is empty.";
    for (const TensorData& record : records) {
        if (record.name.empty() && records.size() > 1) return "input.name is empty and inputs size > 1.";
        bound.input_names.push_back(record.name.empty() ? first_model_input : record.name);
        if (record.dims.empty()) return "input.dims is empty.";
        if (HasNegative(record.dims)) return "input.dims has a negative value.";
        if (!record.data) return "input.data is nullptr.";
        const ov::element::Type type = Tessarine::DataTypeToElementType(record.type);
        const ov::Shape shape = ShapeOf(record.dims);
        if (!ShapeFits(shape, type)) return "input.dims overflow 64 bits (element or byte count).";
        bound.inputs.emplace_back(type, shape, record.data, ov::Strides{});
    }
    return nullptr;
}

const char* CollectOutputs(const std::vector<TensorData>& records, const std::string& first_model_output,
                           BoundTensors& bound) {
    if (records.empty()) return "outputs is empty.";
    for (const TensorData& record : records) {
        if (HasNegative(record.dims)) bound.dynamic_outputs = true;
        if (record.name.empty() && records.size() > 1) return "output.name is empty and outputs size > 1.";
        bound.output_names.push_back(record.name.empty() ? first_model_output : record.name);
        if (record.dims.empty()) return "output.dims is empty.";
        if (bound.dynamic_outputs) continue;
        const ov::element::Type type = Tessarine::DataTypeToElementType(record.type);
        if (!record.data) {
            bound.null_output_data = true;  // fine if a later record hands the outputs to the runtime
            continue;
        }
        const ov::Shape shape = ShapeOf(record.dims);
        if (!ShapeFits(shape, type)) return "output.dims overflow 64 bits (element or byte count).";
        bound.outputs.emplace_back(type, shape, record.data, ov::Strides{});
    }
    if (!bound.dynamic_outputs && bound.null_output_data) return "output.data is nullptr.";
    return nullptr;
}

// See host_bindings.h; outputs left to the runtime bind nothing.
std::string UnsafeBinding(HostBindings& inputs, HostBindings& outputs, const BoundTensors& bound) {
    std::string rejection = inputs.Check(bound.input_names, "input");
    if (rejection.empty() && !bound.dynamic_outputs) rejection = outputs.Check(bound.output_names, "output");
    return rejection;
}

// Width and height of the first input of three or four dimensions, low 32
// bits; records of other ranks are passed over. 0 x 0 when there is none.
void FindInputSize(const std::vector<TensorData>& records, int32_t& width, int32_t& height) {
    width = 0;
    height = 0;
    for (const TensorData& record : records) {
        const size_t rank = record.dims.size();
        if (rank != 3 && rank != 4) continue;
        height = static_cast<int32_t>(record.dims[rank - 2]);
        width = static_cast<int32_t>(record.dims[rank - 1]);
        return;
    }
}

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

void BindInputs(ov::InferRequest& request, const BoundTensors& bound) {
    if (bound.input_names.size() == 1) {
        BindInputTensor(request, bound.inputs.front());
        return;
    }
    for (size_t i = 0; i < bound.input_names.size(); ++i)
        BindNamedTensor(request, bound.input_names[i], bound.inputs[i]);
}

size_t OutputIndexOf(const std::vector<ov::Output<const ov::Node>>& ports, const std::string& name) {
    for (size_t i = 0; i < ports.size(); ++i)
        if (ports[i].get_names().count(name)) return i;
    return ports.size();
}

// Outputs the compiled model feeds straight from an input are taken aside
// instead (see inference_common.h); the lookup costs nothing on a model
// without them.
void BindHostOutputs(ov::InferRequest& request, const std::vector<size_t>& passed_through_outputs,
                     const BoundTensors& bound, PassedThroughBuffers& passed) {
    const std::vector<std::string>& names = bound.output_names;
    if (names.size() == 1) {
        if (!TakeIfPassedThrough(request, passed_through_outputs, bound.outputs.front(), passed))
            BindOutputTensor(request, bound.outputs.front());
        return;
    }
    std::vector<ov::Output<const ov::Node>> ports;
    if (!passed_through_outputs.empty()) ports = request.get_compiled_model().outputs();
    for (size_t i = 0; i < names.size(); ++i) {
        const size_t index = ports.empty() ? 0 : OutputIndexOf(ports, names[i]);
        if (!ports.empty() && std::count(passed_through_outputs.begin(), passed_through_outputs.end(), index))
            passed.Take(ports[index], bound.outputs[i], names[i]);
        else
            BindNamedTensor(request, names[i], bound.outputs[i]);
    }
}

// Points each output record at the request's own result: no copy is made.
void FillRuntimeOutputs(ov::InferRequest& request, const std::vector<std::string>& names,
                        std::vector<TensorData>& records) {
    for (const std::string& name : names) {
        TensorData* record = nullptr;
        ov::Tensor result;
        if (records.size() == 1) {
            result = request.get_output_tensor();
            record = &records.front();
        } else {
            result = request.get_tensor(name);
            for (TensorData& candidate : records)
                if (candidate.name == name) {
                    record = &candidate;
                    break;
                }
        }
        if (!record) continue;
        record->data = result.data(Tessarine::DataTypeToElementType(record->type));
        record->size = result.get_size();
        const ov::Shape shape = result.get_shape();
        record->dims.assign(shape.begin(), shape.end());
    }
}

}  // namespace

// A request keeps the output tensors it was last given: run with outputs left
// to the runtime, it would write into the host buffers of an earlier call
// (freed by now, perhaps), hand them back as the object's own memory, and fail
// once a result outgrew them. A new request from the same compiled model
// allocates its own; only the inputs this call binds carry over. The request's
// own compiled model is used: a reload whose compile failed leaves the old
// request without the field's.
void Tessarine::OwnOutputsAgain() {
    if (!outputs_in_host_memory) return;
    *infer_request = infer_request->get_compiled_model().create_infer_request();
    outputs_in_host_memory = false;
    host_inputs.ForgetHeld();
    host_outputs.ForgetHeld();
}

bool Tessarine::DoInference(const std::vector<TensorData>& inputs, std::vector<TensorData>& outputs) {
    TraceParts("Tessarine::DoInference(2)");
    const SteadyTime start = SteadyNow();
    const bool ran = GuardInference([&] {
        BoundTensors bound;
        static const std::string kNoName;
        if (const char* rejection = CollectInputs(inputs, input_names.empty() ? kNoName : input_names.front(), bound))
            return RejectRequest(rejection);
        if (const char* rejection =
                CollectOutputs(outputs, output_names.empty() ? kNoName : output_names.front(), bound))
            return RejectRequest(rejection);
        if (const std::string rejection = UnsafeBinding(host_inputs, host_outputs, bound); !rejection.empty())
            return RejectRequest(rejection);

        int32_t width = 0;
        int32_t height = 0;
        FindInputSize(inputs, width, height);
        if (RebuildNeeded(width, height)) {
            TraceParts("Ready reload model, current_gpu_index: ", current_gpu_index, ", new_inputWidth: ", width,
                       ", new_inputHeight: ", height);
            std::vector<std::vector<int64_t>> reshape_dims;
            reshape_dims.reserve(inputs.size());
            for (const TensorData& record : inputs) reshape_dims.push_back(record.dims);
            const ov::element::Type element_type = PrecisionToElementType(static_cast<int32_t>(precision_code));
            if (!innerLoadModel(model_data, model_size, current_gpu_index, true, bound.input_names, reshape_dims,
                                element_type))
                return RejectFailedRebuild();
            TraceParts("Tessarine::RebuildModel()");
            input_width = width;
            input_height = height;
        }
        if (!infer_request) return RejectRequest("no model is loaded.");

        RequireOwnSide(*infer_request, bound);
        if (bound.dynamic_outputs) OwnOutputsAgain();
        host_inputs.Hold(bound.input_names);
        BindInputs(*infer_request, bound);
        PassedThroughBuffers passed;
        if (!bound.dynamic_outputs) {
            outputs_in_host_memory = true;
            host_outputs.Hold(bound.output_names);
            BindHostOutputs(*infer_request, passed_through_outputs, bound, passed);
        }
        infer_request->start_async();
        infer_request->wait();
        passed.Deliver(*infer_request);
        if (bound.dynamic_outputs) FillRuntimeOutputs(*infer_request, bound.output_names, outputs);
        return true;
    });
    if (!ran) return false;
    last_error.clear();
    TraceParts("Tessarine::DoInference(2) done, duration: ", MillisecondsSince(start), "ms");
    return true;
}
