// Which outputs the compiled model feeds straight from an input. The CPU
// plugin gives such an output the input's own memory, so the inference forms
// must not bind a host buffer to it (see inference/bindings.h).
#include "loading/passed_through_outputs.h"

namespace {

void MarkParameterFed(const ov::ResultVector& results, std::vector<bool>& passed) {
    if (results.size() != passed.size()) return;
    for (size_t i = 0; i < results.size(); ++i)
        if (ov::is_type<ov::op::v0::Parameter>(results[i]->get_input_node_ptr(0))) passed[i] = true;
}

}  // namespace

std::vector<size_t> FindPassedThroughOutputs(const ov::CompiledModel& compiled, const ov::Model& built) {
    std::vector<bool> passed(compiled.outputs().size(), false);
    MarkParameterFed(built.get_results(), passed);
    // The plugin's own graph shows what it folded away at compile time (a
    // one-input Max or Sum, a Clip without bounds); its results come in the
    // compiled model's output order. A device that cannot show its graph is
    // taken at the model's word.
    try {
        MarkParameterFed(compiled.get_runtime_model()->get_results(), passed);
    } catch (const ov::Exception&) {
    }
    std::vector<size_t> indices;
    for (size_t i = 0; i < passed.size(); ++i)
        if (passed[i]) indices.push_back(i);
    return indices;
}
