// DoInference(2): named, typed records, with caller buffers or with outputs
// the runtime allocates and the records are pointed at afterwards.
#include <gtest/gtest.h>

#include <cstring>

#include "test_support.h"

namespace {

struct Outcome {
    bool ran;
    std::string console;
};

Outcome Infer(IImageAIInference& object, const std::vector<TensorData>& inputs, std::vector<TensorData>& outputs) {
    StdoutCapture capture;
    const bool ran = object.DoInference(inputs, outputs);
    return {ran, capture.Text()};
}

class NamedTensors : public ::testing::Test {
protected:
    void Load(const std::string& name, int32_t device = -1) {
        model_ = ReadModel(name);
        ASSERT_TRUE(object_->LoadModel(model_.data(), model_.size(), device, 3)) << object_->GetLastErrorMessage();
    }
    Tessarine& State() { return AsTessarine(object_); }

    std::vector<char> model_;
    ObjectPtr object_ = NewObject();
};

// Buffers of the rejection cases; a rejection must leave them as they were.
float a_buffer[4], b_buffer[4], sum_buffer[4], difference_buffer[4];

struct Rejection {
    const char* label;
    std::vector<TensorData> inputs;
    std::vector<TensorData> outputs;
    std::string message;
    std::string console_format = "[OpenVINOInstance]DoInference error: ";
};

void PrintTo(const Rejection& c, std::ostream* os) { *os << c.label; }

const TensorData kA = Record("a", {1, 4}, a_buffer), kB = Record("b", {1, 4}, b_buffer);
const TensorData kSum = Record("sum", {1, 4}, sum_buffer), kDifference = Record("difference", {1, 4}, difference_buffer);
const std::string kUnknownType = "[OpenVINOInstance]DoInference std::exception error: ";

class NamedRejections : public NamedTensors, public ::testing::WithParamInterface<Rejection> {};

// On the NPU choice so that a validation done after the rebuild decision
// would show as a reload: rank-2 inputs give the size 0 x 0, never the -1 x -1
// a fresh load leaves.
TEST_P(NamedRejections, StopBeforeAnyRebuildOrBinding) {
    TessarineTestAccess::SetCore(State(), CoreWithNpuDouble());
    Load("two_inputs", -2);
    for (float* buffer : {sum_buffer, difference_buffer}) std::fill(buffer, buffer + 4, -9.0f);
    std::vector<TensorData> outputs = GetParam().outputs;
    TraceRecorder traces;
    const Outcome outcome = Infer(*object_, GetParam().inputs, outputs);
    EXPECT_FALSE(outcome.ran);
    EXPECT_EQ(outcome.console, GetParam().console_format + GetParam().message);
    EXPECT_EQ(object_->GetLastErrorMessage(), GetParam().message);
    for (const std::string& text : traces.Texts()) EXPECT_NE(text.rfind("Ready reload model", 0), 0u) << text;
    EXPECT_EQ(TessarineTestAccess::InputWidth(State()), -1);
    for (float* buffer : {sum_buffer, difference_buffer})
        for (int i = 0; i < 4; ++i) EXPECT_EQ(buffer[i], -9.0f);
}

INSTANTIATE_TEST_SUITE_P(
    InOrderOfPrecedence, NamedRejections,
    ::testing::Values(
        Rejection{"NoInputs", {}, {kSum, kDifference}, "inputs is empty."},
        Rejection{"NoInputsNoOutputs", {}, {}, "inputs is empty."},
        Rejection{"UnnamedAmongTwoInputs", {kA, Record("", {1, 4}, b_buffer)}, {kSum},
                  "input.name is empty and inputs size > 1."},
        Rejection{"UnnamedBeforeItsEmptyDims", {Record("", {}, a_buffer), kB}, {kSum},
                  "input.name is empty and inputs size > 1."},
        Rejection{"EmptyDimsWithNullData", {Record("a", {}, nullptr), kB}, {kSum}, "input.dims is empty."},
        Rejection{"EmptyDimsBeforeLaterNullData", {Record("a", {}, a_buffer), Record("b", {1, 4}, nullptr)}, {kSum},
                  "input.dims is empty."},
        Rejection{"NullDataBeforeLaterEmptyDims", {Record("a", {1, 4}, nullptr), Record("b", {}, b_buffer)}, {kSum},
                  "input.data is nullptr."},
        Rejection{"NegativeDimWithNullData", {Record("a", {1, -4}, nullptr), kB}, {kSum},
                  "input.dims has a negative value."},
        Rejection{"InvalidInputWithNoOutputs", {kA, Record("b", {}, b_buffer)}, {}, "input.dims is empty."},
        Rejection{"NoOutputs", {kA, kB}, {}, "outputs is empty."},
        Rejection{"UnnamedAmongTwoOutputs", {kA, kB}, {kSum, Record("", {1, 4}, difference_buffer)},
                  "output.name is empty and outputs size > 1."},
        Rejection{"EmptyOutputDims", {kA, kB}, {kSum, Record("difference", {}, difference_buffer)},
                  "output.dims is empty."},
        Rejection{"NullOutputDataBeforeLaterEmptyDims", {kA, kB},
                  {Record("sum", {1, 4}, nullptr), Record("difference", {}, difference_buffer)}, "output.dims is empty."},
        Rejection{"NullOutputData", {kA, kB}, {Record("sum", {1, 4}, nullptr), kDifference}, "output.data is nullptr."},
        Rejection{"UnknownInputType", {kA, Record("b", {1, 4}, b_buffer, 12)}, {kSum, kDifference}, "Unknown DataType",
                  kUnknownType},
        Rejection{"UnknownOutputType", {kA, kB}, {kSum, Record("difference", {1, 4}, difference_buffer, 12)},
                  "Unknown DataType", kUnknownType}),
    [](const ::testing::TestParamInfo<Rejection>& info) { return std::string(info.param.label); });

TEST_F(NamedTensors, OutputsLandInTheCallersBuffersByName) {
    Load("two_inputs");
    float a[4] = {1, -2, 3.5f, 0.25f}, b[4] = {4, 5, -6, 8}, sum[4] = {}, difference[4] = {};
    // Listed against the model's order: bound by position, the difference would change sign.
    const std::vector<TensorData> inputs = {Record("b", {1, 4}, b), Record("a", {1, 4}, a)};
    std::vector<TensorData> none;
    ASSERT_FALSE(Infer(*object_, inputs, none).ran);  // its text must not outlive the success below
    // Listed difference first: bound by position, sum would land in difference.
    std::vector<TensorData> outputs = {Record("difference", {1, 4}, difference), Record("sum", {1, 4}, sum)};
    for (TensorData& record : outputs) record.size = 99, record.reserved = 7;
    const Outcome outcome = Infer(*object_, inputs, outputs);
    ASSERT_TRUE(outcome.ran) << object_->GetLastErrorMessage();
    EXPECT_EQ(outcome.console, "");
    EXPECT_EQ(object_->GetLastErrorMessage(), "");
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(sum[i], a[i] + b[i]);
        EXPECT_FLOAT_EQ(difference[i], a[i] - b[i]);
    }
    float* const buffers[] = {difference, sum};
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(outputs[i].data, buffers[i]);
        EXPECT_EQ(outputs[i].size, 99u);
        EXPECT_EQ(outputs[i].reserved, 7u);
        EXPECT_EQ(outputs[i].dims, (std::vector<int64_t>{1, 4}));
    }
}

