// The tensors form's bindings: each record's view bound to the port its name
// names, or by position where a side has one record, whose name is not used.
#ifndef TESSARINE_NAMED_BINDINGS_H
#define TESSARINE_NAMED_BINDINGS_H

#include <string>
#include <vector>

#include <openvino/runtime/infer_request.hpp>

#include "request/bindings.h"

void BindNamedInputs(ov::InferRequest& request, HostBindings& side, const std::vector<std::string>& names,
                     const std::vector<HostView>& views);

// Outputs the compiled model feeds straight from an input are taken aside
// into `passed` instead of being bound (see bindings.h).
void BindNamedOutputs(ov::InferRequest& request, RequestPorts& ports, const std::vector<std::string>& names,
                      const std::vector<HostView>& views, PassedThroughBuffers& passed);

#endif
