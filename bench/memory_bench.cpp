#include "memory_bench.h"

#include <cstdio>

#include "heap_counter.h"
#include "module_calls.h"

namespace {

constexpr int kWarmupCalls = 20;
constexpr int kCountedCalls = 200;

// The ways to run one image: the module's two forms for the model, the raw
// request with its tensors set once, and one that sets them on every call.
struct Runner {
    Runner(IImageAIInference& object, HostBuffers& b, bool map_output)
        : named_inputs(b.NamedInputs(CompiledModelOf(object).input().get_any_name())),
          named_outputs(b.NamedOutputs(CompiledModelOf(object).output().get_any_name())),
          raw(CompiledModelOf(object).create_infer_request()),
          rebound(CompiledModelOf(object).create_infer_request()) {
        raw.set_input_tensor(b.InputTensor());
        raw.set_output_tensor(b.OutputTensor());
        variants = {SingleForm(object, b, map_output), NamedForm(object, named_inputs, named_outputs),
                    {"raw_async", [this] {
                         raw.start_async();
                         raw.wait();
                     }},
                    {"raw_rebind", [this, &b] {
                         rebound.set_input_tensor(b.InputTensor());
                         rebound.set_output_tensor(b.OutputTensor());
                         rebound.start_async();
                         rebound.wait();
                     }}};
    }

    std::vector<TensorData> named_inputs;
    std::vector<TensorData> named_outputs;
    ov::InferRequest raw;
    ov::InferRequest rebound;  // new tensors on every call, as the module must bind them
    std::vector<Variant> variants;
};

}  // namespace

void RunHeapCase(const std::string& model_dir, const MemoryCase& c, Results& results) {
    const std::vector<char> model = ReadFileBytes(model_dir + "/" + c.model + ".onnx");
    ObjectPtr object = NewObject();
    LoadOrThrow(*object, model, -1);
    std::fprintf(stderr, "heap: %s\n", c.model.c_str());
    for (uint32_t size : {c.small_size, c.large_size}) {
        HostBuffers b(size, size, OutputDims(size, size, c.map_output, c.map_channels));
        Runner runner(*object, b, c.map_output);
        const std::string key = "heap." + c.model + "." + std::to_string(size);
        results.Add(key + ".tensor_bytes", static_cast<double>((b.input.size() + b.output.size()) * sizeof(float)));
        for (const Variant& variant : runner.variants) {
            for (int i = 0; i < kWarmupCalls; ++i) variant.call();
            const HeapCount before = HeapCountNow();
            for (int i = 0; i < kCountedCalls; ++i) variant.call();
            const HeapCount after = HeapCountNow();
            results.Add(key + "." + variant.name + ".allocations",
                        static_cast<double>(after.allocations - before.allocations) / kCountedCalls);
            results.Add(key + "." + variant.name + ".bytes",
                        static_cast<double>(after.bytes - before.bytes) / kCountedCalls);
        }
    }
    results.Add("heap." + c.model + ".sizes", std::to_string(c.small_size) + "," + std::to_string(c.large_size));
}

void RunResidentCase(const std::string& model_dir, const MemoryCase& c, Results& results) {
    const std::vector<char> model = ReadFileBytes(model_dir + "/" + c.model + ".onnx");
    ObjectPtr object = NewObject();
    LoadOrThrow(*object, model, -1);
    HostBuffers b(c.small_size, c.small_size, OutputDims(c.small_size, c.small_size, c.map_output, c.map_channels));
    Runner runner(*object, b, c.map_output);
    std::fprintf(stderr, "resident: %s\n", c.model.c_str());
    for (const Variant& variant : runner.variants) {
        if (variant.name.rfind("raw", 0) == 0) continue;
        const std::string key = "rss." + c.model + "." + variant.name;
        for (int i = 0; i < 100; ++i) variant.call();
        results.Add(key + ".after_100_kib", static_cast<double>(ResidentKib()));
        for (int i = 100; i < 10000; ++i) variant.call();
        results.Add(key + ".after_10000_kib", static_cast<double>(ResidentKib()));
    }
}
