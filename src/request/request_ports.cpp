#include "request/request_ports.h"

void RequestPorts::Reset(const ov::CompiledModel& compiled, std::vector<size_t> passed_through_outputs) {
    passed_through = std::move(passed_through_outputs);
    inputs.Reset(compiled.inputs());
    outputs.Reset(compiled.outputs(), passed_through);
    outputs_in_host_memory = false;
}

void RequestPorts::Clear() {
    inputs.Clear();
    outputs.Clear();
    passed_through.clear();
    outputs_in_host_memory = false;
}

void RequestPorts::ForgetHeld() {
    inputs.ForgetHeld();
    outputs.ForgetHeld();
    outputs_in_host_memory = false;
}
