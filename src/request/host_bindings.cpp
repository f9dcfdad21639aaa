#include "request/host_bindings.h"

#include <algorithm>

ov::Tensor HostView::Tensor() const {
    return ov::Tensor(type, ov::Shape(dims, dims + rank), data, ov::Strides{});
}

void HostBindings::Reset(const std::vector<ov::Output<const ov::Node>>& ports, const std::vector<size_t>& never_bound) {
    port_names_.clear();
    for (const ov::Output<const ov::Node>& port : ports) {
        const auto& names = port.get_names();
        std::vector<std::string>& kept = port_names_.emplace_back(names.begin(), names.end());
        // The name the module records for the port comes first, for messages.
        if (!kept.empty()) std::iter_swap(kept.begin(), std::find(kept.begin(), kept.end(), port.get_any_name()));
    }
    // Such an output shares its names with the input it passes on, and with
    // every other output that passes on the same input.
    for (size_t port : never_bound) port_names_[port].clear();
    views_.assign(ports.size(), Held{});
    named_.assign(ports.size(), false);
}

void HostBindings::Clear() { Reset({}); }

void HostBindings::ForgetHeld() { std::fill(views_.begin(), views_.end(), Held{}); }

size_t HostBindings::PortOf(const std::string& name) const {
    for (size_t port = 0; port < port_names_.size(); ++port)
        if (std::find(port_names_[port].begin(), port_names_[port].end(), name) != port_names_[port].end())
            return port;
    return port_names_.size();
}

std::string HostBindings::Check(const std::vector<std::string>& names, const char* side) const {
    if (names.size() <= 1) return {};
    std::fill(named_.begin(), named_.end(), false);
    for (const std::string& name : names)
        if (const size_t port = PortOf(name); port < named_.size()) named_[port] = true;
    for (size_t port = 0; port < views_.size(); ++port) {
        if (!views_[port].data || named_[port]) continue;
        const std::string label =
            port_names_[port].empty() ? std::to_string(port) : "\"" + port_names_[port].front() + "\"";
        return std::string(side) + " " + label +
               " is not named, and the request still holds an earlier call's buffer for it.";
    }
    return {};
}

bool HostBindings::Holds(size_t port, const HostView& view) const {
    if (port >= views_.size()) return false;
    const Held& held = views_[port];
    if (!held.data || held.data != view.data || held.type != view.type || held.shape.size() != view.rank) return false;
    for (size_t i = 0; i < view.rank; ++i)
        if (held.shape[i] != static_cast<uint64_t>(view.dims[i])) return false;
    return true;
}

void HostBindings::Bind(ov::InferRequest& request, bool input, size_t port, const std::string* name,
                        const HostView& view) {
    if (Holds(port, view)) return;
    const ov::Tensor tensor = view.Tensor();
    if (name)
        request.set_tensor(*name, tensor);
    else if (input)
        request.set_input_tensor(tensor);
    else
        request.set_output_tensor(tensor);
    if (port < views_.size()) views_[port] = {view.data, view.type, tensor.get_shape()};
}
