#include "request/new_request.h"

#include "request/passed_through_outputs.h"

bool CreateRequest(ov::CompiledModel& compiled, const ov::Model& built,
                   std::shared_ptr<ov::InferRequest>& request, RequestPorts& ports) {
    std::vector<size_t> passed_through = FindPassedThroughOutputs(compiled, built);
    ov::InferRequest created = compiled.create_infer_request();
    request = created ? std::make_shared<ov::InferRequest>(std::move(created)) : nullptr;
    ports.Reset(compiled, std::move(passed_through));
    return request != nullptr;
}

void OwnOutputsAgain(ov::InferRequest& request, RequestPorts& ports) {
    if (!ports.outputs_in_host_memory) return;
    request = request.get_compiled_model().create_infer_request();
    ports.ForgetHeld();
}