TEST_F(NamedTensors, DynamicOutputPointsAtTheRequestsOwnResult) {
    Load("ragged_output");
    for (int64_t length : {5, 9}) {
        SCOPED_TRACE(length);
        std::vector<float> values(length);
        for (int64_t i = 0; i < length; ++i) values[i] = 1.5f * static_cast<float>(i) - 4;
        std::vector<TensorData> outputs = {Record("doubled", {1, -1}, nullptr)};
        ASSERT_TRUE(Infer(*object_, {Record("values", {1, length}, values.data())}, outputs).ran)
            << object_->GetLastErrorMessage();
        EXPECT_EQ(outputs[0].dims, (std::vector<int64_t>{1, length}));
        EXPECT_EQ(outputs[0].size, static_cast<uint64_t>(length));
        ASSERT_EQ(outputs[0].data, TessarineTestAccess::Request(State())->get_output_tensor().data());
        const float* doubled = static_cast<const float*>(outputs[0].data);
        for (int64_t i = 0; i < length; ++i) EXPECT_FLOAT_EQ(doubled[i], 2 * values[i]);
    }
}

// A complete record before the dynamic one, with or without a buffer: in
// both cases the runtime holds every output, and a null buffer is no error.
TEST_F(NamedTensors, OneDynamicRecordHandsEveryOutputToTheRuntime) {
    Load("two_inputs");
    float a[4] = {2, -3, 0.5f, 7}, b[4] = {-1, 4, 6, 0.25f}, sum[4] = {-9, -9, -9, -9};
    for (float* sum_data : {sum, static_cast<float*>(nullptr)}) {
        SCOPED_TRACE(sum_data ? "sum with a buffer" : "sum without a buffer");
        std::vector<TensorData> outputs = {Record("sum", {1, 4}, sum_data), Record("difference", {1, -1}, nullptr)};
        ASSERT_TRUE(Infer(*object_, {Record("a", {1, 4}, a), Record("b", {1, 4}, b)}, outputs).ran)
            << object_->GetLastErrorMessage();
        ov::InferRequest& request = *TessarineTestAccess::Request(State());
        for (const TensorData& record : outputs) {
            SCOPED_TRACE(record.name);
            EXPECT_EQ(record.data, request.get_tensor(record.name).data());
            EXPECT_EQ(record.size, 4u);
            EXPECT_EQ(record.dims, (std::vector<int64_t>{1, 4}));
        }
        const float* got_sum = static_cast<const float*>(outputs[0].data);
        const float* got_difference = static_cast<const float*>(outputs[1].data);
        for (int i = 0; i < 4; ++i) {
            EXPECT_FLOAT_EQ(got_sum[i], a[i] + b[i]);
            EXPECT_FLOAT_EQ(got_difference[i], a[i] - b[i]);
            EXPECT_EQ(sum[i], -9) << "an output was bound although the outputs were the runtime's";
        }
    }
}

