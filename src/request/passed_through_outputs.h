#ifndef TESSARINE_PASSED_THROUGH_OUTPUTS_H
#define TESSARINE_PASSED_THROUGH_OUTPUTS_H

#include <vector>

#include <openvino/openvino.hpp>

// Indices (in the compiled model's output order) of the outputs whose
// producer is a model input, in the model as built or as the device compiled
// it.
std::vector<size_t> FindPassedThroughOutputs(const ov::CompiledModel& compiled, const ov::Model& built);

#endif
