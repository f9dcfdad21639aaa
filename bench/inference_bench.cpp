#include "inference_bench.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "machine_load.h"
#include "module_calls.h"

namespace {

// One loaded module, the host's buffers, and the raw requests made from the
// module's own compiled model.
struct Fixture {
    Fixture(const std::string& model_dir, const InferenceCase& c)
        : model(ReadFileBytes(model_dir + "/" + c.model + ".onnx")),
          object(NewObject()),
          b(c.width, c.height, OutputDims(c.width, c.height, c.map_output, c.map_channels)),
          other(c.width, c.height, b.output_dims) {
        LoadOrThrow(*object, model, -1);
        ov::CompiledModel& compiled = CompiledModelOf(*object);
        named_inputs = b.NamedInputs(compiled.input().get_any_name());
        named_outputs = b.NamedOutputs(compiled.output().get_any_name());
        raw = compiled.create_infer_request();
        raw.set_input_tensor(b.InputTensor());
        raw.set_output_tensor(b.OutputTensor());
        rebound = compiled.create_infer_request();
    }

    std::vector<char> model;  // the host keeps it while the object may read it
    ObjectPtr object;
    HostBuffers b;
    HostBuffers other;  // for a host that hands over other buffers on every call
    std::vector<TensorData> named_inputs;
    std::vector<TensorData> named_outputs;
    ov::InferRequest raw;      // tensors set once
    ov::InferRequest rebound;  // tensors set on every call
    int next = 0;
};

// The module's forms first, the raw baseline (start_async and wait) third.
std::vector<Variant> Variants(Fixture& f, bool map_output) {
    const Variant alternating[2] = {SingleForm(*f.object, f.b, map_output), SingleForm(*f.object, f.other, map_output)};
    return {SingleForm(*f.object, f.b, map_output),
            NamedForm(*f.object, f.named_inputs, f.named_outputs),
            {"raw_async", [&f] {
                 f.raw.start_async();
                 f.raw.wait();
             }},
            {"raw_infer", [&f] { f.raw.infer(); }},
            {"raw_rebind", [&f] {
                 f.rebound.set_input_tensor(f.b.InputTensor());
                 f.rebound.set_output_tensor(f.b.OutputTensor());
                 f.rebound.start_async();
                 f.rebound.wait();
             }},
            {"alternating", [&f, alternating] {
                 alternating[f.next].call();
                 f.next ^= 1;
             }}};
}

// The module's output against the raw request's, over the same buffer: both
// must have computed the same thing for the times to be comparable.
double MaxDifference(const Variant& module_call, ov::InferRequest& raw, std::vector<float>& output) {
    module_call.call();
    const std::vector<float> from_module = output;
    std::fill(output.begin(), output.end(), NAN);
    raw.infer();
    double worst = 0;
    for (size_t i = 0; i < output.size(); ++i)
        worst = std::max(worst, static_cast<double>(std::fabs(output[i] - from_module[i])));
    return worst;
}

}  // namespace

void RunInferenceCase(const std::string& model_dir, const InferenceCase& c, Results& results) {
    Fixture f(model_dir, c);
    const std::vector<Variant> variants = Variants(f, c.map_output);
    std::fprintf(stderr, "inference: %s at %ux%u\n", c.model.c_str(), c.width, c.height);
    const std::string key = "infer." + c.model;
    Samples samples;
    results.Add(key + ".others_cpu_share",
                RunUndisturbed(key.c_str(), [&] { samples = TimeInterleaved(variants, c.plan); }));

    for (size_t i = 0; i < variants.size(); ++i) results.AddTimes(key + "." + variants[i].name, samples[i], samples[2]);
    results.Add(key + ".size", std::to_string(c.width) + "x" + std::to_string(c.height));
    results.Add(key + ".rounds", c.plan.rounds);
    results.Add(key + ".calls_per_round", c.plan.calls_per_round);
    results.Add(key + ".max_abs_difference", MaxDifference(variants[0], f.raw, f.b.output));
    results.Add(key + ".threads", CompiledModelOf(*f.object).get_property(ov::inference_num_threads));
}
