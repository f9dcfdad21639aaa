// What the module knows of its inference request's ports beyond the request
// itself: which hold a buffer of the host's, and which outputs the compiled
// model feeds straight from an input.
//
// A request keeps every tensor it was given until it is replaced: by a load
// or a rebuild, which creates a new one (new_request.h), by a release, or by
// a fresh request for runtime-allocated outputs. These ports describe one
// request and go with it: a load sets them up for the request it creates, a
// release clears them, and a fresh request keeps only what is known of the
// outputs. What follows from the rule: a call that left a held port out
// would run on an earlier call's buffer, which the host may have freed
// (host_bindings.h refuses it), and a run with outputs left to the runtime
// would write into the host buffers of an earlier call (new_request.h
// replaces the request first).
#ifndef TESSARINE_REQUEST_PORTS_H
#define TESSARINE_REQUEST_PORTS_H

#include <vector>

#include <openvino/runtime/compiled_model.hpp>

#include "request/host_bindings.h"

struct RequestPorts {
    void Reset(const ov::CompiledModel& compiled, std::vector<size_t> passed_through_outputs);
    void Clear();
    // A fresh request from the same compiled model holds no host buffer.
    void ForgetHeld();

    HostBindings inputs, outputs;
    // Outputs (by index) that the compiled model feeds straight from an input:
    // never bound to a host buffer (see bindings.h).
    std::vector<size_t> passed_through;
    // Whether the request's outputs were last bound to host buffers, which it
    // keeps until it is given others.
    bool outputs_in_host_memory = false;
};

#endif
