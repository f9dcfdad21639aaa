// What the module knows of its inference request's ports beyond the request
// itself: which hold a buffer of the host's, and which outputs the compiled
// model feeds straight from an input. It describes one request: a load sets it
// up for the request it creates, a release clears it, and a fresh request for
// runtime-allocated outputs keeps only what it knows of the outputs.
#ifndef TESSARINE_REQUEST_PORTS_H
#define TESSARINE_REQUEST_PORTS_H

#include <vector>

#include <openvino/runtime/compiled_model.hpp>

#include "inference/host_bindings.h"

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
