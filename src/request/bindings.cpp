#include "request/bindings.h"

#include <sstream>
#include <stdexcept>

bool ShapeFits(const int64_t* dims, size_t rank, const ov::element::Type& type) {
    uint64_t bytes = type.size();
    for (size_t i = 0; i < rank; ++i) {
        const auto dim = static_cast<uint64_t>(dims[i]);
        if (dim == 0) continue;
        if (bytes > UINT64_MAX / dim) return false;
        bytes *= dim;
    }
    return true;
}

void PassedThroughBuffers::Take(const ov::Output<const ov::Node>& port, const HostView& view,
                                const std::string& name) {
    const ov::Tensor host = view.Tensor();
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

void BindImageViews(ov::InferRequest& request, RequestPorts& ports, const HostView& input, const HostView& output,
                    PassedThroughBuffers& passed) {
    ports.inputs.Bind(request, true, 0, nullptr, input);
    ports.outputs_in_host_memory = true;
    if (!ports.passed_through.empty()) {
        const std::vector<ov::Output<const ov::Node>> outputs = request.get_compiled_model().outputs();
        if (outputs.size() == 1) return passed.Take(outputs.front(), output, {});
    }
    ports.outputs.Bind(request, false, 0, nullptr, output);
}

void RunAndDeliver(ov::InferRequest& request, const PassedThroughBuffers& passed) {
    request.infer();
    passed.Deliver(request);
}
