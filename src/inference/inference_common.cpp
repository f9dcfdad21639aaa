#include "inference/inference_common.h"

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
        text << "the buffer for output '" << name << "' (" << host.get_element_type() << " "
             << host.get_shape() << ") does not fit the model's output (" << port.get_element_type() << " "
             << port.get_partial_shape() << ").";
        throw std::invalid_argument(text.str());
    }
    taken_.emplace_back(port, host);
}

void PassedThroughBuffers::Deliver(ov::InferRequest& request) const {
    for (const auto& [port, host] : taken_) request.get_tensor(port).copy_to(host);
}

bool TakeIfPassedThrough(ov::InferRequest& request, const std::vector<size_t>& passed_through_outputs,
                         const ov::Tensor& host, PassedThroughBuffers& passed) {
    if (passed_through_outputs.empty()) return false;
    // With several outputs the unnamed binding fails, as it must.
    const std::vector<ov::Output<const ov::Node>> ports = request.get_compiled_model().outputs();
    if (ports.size() != 1) return false;
    passed.Take(ports.front(), host, ports.front().get_any_name());
    return true;
}

bool Tessarine::ReportInferenceError(const char* format, const char* what) {
    last_error = what;
    TraceParts(last_error);
    ConsoleLine(format, last_error);
    return false;
}

bool Tessarine::RejectRequest(const std::string& message) {
    last_error = message;
    TraceParts(last_error);
    ConsoleLine("[OpenVINOInstance]DoInference error: %s", last_error);
    return false;
}

// Only the MULTI choices compile for one fixed size; every other device takes
// the size it is given.
bool Tessarine::RebuildNeeded(int32_t width, int32_t height) const {
    return (current_gpu_index == -2 || current_gpu_index == -3) && (input_width != width || input_height != height);
}

// The failed load has printed its own line; the release it began with dropped
// the request and set input_width and input_height to -1, so the next call
// tries the rebuild again.
bool Tessarine::RejectFailedRebuild() {
    const std::string cause = last_error.empty() ? std::string(".") : ": " + last_error;
    return RejectRequest("the model could not be rebuilt for the new input size" + cause);
}
