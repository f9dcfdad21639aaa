// Binding the host's buffers to the inference request.
#ifndef TESSARINE_BINDINGS_H
#define TESSARINE_BINDINGS_H

#include <string>
#include <utility>
#include <vector>

#include <openvino/runtime/infer_request.hpp>

#include "inference/request_ports.h"

// Bind a tensor over the host's memory unless the request already holds one
// over the same memory with the same element type, shape and strides, and
// return the tensor the request then holds. The runtime's set_tensor costs
// several microseconds a call, most of what the module would otherwise add to
// a small model, and binding an equal view again changes nothing. When the
// request cannot be asked, the tensor is bound, so the binding fails or
// succeeds exactly as it always did.
ov::Tensor BindInputTensor(ov::InferRequest& request, const ov::Tensor& tensor);
ov::Tensor BindOutputTensor(ov::InferRequest& request, const ov::Tensor& tensor);
ov::Tensor BindNamedTensor(ov::InferRequest& request, const std::string& name, const ov::Tensor& tensor);

// Whether a tensor of this shape and element type can be described in a
// 64-bit process: its element count and its byte count fit in 64 bits. A zero
// dim counts as one, since the runtime still multiplies the others out into
// strides. Past that, the runtime's own products wrap, and a buffer the size
// of the wrapped count passes its checks (the CPU plugin then reads past it,
// or divides by the zero the product wrapped to).
bool ShapeFits(const ov::Shape& shape, const ov::element::Type& type);

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
    void Take(const ov::Output<const ov::Node>& port, const ov::Tensor& host, const std::string& name);
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
// model with several fails there, as it must). Returns the tensor that will
// hold the output after the run.
ov::Tensor BindImageTensors(ov::InferRequest& request, RequestPorts& ports, const ov::Tensor& input,
                            const ov::Tensor& output, PassedThroughBuffers& passed);

#endif
