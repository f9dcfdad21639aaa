// tensors mode: the tensors form. Named inputs from .npy files, every output to a
// .npy file; outputs of open shape are allocated by the runtime.
#include <cstdio>
#include <stdexcept>

#include "modes.h"
#include "module_host.h"
#include "npy.h"
#include "output_files.h"
#include "timing.h"

namespace {

struct LoadedInputs {
    std::vector<NpyArray> arrays;  // own the bytes the records point at
    std::vector<TensorData> records;
};

LoadedInputs ReadInputs(const std::vector<std::string>& arguments) {
    if (arguments.empty()) throw std::invalid_argument("tensors mode needs at least one --input NAME=FILE.npy");
    LoadedInputs loaded;
    loaded.arrays.reserve(arguments.size());
    for (const std::string& argument : arguments) {
        const size_t eq = argument.find('=');
        const std::string name = eq == std::string::npos ? "" : argument.substr(0, eq);
        const std::string path = eq == std::string::npos ? argument : argument.substr(eq + 1);
        NpyArray& array = loaded.arrays.emplace_back(ReadNpy(path));
        TensorData record;
        record.name = name;
        record.type = array.kind->data_type;
        record.dims = array.shape;
        record.data = array.bytes.data();
        loaded.records.push_back(record);
        std::printf("input %s: %s %s from %s\n", name.empty() ? "(unnamed)" : name.c_str(), array.kind->name,
                    ShapeText(array.shape, static_cast<uint32_t>(array.shape.size())).c_str(), path.c_str());
    }
    return loaded;
}

struct OutputPlan {
    std::vector<TensorData> records;  // the template each run starts from
    std::vector<const ElementKind*> kinds;
    std::vector<std::vector<char>> buffers;  // host buffers, when the shapes are complete
    bool runtime_allocated = false;
};

// An output's dims come from the model (by position); a dim the model leaves
// open, a rank past five, or --runtime-outputs hands allocation to the runtime.
OutputPlan PlanOutputs(const TensorOptions& options, const ModelShapes& shapes) {
    std::vector<std::string> arguments = options.outputs;
    if (arguments.empty() && shapes.outputs.size() == 1) arguments.push_back("");
    if (arguments.empty()) throw std::invalid_argument("the model has several outputs: name them with --output NAME");
    if (arguments.size() > shapes.outputs.size())
        throw std::invalid_argument("more --output options than model outputs");
    OutputPlan plan;
    plan.runtime_allocated = options.runtime_outputs;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const size_t colon = arguments[i].find(':');
        TensorData record;
        record.name = arguments[i].substr(0, colon);
        plan.kinds.push_back(&KindByName(colon == std::string::npos ? "f32" : arguments[i].substr(colon + 1)));
        record.type = plan.kinds.back()->data_type;
        record.dims = shapes.outputs[i];
        for (int64_t d : record.dims) plan.runtime_allocated |= d < 0;
        plan.runtime_allocated |= shapes.output_ranks[i] > 5;
        plan.records.push_back(record);
    }
    if (plan.runtime_allocated) {
        std::vector<int64_t>& dims = plan.records.front().dims;
        if (dims.empty()) dims.push_back(-1);
        dims.front() = -1;  // any negative dim asks the runtime to allocate
        return plan;
    }
    for (size_t i = 0; i < plan.records.size(); ++i) {
        plan.buffers.emplace_back(ElementCount(plan.records[i].dims) * plan.kinds[i]->size);
        plan.records[i].data = plan.buffers.back().data();
    }
    return plan;
}

std::string FileNameFor(const std::string& name, size_t index) {
    std::string file = name.empty() ? "output" + std::to_string(index) : name;
    for (char& c : file)
        if (c == '/' || c == '\\' || c == ':') c = '_';
    return file + ".npy";
}

void WriteOutputs(const std::vector<TensorData>& records, const OutputPlan& plan, const std::string& dir) {
    for (size_t i = 0; i < records.size(); ++i) {
        const std::string path = OutputPath(dir, FileNameFor(records[i].name, i));
        WriteNpy(path, *plan.kinds[i], records[i].dims, records[i].data);
        std::printf("output %s: %s %s (%s) -> %s\n", records[i].name.empty() ? "(unnamed)" : records[i].name.c_str(),
                    plan.kinds[i]->name,
                    ShapeText(records[i].dims, static_cast<uint32_t>(records[i].dims.size())).c_str(),
                    plan.runtime_allocated ? "allocated by the runtime" : "host buffer", path.c_str());
    }
}

}  // namespace

void RunTensors(const TensorOptions& options) {
    LoadedInputs inputs = ReadInputs(options.inputs);
    ModuleHost host(options.common.module);
    host.Load(options.common.model, options.common.device, options.common.precision);
    OutputPlan plan = PlanOutputs(options, host.Shapes());
    std::vector<TensorData> outputs;
    // Each run starts from the template: a runtime-allocated run rewrites the
    // records' dims and data, which must not be taken as host buffers next time.
    PrintLatency(TimeRuns(options.common.repeat, [&] {
        outputs = plan.records;
        host.Check(host.Inference().DoInference(inputs.records, outputs), "DoInference (tensors)");
    }));
    WriteOutputs(outputs, plan, options.common.out_dir);
}