// Each output name finds the first record of that name.
TEST_F(NamedTensors, SecondRuntimeRecordOfOneNameIsLeftAsItWas) {
    Load("two_inputs");
    float a[4] = {1, 2, 3, 4}, b[4] = {4, 3, 2, 1};
    std::vector<TensorData> outputs = {Record("sum", {1, -1}, nullptr), Record("sum", {1, -1}, nullptr)};
    ASSERT_TRUE(Infer(*object_, {Record("a", {1, 4}, a), Record("b", {1, 4}, b)}, outputs).ran)
        << object_->GetLastErrorMessage();
    EXPECT_EQ(outputs[0].dims, (std::vector<int64_t>{1, 4}));
    EXPECT_EQ(outputs[0].data, TessarineTestAccess::Request(State())->get_tensor("sum").data());
    EXPECT_EQ(outputs[1].dims, (std::vector<int64_t>{1, -1}));
    EXPECT_EQ(outputs[1].data, nullptr);
}

TEST_F(NamedTensors, WithoutARequestNothingRuns) {
    float a[4] = {}, b[4] = {}, sum[4], difference[4];
    const std::vector<TensorData> inputs = {Record("a", {1, 4}, a), Record("b", {1, 4}, b)};
    for (bool loaded_then_released : {false, true}) {
        SCOPED_TRACE(loaded_then_released ? "released" : "never loaded");
        if (loaded_then_released) {
            Load("two_inputs");
            object_->ReleaseModel();
        }
        std::vector<TensorData> outputs = {Record("sum", {1, 4}, sum), Record("difference", {1, 4}, difference)};
        const Outcome outcome = Infer(*object_, inputs, outputs);
        EXPECT_FALSE(outcome.ran);
        EXPECT_EQ(outcome.console, "[OpenVINOInstance]DoInference error: no model is loaded.");
        EXPECT_EQ(object_->GetLastErrorMessage(), "no model is loaded.");
    }
}

// The runtime gives an output fed straight by an input (z = x, a one-input
// Max, k = n) the input's own memory: bound over a host buffer after the
// input, it took the input's place, so z, m and k were never written and y
// was computed from z's buffer. Each output must hold its value in both
// modes, call after call over the same buffers, on the CPU and through MULTI.
class PassedThroughOutputs : public NamedTensors, public ::testing::WithParamInterface<int32_t> {};

