#include "inference/bindings.h"

#include <sstream>
#include <stdexcept>

namespace {

// The element types are compared first: strides cannot be asked of a tensor
// whose elements are narrower than a byte, and the host's never are.
template <class Get>
bool HeldAlready(Get&& get, const ov::Tensor& wanted, ov::Tensor& held) {
    try {
        held = get();
        return held.get_element_type() == wanted.get_element_type() && held.data() == wanted.data() &&
               held.get_shape() == wanted.get_shape() && held.get_strides() == wanted.get_strides();
    } catch (...) {
        return false;
    }
}

}  // namespace

ov::Tensor BindInputTensor(ov::InferRequest& request, const ov::Tensor& tensor) {
    ov::Tensor held;
    if (HeldAlready([&] { return request.get_input_tensor(); }, tensor, held)) return held;
    request.set_input_tensor(tensor);
    return tensor;
}

ov::Tensor BindOutputTensor(ov::InferRequest& request, const ov::Tensor& tensor) {
    ov::Tensor held;
    if (HeldAlready([&] { return request.get_output_tensor(); }, tensor, held)) return held;
    request.set_output_tensor(tensor);
    return tensor;
}

ov::Tensor BindNamedTensor(ov::InferRequest& request, const std::string& name, const ov::Tensor& tensor) {
    ov::Tensor held;
    if (HeldAlready([&] { return request.get_tensor(name); }, tensor, held)) return held;
    request.set_tensor(name, tensor);
    return tensor;
}

bool ShapeFits(const ov::Shape& shape, const ov::element::Type& type) {
    uint64_t bytes = type.size();
    for (const uint64_t dim : shape) {
        if (dim == 0) continue;
        if (bytes > UINT64_MAX / dim) return false;
        bytes *= dim;
    }
    return true;
}

void PassedThroughBuffers::Take(const ov::Output<const ov::Node>& port, const ov::Tensor& host,
                                const std::string& name) {
    if (host.get_element_type() != port.get_element_type() || !port.get_partial_shape().compatible(host.get_shape())) {
        std::ostringstream text;
        text << "the buffer for output ";
        if (name.empty())
            text << port.get_index();
        else
            text << "'" << name << "'";
        text << " (" << host.get_element_type() << " " << host.get_shape() << ") does not fit the model's output ("
             << port.get_element_type() << " " << port.get_partial_shape() << ").";
        throw std::invalid_argument(text.str());
    }
    // A name given again takes the later buffer, as a binding would. (Names
    // the runtime shares between such outputs may find one port for two
    // records; each record then gets that port's values.)
    for (Taken& taken : taken_)
        if (taken.port == port && taken.name == name) return void(taken.host = host);
    taken_.push_back({port, host, name});
}

void PassedThroughBuffers::Deliver(ov::InferRequest& request) const {
    for (const Taken& taken : taken_) request.get_tensor(taken.port).copy_to(taken.host);
}

ov::Tensor BindImageTensors(ov::InferRequest& request, RequestPorts& ports, const ov::Tensor& input,
                            const ov::Tensor& output, PassedThroughBuffers& passed) {
    ports.inputs.HoldFirst();
    BindInputTensor(request, input);
    ports.outputs_in_host_memory = true;
    if (!ports.passed_through.empty()) {
        const std::vector<ov::Output<const ov::Node>> outputs = request.get_compiled_model().outputs();
        if (outputs.size() == 1) {
            passed.Take(outputs.front(), output, {});
            return output;
        }
    }
    ports.outputs.HoldFirst();
    return BindOutputTensor(request, output);
}
