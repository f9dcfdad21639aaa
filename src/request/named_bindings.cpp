#include "request/named_bindings.h"

#include <algorithm>

namespace {

size_t OutputIndexOf(const std::vector<ov::Output<const ov::Node>>& ports, const std::string& name) {
    for (size_t i = 0; i < ports.size(); ++i)
        if (ports[i].get_names().count(name)) return i;
    return ports.size();
}

}  // namespace

void BindNamedInputs(ov::InferRequest& request, HostBindings& side, const std::vector<std::string>& names,
                     const std::vector<HostView>& views) {
    if (names.size() == 1) return side.Bind(request, true, 0, nullptr, views.front());
    for (size_t i = 0; i < names.size(); ++i) side.Bind(request, true, side.PortOf(names[i]), &names[i], views[i]);
}

// The lookup of passed-through outputs costs nothing on a model without them.
void BindNamedOutputs(ov::InferRequest& request, RequestPorts& ports, const std::vector<std::string>& names,
                      const std::vector<HostView>& views, PassedThroughBuffers& passed) {
    std::vector<ov::Output<const ov::Node>> model_outputs;
    if (!ports.passed_through.empty()) model_outputs = request.get_compiled_model().outputs();
    auto passed_through = [&](size_t index) {
        return std::count(ports.passed_through.begin(), ports.passed_through.end(), index) > 0;
    };
    ports.outputs_in_host_memory = true;
    if (names.size() == 1) {
        // By position: with several model outputs the binding fails, as it must.
        if (model_outputs.size() == 1 && passed_through(0))
            return passed.Take(model_outputs.front(), views.front(), names.front());
        return ports.outputs.Bind(request, false, 0, nullptr, views.front());
    }
    for (size_t i = 0; i < names.size(); ++i) {
        const size_t index = OutputIndexOf(model_outputs, names[i]);
        if (index < model_outputs.size() && passed_through(index)) {
            passed.Take(model_outputs[index], views[i], names[i]);
            continue;
        }
        ports.outputs.Bind(request, false, ports.outputs.PortOf(names[i]), &names[i], views[i]);
    }
}