TEST_P(PassedThroughOutputs, HoldTheirInputsBesideOutputsComputedFromThem) {
    if (GetParam() == -2) TessarineTestAccess::SetCore(State(), CoreWithNpuDouble());
    Load("passthrough", GetParam());
    float x[4], y[4], z[4], m[4];
    int64_t n[2], k[2];
    const std::vector<TensorData> inputs = {Record("x", {1, 4}, x), Record("n", {2}, n, DATA_TYPE_INT64)};
    auto expect_results = [&](const float* y, const float* z, const float* m, const int64_t* k) {
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(y[i], x[i] + 1) << i;
            EXPECT_EQ(z[i], x[i]) << i;
            EXPECT_EQ(m[i], x[i]) << i;
        }
        EXPECT_EQ(std::vector<int64_t>(k, k + 2), std::vector<int64_t>(n, n + 2));
    };
    for (float base : {0.0f, 10.0f, 20.0f}) {
        SCOPED_TRACE(base);
        for (int i = 0; i < 4; ++i) x[i] = base + static_cast<float>(i);
        n[0] = 7 + static_cast<int64_t>(base), n[1] = -9;
        std::fill(y, y + 4, -5.0f), std::fill(z, z + 4, -5.0f), std::fill(m, m + 4, -5.0f), std::fill(k, k + 2, -5);
        const bool runtime_outputs = base == 20;
        const int64_t four = runtime_outputs ? -1 : 4;
        std::vector<TensorData> outputs = {Record("y", {1, four}, y), Record("z", {1, 4}, z), Record("m", {1, 4}, m),
                                           Record("k", {2}, k, DATA_TYPE_INT64)};
        ASSERT_TRUE(Infer(*object_, inputs, outputs).ran) << object_->GetLastErrorMessage();
        if (!runtime_outputs) {
            expect_results(y, z, m, k);
            continue;
        }
        expect_results(static_cast<const float*>(outputs[0].data), static_cast<const float*>(outputs[1].data),
                       static_cast<const float*>(outputs[2].data), static_cast<const int64_t*>(outputs[3].data));
        EXPECT_EQ(k[0], -5) << "a host buffer was written although the outputs were the runtime's";
    }
}

INSTANTIATE_TEST_SUITE_P(CpuAndMulti, PassedThroughOutputs, ::testing::Values(-1, -2),
                         [](const auto& info) { return std::string(info.param == -1 ? "Cpu" : "MultiOverNpuDouble"); });

template <class T>
std::vector<unsigned char> Bytes(std::initializer_list<T> values) {
    std::vector<unsigned char> bytes(values.size() * sizeof(T));
    std::memcpy(bytes.data(), values.begin(), bytes.size());
    return bytes;
}

struct TypedCase {
    const char* model;
    int32_t code;
    std::vector<unsigned char> x;
    std::vector<unsigned char> y;  // not x for bool, x + x otherwise
};

void PrintTo(const TypedCase& c, std::ostream* os) { *os << c.model; }

class TypedModels : public NamedTensors, public ::testing::WithParamInterface<TypedCase> {};

TEST_P(TypedModels, RunThroughTheirDataTypeCode) {
    Load(GetParam().model);
    std::vector<unsigned char> x = GetParam().x, y(x.size(), 0xCD);
    std::vector<TensorData> outputs = {Record("y", {2, 3}, y.data(), GetParam().code)};
    ASSERT_TRUE(Infer(*object_, {Record("x", {2, 3}, x.data(), GetParam().code)}, outputs).ran)
        << object_->GetLastErrorMessage();
    EXPECT_EQ(y, GetParam().y);
}

using ov::float16;
INSTANTIATE_TEST_SUITE_P(
    EachElementType, TypedModels,
    ::testing::Values(
        TypedCase{"typed_bool", 0, Bytes<uint8_t>({1, 0, 1, 1, 0, 0}), Bytes<uint8_t>({0, 1, 0, 0, 1, 1})},
        TypedCase{"typed_i8", 1, Bytes<int8_t>({-64, -1, 0, 1, 63, -5}), Bytes<int8_t>({-128, -2, 0, 2, 126, -10})},
        TypedCase{"typed_u8", 2, Bytes<uint8_t>({0, 1, 2, 100, 127, 50}), Bytes<uint8_t>({0, 2, 4, 200, 254, 100})},
        TypedCase{"typed_i32", 5, Bytes<int32_t>({-1000000, 7, 0, 123456789, -3, 1 << 29}),
                  Bytes<int32_t>({-2000000, 14, 0, 246913578, -6, 1 << 30})},
        TypedCase{"typed_i64", 7, Bytes<int64_t>({-1000000, 7, 0, 123456789, -3, 1 << 29}),
                  Bytes<int64_t>({-2000000, 14, 0, 246913578, -6, 1 << 30})},
        TypedCase{"typed_f16", 9, Bytes<float16>({0.5f, -1.25f, 3.0f, 100.0f, -0.125f, 7.0f}),
                  Bytes<float16>({1.0f, -2.5f, 6.0f, 200.0f, -0.25f, 14.0f})},
        TypedCase{"typed_f32", 10, Bytes<float>({0.1f, -1.25f, 3, 1e20f, -0.125f, 7}),
                  Bytes<float>({0.2f, -2.5f, 6, 2e20f, -0.25f, 14})},
        TypedCase{"typed_f64", 11, Bytes<double>({0.5, -1.25, 3, 1e6, -0.125, 7}),
                  Bytes<double>({1, -2.5, 6, 2e6, -0.25, 14})}),
    [](const ::testing::TestParamInfo<TypedCase>& info) { return std::string(info.param.model); });

}  // namespace
