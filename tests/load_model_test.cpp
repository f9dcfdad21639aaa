// LoadModel from the caller's memory on the CPU: the recorded shapes, the
// reload decision, and what each kind of failure leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <list>

#include "test_support.h"

namespace {

constexpr int64_t kUntouched = 0x7e57;
const std::string kLoadException = "[OpenVINOInstance]Load model ov::Exception error: ";

class LoadFromMemory : public ::testing::Test {
protected:
    bool Load(const std::vector<char>& bytes, int32_t device = -1) {
        return object_->LoadModel(bytes.data(), bytes.size(), device, 3);
    }
    // As a host must, keeps the buffer alive while the object may read it.
    bool Load(const std::string& model) { return Load(kept_.emplace_back(ReadModel(model))); }
    // The whole console output of one load.
    std::string LoadAndCapture(const void* data, uint64_t size, int32_t device, bool& loaded) {
        StdoutCapture capture;
        loaded = object_->LoadModel(data, size, device, 3);
        return capture.Text();
    }
    void FailAnInference() {
        const std::vector<TensorData> inputs;
        std::vector<TensorData> outputs;
        StdoutCapture quiet;
        ASSERT_FALSE(object_->DoInference(inputs, outputs));
        ASSERT_EQ(object_->GetLastErrorMessage(), "inputs is empty.");
    }
    Tessarine& Object() { return AsTessarine(object_); }

