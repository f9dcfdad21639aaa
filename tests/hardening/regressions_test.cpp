// Hazards found by the fuzzers or by trying the module as an attacker would,
// each kept as the smallest case that shows it, through the production
// library as a host loads it. (Refused ONNX graphs and the freed-buffer
// calls are rows of bad_input_test.cpp.)
#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>

#include "host.h"

namespace {

// Models that make the runtime open a file when read from memory: ONNX
// tensors with external data, which the reader looks for in the current
// directory, and OpenVINO IR, whose reader reads ".bin" there as its weights
// (README, Reliability). Each is loaded in a directory holding both files,
// watched for opens. Where the runtime's own reader, handed the bytes as the
// module hands them, opens one, the attack is real; there, and for tensors
// the 2024.5 reader does not read yet, the module refuses with nothing opened.
struct NamesAFile {
    const char* model;  // a file of the models folder; ".onnx" unless it has an extension
    std::string text;
    bool runtime_opens_it;
};

void PrintTo(const NamesAFile& c, std::ostream* os) { *os << c.model; }

class ModelsThatNameFiles : public ::testing::TestWithParam<NamesAFile> {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tessarine_cwd_XXXXXX";
        ASSERT_TRUE(mkdtemp(pattern) && getcwd(home_, sizeof home_));
        dir_ = pattern;
        for (const char* name : kFiles) std::ofstream(dir_ + "/" + name) << "SECRET-0123456789abcdef";
        watch_ = inotify_init1(IN_NONBLOCK);
        ASSERT_TRUE(watch_ >= 0 && inotify_add_watch(watch_, dir_.c_str(), IN_OPEN) >= 0 && chdir(dir_.c_str()) == 0);
    }
    void TearDown() override {
        EXPECT_EQ(chdir(home_), 0);
        close(watch_);
        for (const char* name : kFiles) unlink((dir_ + "/" + name).c_str());
        rmdir(dir_.c_str());
    }
    bool Opened() const {
        char events[4096];
        bool any = false;
        while (read(watch_, events, sizeof events) > 0) any = true;
        return any;
    }

    static constexpr const char* kFiles[] = {"tessarine_secret.bin", ".bin"};
    char home_[4096] = {};
    std::string dir_;
    int watch_ = -1;
};

TEST_P(ModelsThatNameFiles, AreRefusedWithoutOpeningAny) {
    const std::string name = GetParam().model;
    const std::vector<char> bytes = name.find('.') == std::string::npos
                                        ? ReadModel(name)
                                        : ReadFileBytes(std::string(TESSARINE_MODEL_DIR) + "/" + name);
    if (GetParam().runtime_opens_it) {
        try {
            ov::Core().read_model(std::string(bytes.begin(), bytes.end()), ov::Tensor());
        } catch (const ov::Exception&) {
        }
        ASSERT_TRUE(Opened()) << "the runtime's reader no longer opens a file for this model";
    }
    ObjectPtr object = NewHostObject();
    const Outcome outcome =
        Capture(*object, [&] { return object->LoadModel(bytes.data(), bytes.size(), -1, 3); });
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, GetParam().text);
    EXPECT_EQ(outcome.console, "[OpenVINOInstance]Load model std::exception error: " + GetParam().text);
    EXPECT_FALSE(Opened());
}

std::string External(const char* tensor) {
    return std::string("the ONNX tensor \"") + tensor +
           "\" refers to external data; a model loaded from memory may not name files.";
}
const std::string kIr =
    "the model is OpenVINO IR, whose reader opens \".bin\" in the current directory for a model loaded from memory; "
    "IR models are refused.";

INSTANTIATE_TEST_SUITE_P(All, ModelsThatNameFiles,
                         ::testing::Values(NamesAFile{"external_data_initializer", External("w"), true},
                                           NamesAFile{"external_data_constant", External("value"), true},
                                           NamesAFile{"external_data_sparse_constant", External("v"), true},
                                           NamesAFile{"external_data_31_ifs_deep", External("value"), true},
                                           NamesAFile{"external_data_sparse_initializer", External("w"), false},
                                           NamesAFile{"external_data_in_a_function", External("value"), false},
                                           NamesAFile{"external_data_in_training", External("w"), false},
                                           NamesAFile{"ir_with_a_constant.xml", kIr, true},
                                           NamesAFile{"onnx_read_as_ir", kIr, true}),
                         [](const ::testing::TestParamInfo<NamesAFile>& info) {
                             std::string name = info.param.model;
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

// A request keeps the output tensors it was last given. When a tensors call
// left its outputs to the runtime after a call (of the map or the tensors
// form) had bound the host's output buffer, the run wrote into that buffer,
// which the host may have freed, handed it back as the object's own memory,
// and failed once the result outgrew it.
TEST(RuntimeOutputsAfterHostOutputs, NeitherWriteIntoNorPointAtTheHostsBuffer) {
    for (bool after_map : {false, true}) {
        SCOPED_TRACE(after_map ? "after the map form" : "after the tensors form");
        ObjectPtr object = NewHostObject();
        const std::vector<char> model = ReadModel(after_map ? "any_batch" : "ragged_output");
        ASSERT_TRUE(object->LoadModel(model.data(), model.size(), -1, 3)) << object->GetLastErrorMessage();
        std::vector<float> values = Image(4, 2, 0, 1), host(3 * 4 * 2), image = Image(4, 2);
        const auto desc = Descriptor(3);
        std::vector<TensorData> bound = {Record("doubled", {1, 8}, host.data())};
        ASSERT_TRUE(after_map ? object->DoInference(4, 2, image.data(), desc.data(), 4, 2, host.data())
                              : object->DoInference({Record("values", {1, 8}, values.data())}, bound))
            << object->GetLastErrorMessage();
        std::fill(host.begin(), host.end(), -7.0f);  // the host reuses its buffer
        values = Image(12, 2, 5, 1);                 // an output larger than the host's buffer
        std::vector<TensorData> outputs = {Record("", {-1}, nullptr)};
        ASSERT_TRUE(after_map ? object->DoInference({Record("x", {1, 3, 2, 4}, image.data())}, outputs)
                              : object->DoInference({Record("values", {1, 24}, values.data())}, outputs))
            << object->GetLastErrorMessage();
        EXPECT_EQ(host, std::vector<float>(host.size(), -7.0f));
        ASSERT_EQ(outputs[0].size, 24u);
        const float* result = static_cast<const float*>(outputs[0].data);
        for (size_t i = 0; i < 24; ++i) EXPECT_EQ(result[i], after_map ? std::max(image[i], 0.0f) : 2 * values[i]);
    }
}

// An output named like its input (the runtime may give the two one tensor,
// which its lookup by name finds as the input) is delivered all the same,
// beside a constant output.
TEST(OutputNamedLikeItsInput, IsDelivered) {
    ObjectPtr object = NewHostObject();
    const std::vector<char> model = ReadModel("passthrough_outputs");
    ASSERT_TRUE(object->LoadModel(model.data(), model.size(), -1, 3)) << object->GetLastErrorMessage();
    float x[4] = {-1, 2, -3, 4}, y[4], x_out[4], c[4];
    std::vector<TensorData> outputs = {Record("y", {1, 4}, y), Record("x", {1, 4}, x_out), Record("c", {1, 4}, c)};
    ASSERT_TRUE(object->DoInference({Record("x", {1, 4}, x)}, outputs)) << object->GetLastErrorMessage();
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(y[k], std::max(x[k], 0.0f));
        EXPECT_EQ(x_out[k], x[k]);
        EXPECT_EQ(c[k], 3.0f);
    }
}

}  // namespace
