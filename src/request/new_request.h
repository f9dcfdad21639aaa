// Where the object's inference request comes from: the load creates one for
// each compiled model, and the tensors form asks for a fresh one when the
// outputs go back to the runtime (the rule is in request_ports.h).
#ifndef TESSARINE_NEW_REQUEST_H
#define TESSARINE_NEW_REQUEST_H

#include <memory>

#include <openvino/openvino.hpp>

#include "request/request_ports.h"

// Replaces `request` (by this assignment only) with a new request from
// `compiled`, and `ports` with what is known of its ports: none holds a host
// buffer, and the outputs passed straight through from an input are those of
// `built` as `compiled` runs it. False when the runtime gave no request.
bool CreateRequest(ov::CompiledModel& compiled, const ov::Model& built,
                   std::shared_ptr<ov::InferRequest>& request, RequestPorts& ports);

// Before a run whose outputs the runtime allocates: a request that was last
// given host buffers for its outputs is replaced by a new one from its own
// compiled model (a reload whose compile failed leaves the old request
// without the object's compiled model); only the inputs the call binds carry
// over.
void OwnOutputsAgain(ov::InferRequest& request, RequestPorts& ports);

#endif