    std::list<std::vector<char>> kept_;
    ObjectPtr object_ = NewObject();
};

struct ShapeCase {
    const char* model;
    bool input;
    uint32_t index;
    uint32_t count;
    std::vector<int64_t> dims;  // what lands behind dim0 to dim4
};

void PrintTo(const ShapeCase& c, std::ostream* os) {
    *os << c.model << (c.input ? " input " : " output ") << c.index;
}

class RecordedShapes : public LoadFromMemory, public ::testing::WithParamInterface<ShapeCase> {};

TEST_P(RecordedShapes, ReportCountAndStoreOnlyExistingDims) {
    const ShapeCase& c = GetParam();
    ASSERT_TRUE(Load(c.model)) << object_->GetLastErrorMessage();
    std::vector<int64_t> d(5, kUntouched);
    const uint32_t count = c.input ? object_->GetInputShape(c.index, &d[0], &d[1], &d[2], &d[3], &d[4])
                                   : object_->GetOutputShape(c.index, &d[0], &d[1], &d[2], &d[3], &d[4]);
    EXPECT_EQ(count, c.count);
    EXPECT_EQ(d, c.dims);
}

constexpr int64_t U = kUntouched;
INSTANTIATE_TEST_SUITE_P(
    Models, RecordedShapes,
    ::testing::Values(ShapeCase{"static_head", true, 0, 4, {1, 3, 224, 224, U}},
                      ShapeCase{"static_head", false, 0, 2, {1, 10, U, U, U}},
                      ShapeCase{"rank6", true, 0, 6, {1, 2, 3, 4, 5}},
                      ShapeCase{"any_batch", true, 0, 4, {-1, 3, -1, -1, U}},
                      ShapeCase{"dynamic_conv", false, 0, 4, {1, 2, -1, -1, U}},
                      ShapeCase{"two_inputs", true, 1, 2, {1, 4, U, U, U}},
                      ShapeCase{"two_inputs", true, 2, 0, {U, U, U, U, U}},
                      ShapeCase{"two_inputs", false, 2, 0, {U, U, U, U, U}}));

TEST_F(LoadFromMemory, NullOutArgumentsAreSkipped) {
    ASSERT_TRUE(Load("static_head"));
    int64_t d0 = kUntouched, d2 = kUntouched, d4 = kUntouched;
    EXPECT_EQ(object_->GetInputShape(0, &d0, nullptr, &d2, nullptr, &d4), 4u);
    EXPECT_EQ(d0, 1);
    EXPECT_EQ(d2, 224);
    EXPECT_EQ(d4, kUntouched);
}

TEST_F(LoadFromMemory, InputsAreRecordedInModelOrder) {
    ASSERT_TRUE(Load("two_inputs"));
    EXPECT_EQ(TessarineTestAccess::InputNames(Object()), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(TessarineTestAccess::OutputNames(Object()), (std::vector<std::string>{"sum", "difference"}));
}

TEST_F(LoadFromMemory, SuccessPrintsNothing) {
    const std::vector<char> model = ReadModel("dynamic_conv");
    bool loaded = false;
    EXPECT_EQ(LoadAndCapture(model.data(), model.size(), -1, loaded), "");
    EXPECT_TRUE(loaded);
}

// The buffer is compared by address: the second load neither releases nor
// copies again, so bytes changed in between must not be read.
TEST_F(LoadFromMemory, ReloadFromTheSameBufferReadsTheEarlierCopyAndKeepsTheError) {
    std::vector<char> model = ReadModel("dynamic_conv");
    ASSERT_TRUE(Load(model));
    FailAnInference();
    std::fill(model.begin(), model.end(), '\x5a');
    TraceRecorder traces;
    ASSERT_TRUE(Load(model)) << object_->GetLastErrorMessage();
    EXPECT_EQ(traces.Count("Tessarine::ReleaseModel()"), 0u);
    EXPECT_EQ(object_->GetLastErrorMessage(), "inputs is empty.");
}

TEST_F(LoadFromMemory, SameBytesAtAnotherAddressReleaseFirst) {
    const std::vector<char> first = ReadModel("dynamic_conv"), second = first;
    ASSERT_TRUE(Load(first));
    FailAnInference();
    TraceRecorder traces;
    ASSERT_TRUE(Load(second));
    EXPECT_EQ(traces.Count("Tessarine::ReleaseModel()"), 1u);
    EXPECT_EQ(TessarineTestAccess::ModelData(Object()), second.data());
    EXPECT_EQ(object_->GetLastErrorMessage(), "");
}

// A rebuild must start from a fresh copy even when nothing else changed.
TEST_F(LoadFromMemory, ReshapeReleasesEvenWithUnchangedArguments) {
    const std::vector<char> model = ReadModel("dynamic_conv");
    ASSERT_TRUE(Load(model));
    TraceRecorder traces;
    StdoutCapture capture;
    ASSERT_TRUE(TessarineTestAccess::LoadReshaped(Object(), model.data(), model.size(), -1, 1, 3, 8, 8));
    EXPECT_EQ(capture.Text(), "[OpenVINOInstance]Need Reshape model");
    EXPECT_EQ(traces.Count("Tessarine::ReleaseModel()"), 1u);
    std::vector<int64_t> d(4, kUntouched);
    EXPECT_EQ(object_->GetInputShape(0, &d[0], &d[1], &d[2], &d[3], nullptr), 4u);
    EXPECT_EQ(d, (std::vector<int64_t>{1, 3, 8, 8}));
}

struct NamedReshape {
    const char* label;
    std::vector<std::string> names;
    std::vector<std::vector<int64_t>> dims;
    bool loads;
    std::vector<int64_t> a, b;  // recorded afterwards (two_inputs: a and b are [1, 4])
};

void PrintTo(const NamedReshape& c, std::ostream* os) { *os << c.label; }

class NamedReshapes : public LoadFromMemory, public ::testing::WithParamInterface<NamedReshape> {};

// innerLoadModel(1) reads the model again and reshapes the inputs it names:
// the later of two shapes for one name, -1 as a dynamic axis, an input not
// named as the model file gives it, whatever an earlier reshape made of it;
// a name the model lacks fails the load and leaves no request.
TEST_P(NamedReshapes, RecordTheShapesTheModelThenHas) {
    const NamedReshape& c = GetParam();
    const std::vector<char> model = ReadModel("two_inputs");
    StdoutCapture quiet;
    ASSERT_TRUE(TessarineTestAccess::LoadNamed(Object(), model.data(), model.size(), -1, {"a", "b"}, {{2, 4}, {2, 4}}));
    EXPECT_EQ(TessarineTestAccess::LoadNamed(Object(), model.data(), model.size(), -1, c.names, c.dims), c.loads);
    EXPECT_EQ(TessarineTestAccess::Request(Object()) != nullptr, c.loads);
    if (!c.loads) return;
    for (uint32_t i = 0; i < 2; ++i) {
        std::vector<int64_t> d(2, kUntouched);
        EXPECT_EQ(object_->GetInputShape(i, &d[0], &d[1], nullptr, nullptr, nullptr), 2u);
        EXPECT_EQ(d, i == 0 ? c.a : c.b) << "input " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    TwoInputs, NamedReshapes,
    ::testing::Values(NamedReshape{"LaterShapeOfANameStands", {"a", "a"}, {{5, 4}, {3, 4}}, true, {3, 4}, {1, 4}},
                      NamedReshape{"MinusOneStaysDynamic", {"b"}, {{-1, 4}}, true, {1, 4}, {-1, 4}},
                      NamedReshape{"TwoInputsTwoNewShapes", {"b", "a"}, {{3, 1}, {3, 4}}, true, {3, 4}, {3, 1}},
                      NamedReshape{"UnknownName", {"c"}, {{1, 4}}, false, {}, {}}),
    [](const ::testing::TestParamInfo<NamedReshape>& info) { return std::string(info.param.label); });

struct BadBytes {
    const char* what;
    std::vector<char> (*bytes)();
};

void PrintTo(const BadBytes& c, std::ostream* os) { *os << c.what; }

std::vector<char> Garbage() { return std::vector<char>(256, '\x5a'); }
std::vector<char> Empty() { return {}; }
std::vector<char> FirstHalf() {
    std::vector<char> bytes = ReadModel("dynamic_conv");
    bytes.resize(bytes.size() / 2);
    return bytes;
}

class UnreadableModel : public LoadFromMemory, public ::testing::WithParamInterface<BadBytes> {};

// A failing load is one console line, without newline, carrying exactly the
// runtime's text that the host then reads back.
TEST_P(UnreadableModel, FailsWithTheRuntimesTextOnConsoleAndInLastError) {
    const std::vector<char> bytes = GetParam().bytes();
    // An empty buffer still has an address; a null one is another case.
    static const char kNoBytes = 0;
    bool loaded = true;
    const std::string console = LoadAndCapture(bytes.empty() ? &kNoBytes : bytes.data(), bytes.size(), -1, loaded);
    EXPECT_FALSE(loaded);
    EXPECT_NE(object_->GetLastErrorMessage(), "");
    EXPECT_EQ(console, kLoadException + object_->GetLastErrorMessage());
}

INSTANTIATE_TEST_SUITE_P(Bytes, UnreadableModel,
                         ::testing::Values(BadBytes{"garbage", Garbage}, BadBytes{"empty", Empty},
                                           BadBytes{"truncated", FirstHalf}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST_F(LoadFromMemory, UnreadableNewBufferKeepsThePreviousPortRecords) {
    ASSERT_TRUE(Load("static_head"));
    const std::vector<char> garbage = Garbage();
    StdoutCapture quiet;
    ASSERT_FALSE(Load(garbage));
    EXPECT_EQ(TessarineTestAccess::Model(Object()), nullptr);
    EXPECT_EQ(TessarineTestAccess::InputNames(Object()), std::vector<std::string>{"pixels"});
    std::vector<int64_t> d(4, kUntouched);
    EXPECT_EQ(object_->GetInputShape(0, &d[0], &d[1], &d[2], &d[3], nullptr), 4u);
    EXPECT_EQ(d, (std::vector<int64_t>{1, 3, 224, 224}));
}

TEST_F(LoadFromMemory, NullDataWithASizeFailsWithoutReading) {
    bool loaded = true;
    const std::string console = LoadAndCapture(nullptr, 16, -1, loaded);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(object_->GetLastErrorMessage(), "model_data is nullptr while model_size is 16.");
    EXPECT_EQ(console, "[OpenVINOInstance]Load model std::exception error: " + object_->GetLastErrorMessage());
}

class MissingDevice : public LoadFromMemory, public ::testing::WithParamInterface<int32_t> {};

// No GPU and no NPU here: each of these indices must fail through the
// runtime's own error, and must not spoil the object for a CPU load after it.
TEST_P(MissingDevice, FailsWithOneLineAndLeavesTheObjectUsable) {
    const std::vector<char> model = ReadModel("dynamic_conv");
    bool loaded = true;
    const std::string console = LoadAndCapture(model.data(), model.size(), GetParam(), loaded);
    EXPECT_FALSE(loaded);
    EXPECT_NE(object_->GetLastErrorMessage(), "");
    EXPECT_EQ(console, kLoadException + object_->GetLastErrorMessage());
    EXPECT_TRUE(Load(model)) << object_->GetLastErrorMessage();
    EXPECT_NE(TessarineTestAccess::Request(Object()), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Indices, MissingDevice, ::testing::Values(7, -2, -3, -4),
                         [](const auto& info) {
                             return info.param < 0 ? "minus" + std::to_string(-info.param)
                                                   : std::to_string(info.param);
                         });

}  // namespace
