// Which ports of the inference request hold a buffer of the host's, and
// exactly which view of it: the data pointer, the element type and the shape.
//
// Since a request keeps every tensor it was given (request_ports.h), a
// tensors call that left such a port out would run on an earlier call's
// buffer, which the host may have freed since: the run would read it, or
// write a result into it. So on a side with several records, a port that
// holds a host buffer must be named again; the call is refused before
// anything is bound otherwise. A port named twice is bound twice, and the
// later buffer stands.
//
// Knowing the view each port holds lets a call that hands over the buffers,
// types and shapes of the call before bind nothing at all: the runtime's
// set_tensor costs several microseconds, and a view built to compare with
// the request's own would allocate. Every binding the module makes goes
// through Bind, so the views are those the request holds.
#ifndef TESSARINE_HOST_BINDINGS_H
#define TESSARINE_HOST_BINDINGS_H

#include <string>
#include <vector>

#include <openvino/core/node_output.hpp>
#include <openvino/runtime/infer_request.hpp>

// A host buffer as a call describes it. The dims are the call's own (a
// record's, or an image form's array), read only while the call runs.
struct HostView {
    void* data;
    ov::element::Type type;
    const int64_t* dims;
    size_t rank;
    ov::Tensor Tensor() const;  // over the host's memory, dense
};

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
    // The port a name binds; past the last port when no port has it.
    size_t PortOf(const std::string& name) const;
    size_t Ports() const { return views_.size(); }
    bool Holds(size_t port, const HostView& view) const;
    bool HoldsAny(size_t port) const { return port < views_.size() && views_[port].data; }
    // Binds the view to port `port` of the request's inputs (or outputs),
    // by name, or by position when name is null, unless the port holds it
    // already.
    void Bind(ov::InferRequest& request, bool input, size_t port, const std::string* name, const HostView& view);

private:
    struct Held {
        void* data = nullptr;
        ov::element::Type type;
        ov::Shape shape;
    };
    std::vector<std::vector<std::string>> port_names_;  // every tensor name of each port
    std::vector<Held> views_;
    mutable std::vector<bool> named_;  // scratch of Check, sized with the ports
};

#endif
