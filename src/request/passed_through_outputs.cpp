// Which outputs the compiled model feeds straight from an input. The CPU
// plugin gives such an output the input's own memory, so the inference forms
// must not bind a host buffer to it (see request/bindings.h).
#include "request/passed_through_outputs.h"

namespace {

bool FedByParameter(const ov::Node& result) {
    return ov::is_type<ov::op::v0::Parameter>(result.get_input_node_ptr(0));
}

}  // namespace

std::vector<size_t> FindPassedThroughOutputs(const ov::CompiledModel& compiled, const ov::Model& built) {
    // The compiled model's outputs are the built model's results, in order.
    const ov::ResultVector& results = built.get_results();
    const std::vector<ov::Output<const ov::Node>> outputs = compiled.outputs();
    std::vector<bool> passed(outputs.size(), false);
    for (size_t i = 0; i < outputs.size() && i < results.size(); ++i) passed[i] = FedByParameter(*results[i]);
    // The plugin's own graph shows what it folded away at compile time (a
    // one-input Max or Sum, a Clip without bounds). Its results keep the
    // friendly names of the compiled model's, which is how they are matched:
    // their order is the plugin's. Where a name is shared, every output of
    // that name counts as passed through, which costs a copy and loses
    // nothing. A device that cannot show its graph is taken at the model's word.
    try {
        const std::shared_ptr<const ov::Model> runtime_model = compiled.get_runtime_model();
        for (const std::shared_ptr<ov::op::v0::Result>& result : runtime_model->get_results()) {
            if (!FedByParameter(*result)) continue;
            for (size_t i = 0; i < outputs.size(); ++i)
                if (outputs[i].get_node()->get_friendly_name() == result->get_friendly_name()) passed[i] = true;
        }
    } catch (const ov::Exception&) {
    }
    std::vector<size_t> indices;
    for (size_t i = 0; i < passed.size(); ++i)
        if (passed[i]) indices.push_back(i);
    return indices;
}
