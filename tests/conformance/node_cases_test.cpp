// The ONNX backend's node test cases (onnx 1.16.2, written out at build time
// by tools/data/extract_node_cases.py), each run on the runtime directly and through the
// production library's tensors form, with the host's output buffers and with
// outputs the runtime allocates. A case passes when every output of every
// data set matches ONNX's reference. What the runtime itself gets wrong is not
// the module's to fix; a case the runtime passes, the module must pass too,
// and so must the isolated module, whose worker runs the same module.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "test_support.h"

namespace {

struct Tensor : TensorData {
    std::string element;  // the array's own type, as the runtime spells it
    std::vector<unsigned char> bytes;
    // A tensor of no elements still has an address, for the module and the runtime alike.
    void* Data() { return bytes.empty() ? static_cast<void*>(this) : bytes.data(); }
    ov::Tensor Wrapped() { return {ov::element::Type(element), {dims.begin(), dims.end()}, Data()}; }
};
struct Case {
    std::string name, kind;
    std::vector<std::pair<std::vector<Tensor>, std::vector<Tensor>>> sets;  // inputs, outputs
};

std::vector<Case> ReadCases(const std::string& dir) {
    std::ifstream list(dir + "/cases.txt"), data(dir + "/data.bin", std::ios::binary);
    std::vector<Case> cases;
    for (std::string line, what; std::getline(list, line);) {
        std::istringstream fields(line);
        std::getline(fields, what, '\t');
        if (what == "case") fields >> cases.emplace_back().name >> cases.back().kind;
        if (what == "set") cases.back().sets.emplace_back();
        if (what != "in" && what != "out") continue;
        Tensor& t = (what == "in" ? cases.back().sets.back().first : cases.back().sets.back().second).emplace_back();
        int64_t offset, size;
        std::getline(fields, t.name, '\t') >> t.type >> t.element >> offset >> size;  // the name may be empty
        for (int64_t d; fields >> d;) t.dims.push_back(d);
        t.bytes.resize(size);
        data.seekg(offset).read(reinterpret_cast<char*>(t.bytes.data()), size);
    }
    return cases;
}

// ONNX's own tolerance for floating-point results; the rest must be exact.
bool Matches(const Tensor& want, const void* data, const ov::Shape& shape) {
    const auto close = [&](auto* w) {
        return std::equal(w, w + want.bytes.size() / sizeof *w, decltype(w)(data), [](double b, double a) {
            return a == b || (std::isnan(a) && std::isnan(b)) || std::fabs(a - b) <= 1e-7 + 1e-3 * std::fabs(b);
        });
    };
    if (shape != ov::Shape(want.dims.begin(), want.dims.end())) return false;
    if (want.type == DATA_TYPE_FLOAT16) return close(reinterpret_cast<const ov::float16*>(want.bytes.data()));
    if (want.type == DATA_TYPE_FLOAT32) return close(reinterpret_cast<const float*>(want.bytes.data()));
    if (want.type == DATA_TYPE_FLOAT64) return close(reinterpret_cast<const double*>(want.bytes.data()));
    return std::memcmp(data, want.bytes.data(), want.bytes.size()) == 0;
}

bool RuntimePasses(ov::Core& core, const std::string& model, Case& c) try {
    ov::InferRequest request = core.compile_model(core.read_model(model, ov::Tensor()), "CPU").create_infer_request();
    for (auto& [inputs, outputs] : c.sets) {
        // By position: the runtime may give an input the name of the
        // output it passes through, and its own name is gone then.
        for (size_t i = 0; i < inputs.size(); ++i) request.set_input_tensor(i, inputs[i].Wrapped());
        request.infer();
        for (size_t i = 0; i < outputs.size(); ++i)
            if (const ov::Tensor got = request.get_output_tensor(i); !Matches(outputs[i], got.data(), got.get_shape()))
                return false;
    }
    return true;
} catch (const std::exception&) {
    return false;
}

bool ModulePasses(IImageAIInference& object, Case& c, bool runtime_outputs) {
    for (auto& [inputs, outputs] : c.sets) {
        std::vector<TensorData> in, out;
        for (Tensor& t : inputs) in.push_back(Record(t.name, t.dims, t.Data(), t.type));
        std::vector<std::vector<unsigned char>> host;  // a byte longer, to catch a write past the end
        for (const Tensor& t : outputs)
            out.push_back(Record(t.name, t.dims, host.emplace_back(t.bytes.size() + 1, 0xCD).data(), t.type));
        for (TensorData& r : out) r.data = runtime_outputs ? nullptr : r.data;
        if (runtime_outputs) out.front().dims.front() = -1;
        StdoutCapture quiet;
        if (!object.DoInference(in, out)) return false;
        for (size_t i = 0; i < out.size(); ++i)
            if (host[i].back() != 0xCD || !Matches(outputs[i], out[i].data, {out[i].dims.begin(), out[i].dims.end()}))
                return false;
    }
    return true;
}

class OnnxNodeCases : public ::testing::TestWithParam<const char*> {};

TEST_P(OnnxNodeCases, TheModuleLosesNoCaseTheRuntimePasses) {
    std::vector<Case> cases = ReadCases(TESSARINE_NODE_CASES_DIR);
    ov::Core core;
    core.set_property("CPU", ov::hint::inference_precision(ov::element::f32));
    std::map<std::string, int> count;
    int lost = 0;
    for (Case& c : cases) {
        if (++count[c.kind]; c.kind != "run") continue;
        const std::vector<char> bytes = ReadFileBytes(TESSARINE_NODE_CASES_DIR "/" + c.name + ".onnx");
        const bool runtime = RuntimePasses(core, {bytes.begin(), bytes.end()}, c);
        ObjectPtr object = NewHostObject(GetParam());  // a model it cannot load fails every call
        Capture(*object, [&] { return object->LoadModel(bytes.data(), bytes.size(), -1, 3); });
        const bool in_host = ModulePasses(*object, c, false), runtime_outputs = ModulePasses(*object, c, true);
        count["runtime"] += runtime, count["host_buffers"] += in_host, count["runtime_outputs"] += runtime_outputs;
        if (runtime && !(in_host && runtime_outputs))  // numbered, to count them
            ADD_FAILURE() << "lost " << c.name << (in_host ? ", runtime outputs" : ", host buffers") << " #" << ++lost;
    }
    // Kinds as extract_node_cases.py names them; "runtime", "host_buffers" and "runtime_outputs" count passes.
    std::printf("ONNX node cases of onnx 1.16.2 through %s: %zu, lost %d;", GetParam(), cases.size(), lost);
    for (const auto& [what, n] : count) std::printf(" %s %d", what.c_str(), n);
    std::printf("\n");
    EXPECT_GT(count["runtime"], count["run"] / 2);  // guards against cases read wrongly, which fail on both sides
}

#if defined(TESSARINE_ISOLATED_MODULE_FILE)
INSTANTIATE_TEST_SUITE_P(BothModules, OnnxNodeCases,
                         ::testing::Values(TESSARINE_MODULE_FILE, TESSARINE_ISOLATED_MODULE_FILE),
                         [](const auto& info) {
                             return std::string(info.param) == TESSARINE_MODULE_FILE ? "InProcess" : "Isolated";
                         });
#else
INSTANTIATE_TEST_SUITE_P(TheModule, OnnxNodeCases, ::testing::Values(TESSARINE_MODULE_FILE));
#endif

}  // namespace
