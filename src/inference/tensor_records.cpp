#include "inference/tensor_records.h"

#include <stdexcept>

#include "request/bindings.h"

namespace {

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
        if (!ShapeFits(record.dims.data(), record.dims.size(), type))
            return "input.dims overflow 64 bits (element or byte count).";
        bound.inputs.push_back({record.data, type, record.dims.data(), record.dims.size()});
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
        // Both are fine if a later record hands the outputs to the runtime,
        // since nothing is bound then.
        if (!record.data) {
            bound.null_output_data = true;
            continue;
        }
        if (!ShapeFits(record.dims.data(), record.dims.size(), type)) {
            bound.overflowing_output = true;
            continue;
        }
        bound.outputs.push_back({record.data, type, record.dims.data(), record.dims.size()});
    }
    if (bound.dynamic_outputs) return nullptr;
    if (bound.null_output_data) return "output.data is nullptr.";
    if (bound.overflowing_output) return "output.dims overflow 64 bits (element or byte count).";
    return nullptr;
}

}  // namespace

std::string CollectRecords(const Tessarine& object, const std::vector<TensorData>& inputs,
                           const std::vector<TensorData>& outputs, BoundTensors& bound) {
    static const std::string kNoName;
    if (const char* rejection =
            CollectInputs(inputs, object.input_names.empty() ? kNoName : object.input_names.front(), bound))
        return rejection;
    if (const char* rejection =
            CollectOutputs(outputs, object.output_names.empty() ? kNoName : object.output_names.front(), bound))
        return rejection;
    // Outputs left to the runtime bind nothing (see host_bindings.h).
    const RequestPorts& ports = object.request_ports;
    std::string rejection = ports.inputs.Check(bound.input_names, "input");
    if (rejection.empty() && !bound.dynamic_outputs) rejection = ports.outputs.Check(bound.output_names, "output");
    return rejection;
}

bool HeldAlready(const HostBindings& side, const std::vector<TensorData>& records) {
    // A lone record binds by position, which the runtime refuses on a model
    // with several ports on that side.
    if (records.empty() || (records.size() == 1 && side.Ports() != 1)) return false;
    const auto port_of = [&](const TensorData& record) { return records.size() == 1 ? 0 : side.PortOf(record.name); };
    size_t ports_named = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const TensorData& record = records[i];
        if (records.size() > 1 && record.name.empty()) return false;
        ov::element::Type type;
        try {
            type = Tessarine::DataTypeToElementType(record.type);
        } catch (const std::invalid_argument&) {
            return false;
        }
        const size_t port = port_of(record);
        if (!side.Holds(port, {record.data, type, record.dims.data(), record.dims.size()})) return false;
        bool named_before = false;
        for (size_t j = 0; j < i && !named_before; ++j) named_before = port_of(records[j]) == port;
        ports_named += !named_before;
    }
    size_t ports_held = 0;
    for (size_t port = 0; port < side.Ports(); ++port) ports_held += side.HoldsAny(port);
    return ports_named == ports_held;
}

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

