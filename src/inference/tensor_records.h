// The tensors form's records: what a call's input and output records ask
// for, checked before anything is bound, and the records filled from the
// request's own results when the outputs are left to the runtime.
#ifndef TESSARINE_TENSOR_RECORDS_H
#define TESSARINE_TENSOR_RECORDS_H

#include <string>
#include <vector>

#include "request/host_bindings.h"
#include "module/tessarine.h"

struct BoundTensors {
    std::vector<std::string> input_names;
    std::vector<HostView> inputs;
    std::vector<std::string> output_names;
    std::vector<HostView> outputs;  // none when the runtime allocates the outputs
    bool dynamic_outputs = false;
    bool null_output_data = false;
    bool overflowing_output = false;
};

// The first record that cannot be used decides the text, inputs before
// outputs; empty when every record is usable. An empty name stands for the
// model's first input or output when its record is the only one of its side.
std::string CollectRecords(const Tessarine& object, const std::vector<TensorData>& inputs,
                           const std::vector<TensorData>& outputs, BoundTensors& bound);

// Whether the records name, side by side, exactly the views the request's
// ports hold, and every port that holds one: a call that has nothing to bind
// and nothing to check that an earlier call did not. A record with anything
// to check (a dynamic output, an unknown type code) is never held.
bool HeldAlready(const HostBindings& side, const std::vector<TensorData>& records);

// Width and height of the first input of three or four dimensions, low 32
// bits; records of other ranks are passed over. 0 x 0 when there is none.
void FindInputSize(const std::vector<TensorData>& records, int32_t& width, int32_t& height);

// Points each output record at the request's own result: no copy is made.
void FillRuntimeOutputs(ov::InferRequest& request, const std::vector<std::string>& names,
                        std::vector<TensorData>& records);

#endif
