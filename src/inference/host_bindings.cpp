#include "inference/host_bindings.h"

#include <algorithm>

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
    held_.assign(ports.size(), false);
    named_.assign(ports.size(), false);
}

void HostBindings::Clear() { Reset({}); }

void HostBindings::ForgetHeld() { std::fill(held_.begin(), held_.end(), false); }

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
    for (size_t port = 0; port < held_.size(); ++port) {
        if (!held_[port] || named_[port]) continue;
        const std::string label =
            port_names_[port].empty() ? std::to_string(port) : "\"" + port_names_[port].front() + "\"";
        return std::string(side) + " " + label +
               " is not named, and the request still holds an earlier call's buffer for it.";
    }
    return {};
}

void HostBindings::Hold(const std::string& name) {
    const size_t port = PortOf(name);
    if (port < held_.size()) held_[port] = true;
}

void HostBindings::HoldFirst() {
    if (!held_.empty()) held_.front() = true;
}
