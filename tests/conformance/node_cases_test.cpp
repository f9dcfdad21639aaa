// The ONNX backend's node test cases (onnx 1.16.2, written out at build time
// by prepare_node_cases.py), each run on the runtime directly and through the
// production library's DoInference(2), with the host's output buffers and
// with outputs the runtime allocates. A case passes when every output of
// every data set matches ONNX's reference. What the runtime itself gets wrong
// is not the module's to fix; a case the runtime passes, the module must pass
// too.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "hardening/host.h"

namespace {

struct Tensor {
    std::string name;
    int32_t code;
    std::vector<int64_t> dims;
    std::vector<unsigned char> bytes;
};

struct DataSet {
    std::vector<Tensor> inputs, outputs;
};

struct Case {
    std::string name, kind;
    std::vector<DataSet> sets;
};

std::vector<Case> ReadCases(const std::string& dir) {
    std::ifstream list(dir + "/cases.txt"), data(dir + "/data.bin", std::ios::binary);
    if (!list || !data) throw std::runtime_error("no node cases in " + dir);
    std::vector<Case> cases;
    for (std::string line; std::getline(list, line);) {
        std::istringstream fields(line);
        std::string what;
        std::getline(fields, what, '\t');
        if (what == "case") {
            Case& c = cases.emplace_back();
            std::getline(fields, c.name, '\t');
            std::getline(fields, c.kind, '\t');
        } else if (what == "set") {
            cases.back().sets.emplace_back();
        } else {
            Tensor t;
            std::getline(fields, t.name, '\t');
            int64_t offset = 0, size = 0;
            fields >> t.code >> offset >> size;
            for (int64_t d; fields >> d;) t.dims.push_back(d);
            t.bytes.resize(size);
            data.seekg(offset).read(reinterpret_cast<char*>(t.bytes.data()), size);
            DataSet& set = cases.back().sets.back();
            (what == "in" ? set.inputs : set.outputs).push_back(std::move(t));
        }
    }
    return cases;
}

std::vector<char> ModelBytes(const std::string& dir, const std::string& name) {
    std::ifstream file(dir + "/" + name + ".onnx", std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

template <class T>
bool Close(const void* got, const void* want, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const double a = static_cast<double>(static_cast<const T*>(got)[i]);
        const double b = static_cast<double>(static_cast<const T*>(want)[i]);
        if (std::isnan(a) != std::isnan(b) || (!std::isnan(b) && !(std::fabs(a - b) <= 1e-7 + 1e-3 * std::fabs(b))))
            return false;
    }
    return true;
}

// ONNX's own tolerance for floating-point results; the rest must be exact.
bool Matches(const Tensor& want, const void* data, const ov::Shape& shape) {
    if (std::vector<int64_t>(shape.begin(), shape.end()) != want.dims) return false;
    const size_t count = ov::shape_size(shape);
    if (want.code == DATA_TYPE_FLOAT16) return Close<ov::float16>(data, want.bytes.data(), count);
    if (want.code == DATA_TYPE_FLOAT32) return Close<float>(data, want.bytes.data(), count);
    if (want.code == DATA_TYPE_FLOAT64) return Close<double>(data, want.bytes.data(), count);
    return std::memcmp(data, want.bytes.data(), want.bytes.size()) == 0;
}

// A buffer of no elements still has an address, for the module and the runtime alike.
void* Data(Tensor& t) {
    static unsigned char no_bytes;
    return t.bytes.empty() ? &no_bytes : t.bytes.data();
}

ov::Tensor View(Tensor& t) {
    return {Tessarine::DataTypeToElementType(t.code), ov::Shape(t.dims.begin(), t.dims.end()), Data(t)};
}

bool RuntimePasses(ov::Core& core, const std::vector<char>& bytes, std::vector<DataSet>& sets) {
    try {
        const std::string model(bytes.begin(), bytes.end());
        ov::CompiledModel compiled = core.compile_model(core.read_model(model, ov::Tensor()), "CPU");
        ov::InferRequest request = compiled.create_infer_request();
        for (DataSet& set : sets) {
            // By position: the runtime may give an input the name of the
            // output it passes through, and its own name is gone then.
            for (size_t i = 0; i < set.inputs.size(); ++i) request.set_input_tensor(i, View(set.inputs[i]));
            request.infer();
            for (size_t i = 0; i < set.outputs.size(); ++i) {
                const ov::Tensor result = request.get_output_tensor(i);
                if (!Matches(set.outputs[i], result.data(), result.get_shape())) return false;
            }
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool ModulePasses(IImageAIInference& object, std::vector<DataSet>& sets, bool runtime_outputs) {
    for (DataSet& set : sets) {
        std::vector<TensorData> inputs, outputs;
        for (Tensor& t : set.inputs) inputs.push_back(Record(t.name, t.dims, Data(t), t.code));
        std::vector<std::vector<unsigned char>> buffers;
        for (const Tensor& t : set.outputs) {
            std::vector<unsigned char>& buffer = buffers.emplace_back(t.bytes.size() + 1, 0xCD);
            outputs.push_back(Record(t.name, t.dims, runtime_outputs ? nullptr : buffer.data(), t.code));
        }
        if (runtime_outputs) outputs.front().dims.front() = -1;
        StdoutCapture quiet;
        if (!object.DoInference(inputs, outputs)) return false;
        for (size_t i = 0; i < outputs.size(); ++i) {
            const TensorData& got = outputs[i];
            if (!Matches(set.outputs[i], got.data, ov::Shape(got.dims.begin(), got.dims.end()))) return false;
            if (buffers[i].back() != 0xCD) return false;  // written past the host's buffer
        }
    }
    return true;
}

TEST(OnnxNodeCases, TheModuleLosesNoCaseTheRuntimePasses) {
    const std::string dir = TESSARINE_NODE_CASES_DIR;
    std::vector<Case> cases = ReadCases(dir);
    ov::Core core;
    core.set_property("CPU", ov::hint::inference_precision(ov::element::f32));
    std::map<std::string, int> apart;
    int run = 0, runtime = 0, host_buffers = 0, runtime_outputs = 0;
    std::vector<std::string> lost;
    for (Case& c : cases) {
        if (c.kind != "run") {
            ++apart[c.kind];
            continue;
        }
        ++run;
        const std::vector<char> bytes = ModelBytes(dir, c.name);
        const bool runtime_passes = RuntimePasses(core, bytes, c.sets);
        ObjectPtr object = NewHostObject();
        bool loaded;
        {
            StdoutCapture quiet;
            loaded = object->LoadModel(bytes.data(), bytes.size(), -1, 3);
        }
        const bool host_passes = loaded && ModulePasses(*object, c.sets, false);
        const bool runtime_outputs_pass = loaded && ModulePasses(*object, c.sets, true);
        runtime += runtime_passes, host_buffers += host_passes, runtime_outputs += runtime_outputs_pass;
        if (runtime_passes && !(host_passes && runtime_outputs_pass))
            lost.push_back(c.name + (host_passes ? "" : " (host buffers)") +
                           (runtime_outputs_pass ? "" : " (runtime outputs)"));
    }
    std::printf("ONNX node cases of onnx 1.16.2: %zu; run %d: runtime passes %d, module passes %d with host buffers "
                "and %d with runtime outputs, lost %d; counted apart: scalar %d, element type without a DataType "
                "code %d, without inputs %d, not tensors %d, unreadable %d\n",
                cases.size(), run, runtime, host_buffers, runtime_outputs, static_cast<int>(lost.size()),
                apart["scalar"], apart["type"], apart["no_inputs"], apart["not_tensor"], apart["unreadable"]);
    for (const std::string& name : lost) ADD_FAILURE() << "the runtime passes " << name << "; the module does not";
    // Guards against cases read wrongly, which would fail on both sides.
    EXPECT_GT(runtime, run / 2);
}

}  // namespace
