// Which ports of the inference request hold a buffer of the host's.
//
// A request keeps every tensor it was given until it is replaced (by a load,
// a rebuild, a release, or a fresh request for runtime-allocated outputs). A
// tensors call that left such a port out would run on an earlier call's
// buffer, which the host may have freed since: the run would read it, or
// write a result into it. So on a side with several records, a port that
// holds a host buffer must be named again; the call is refused before
// anything is bound otherwise. A port named twice is bound twice, and the
// later buffer stands. The check costs a few name comparisons and allocates
// nothing unless it refuses.
#ifndef TESSARINE_HOST_BINDINGS_H
#define TESSARINE_HOST_BINDINGS_H

#include <string>
#include <vector>

#include <openvino/core/node_output.hpp>

class HostBindings {
public:
    // The ports of a new request, none holding a host buffer; those listed in
    // never_bound (outputs passed straight through from an input) are never
    // given one, so no rule applies to them.
    void Reset(const std::vector<ov::Output<const ov::Node>>& ports, const std::vector<size_t>& never_bound = {});
    // No request at all.
    void Clear();
    // A fresh request for the same ports.
    void ForgetHeld();

    // The rejection text for the names a call binds on one side ("input" or
    // "output"), or an empty text. A lone name is never used (the request
    // binds by position), nor is a name no port has (the runtime refuses it).
    std::string Check(const std::vector<std::string>& names, const char* side) const;
    // Marks the port a name binds, or the first port (bound by position).
    void Hold(const std::string& name);
    void HoldFirst();

private:
    size_t PortOf(const std::string& name) const;

    std::vector<std::vector<std::string>> port_names_;  // every tensor name of each port
    std::vector<bool> held_;
    mutable std::vector<bool> named_;  // scratch of Check, sized with the ports
};

#endif
