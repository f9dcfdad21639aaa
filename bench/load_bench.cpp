#include "load_bench.h"

#include <cstdio>
#include <optional>

#include "machine_load.h"
#include "module_calls.h"

namespace {

// Adds the page faults of every call to a count.
Variant CountingFaults(Variant variant, long& faults) {
    return {variant.name, [call = std::move(variant.call), &faults] {
                const long before = MinorFaults();
                call();
                faults += MinorFaults() - before;
            }};
}

// What a user of the bare runtime does to get from the bytes to a request.
struct RawLoad {
    std::optional<ov::InferRequest> request;
    std::optional<ov::CompiledModel> compiled;

    // The previous model goes first, as in LoadModel, so that both pay for it.
    void Release() {
        request.reset();
        compiled.reset();
    }
};

void RawLoadOnCpu(ov::Core& core, const std::vector<char>& bytes, RawLoad& raw) {
    raw.Release();
    const std::string model_bytes(bytes.data(), bytes.size());
    const std::shared_ptr<ov::Model> model = core.read_model(model_bytes, ov::Tensor());
    raw.compiled = core.compile_model(model, "CPU", CpuConfig());
    raw.request = raw.compiled->create_infer_request();
}

// An object loaded on device -2, whose core has the "NPU" double.
ObjectPtr ObjectOnNpuDouble(const std::vector<char>& bytes) {
    ObjectPtr object = NewObject();
    TessarineTestAccess::SetCore(static_cast<Tessarine&>(*object), CoreWithNpuDouble());
    LoadOrThrow(*object, bytes, -2);
    return object;
}

// The raw steps of a rebuild for a new size on MULTI, then the inference.
void RawRebuildAndRun(ov::Core& core, const std::vector<char>& bytes, HostBuffers& b, RawLoad& raw) {
    raw.Release();
    const std::string model_bytes(bytes.data(), bytes.size());
    const std::shared_ptr<ov::Model> model = core.read_model(model_bytes, ov::Tensor());
    model->reshape(ov::PartialShape{1, 3, b.height, b.width});
    raw.compiled = core.compile_model(model, "MULTI", ov::AnyMap{{"MULTI_DEVICE_PRIORITIES", "NPU"}});
    raw.request = raw.compiled->create_infer_request();
    raw.request->set_input_tensor(b.InputTensor());
    raw.request->set_output_tensor(b.OutputTensor());
    raw.request->start_async();
    raw.request->wait();
}

}  // namespace

void RunLoadCase(const std::string& model_dir, const LoadCase& c, Results& results) {
    // Two copies at two addresses: a load from the buffer of the last load
    // reuses its copy of the bytes, so alternating makes every load a full one.
    const std::vector<char> copies[2] = {ReadFileBytes(model_dir + "/" + c.model + ".onnx"),
                                         ReadFileBytes(model_dir + "/" + c.model + ".onnx")};
    ObjectPtr object = NewObject();
    int next = 0;
    ov::Core core;
    RawLoad raw;
    long faults[2] = {0, 0};
    const std::vector<Variant> variants = {
        CountingFaults({"module",
                        [&] {
                            LoadOrThrow(*object, copies[next], -1);
                            next ^= 1;
                        }},
                       faults[0]),
        CountingFaults({"raw", [&] { RawLoadOnCpu(core, copies[0], raw); }}, faults[1])};
    std::fprintf(stderr, "load: %s\n", c.model.c_str());
    const std::string key = "load." + c.model;
    Samples samples;
    results.Add(key + ".others_cpu_share", RunUndisturbed(key.c_str(), [&] {
                    faults[0] = faults[1] = 0;
                    samples = TimeInterleaved(variants, c.plan);
                }));
    results.AddTimes(key + ".module", samples[0], samples[1]);
    results.AddTimes(key + ".raw", samples[1]);
    results.Add(key + ".rounds", c.plan.rounds);
    const double loads = c.plan.warmup_calls + c.plan.rounds * c.plan.calls_per_round;
    results.Add(key + ".module.faults_per_load", faults[0] / loads);
    results.Add(key + ".raw.faults_per_load", faults[1] / loads);
}

void RunRebuildCase(const std::string& model_dir, const RebuildCase& c, Results& results) {
    const std::vector<char> bytes = ReadFileBytes(model_dir + "/" + c.model + ".onnx");
    std::vector<HostBuffers> buffers;
    for (uint32_t size : c.sizes) buffers.emplace_back(size, size, OutputDims(size, size, c.map_output, c.map_channels));

    QuietStdout quiet;  // every rebuild prints "Need Reshape model"
    ObjectPtr rebuilding = ObjectOnNpuDouble(bytes);
    ObjectPtr settled = ObjectOnNpuDouble(bytes);
    std::shared_ptr<ov::Core> core = CoreWithNpuDouble();
    core->set_property("NPU", ov::log::level(ov::log::Level::DEBUG));  // as LoadModel sets it
    RawLoad raw;
    int next = 0;
    int raw_next = 0;
    const Variant module_calls[2] = {SingleForm(*rebuilding, buffers[0], c.map_output),
                                     SingleForm(*rebuilding, buffers[1], c.map_output)};
    Variant settled_call = SingleForm(*settled, buffers[0], c.map_output);
    settled_call.name = "module_same_size";
    const std::vector<Variant> variants = {
        {"module_rebuild", [&] {
             module_calls[next].call();
             next ^= 1;
         }},
        {"raw_rebuild", [&] {
             RawRebuildAndRun(*core, bytes, buffers[raw_next], raw);
             raw_next ^= 1;
         }},
        settled_call};
    std::fprintf(stderr, "rebuild: %s\n", c.model.c_str());
    const std::string key = "rebuild." + c.model;
    Samples samples;
    results.Add(key + ".others_cpu_share",
                RunUndisturbed(key.c_str(), [&] { samples = TimeInterleaved(variants, c.plan); }));
    results.AddTimes(key + ".module", samples[0], samples[1]);
    results.AddTimes(key + ".raw", samples[1]);
    results.AddTimes(key + ".same_size", samples[2]);
    results.Add(key + ".sizes", std::to_string(c.sizes[0]) + "," + std::to_string(c.sizes[1]));
    results.Add(key + ".rounds", c.plan.rounds);
}
