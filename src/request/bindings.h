// Binding the host's buffers to the inference request, and delivering what
// the request cannot write into them itself.
#ifndef TESSARINE_BINDINGS_H
#define TESSARINE_BINDINGS_H

#include <string>
#include <vector>

#include <openvino/runtime/infer_request.hpp>

#include "request/request_ports.h"

// Whether a tensor of these dims and element type can be described in a
// 64-bit process: its element count and its byte count fit in 64 bits, the
// dims taken as unsigned. A zero dim counts as one, since the runtime still
// multiplies the others out into strides. Past that, the runtime's own
// products wrap, and a buffer the size of the wrapped count passes its checks
// (the CPU plugin then reads past it, or divides by the zero the product
// wrapped to).
bool ShapeFits(const int64_t* dims, size_t rank, const ov::element::Type& type);

// Host buffers of outputs that the compiled model feeds straight from an
// input (an Identity, a one-input Max, a Clip folded away). The runtime gives
// such an output the input's own memory, so a host buffer bound to it takes
// the input's place: that output is never written, and every output computed
// from the input is computed from the host's output buffer instead. These
// outputs are therefore never bound; after the run their values are copied
// into the host's buffers, the only copy on any inference path, and only of
// values the runtime did not compute.
class PassedThroughBuffers {
public:
    // Keeps `host` for `port` (the output the host calls `name`, which may
    // be empty), refusing it as binding it would: another element type, a
    // shape the output cannot have. A name taken again keeps the later buffer.
    void Take(const ov::Output<const ov::Node>& port, const HostView& host, const std::string& name);
    // After a successful run; a result of another shape than the host's
    // buffer fails, as it does for an output the runtime writes itself.
    void Deliver(ov::InferRequest& request) const;

private:
    struct Taken {
        ov::Output<const ov::Node> port;
        ov::Tensor host;
        std::string name;
    };
    std::vector<Taken> taken_;
};

// The map and detect forms' one input and one output, bound by position (a
// model with several fails there, as it must).
void BindImageViews(ov::InferRequest& request, RequestPorts& ports, const HostView& input, const HostView& output,
                    PassedThroughBuffers& passed);

// Runs the request to completion on this thread, then delivers the outputs
// passed through from an input. The runtime's synchronous call: it gives
// what start_async and wait give, ov::Busy on a running request included,
// about 17 µs sooner on a small model.
void RunAndDeliver(ov::InferRequest& request, const PassedThroughBuffers& passed);

#endif
