// The tensors form: named, typed records, with the host's output buffers or
// with outputs the runtime allocates and the records are pointed at after.
#include <gtest/gtest.h>

#include <cstring>

#include "test_support.h"

namespace {

const float* Floats(const TensorData& record) { return static_cast<const float*>(record.data); }

class TensorsForm : public ::testing::Test {
protected:
    void Load(const std::string& name, int32_t device = -1) {
        model_ = ReadModel(name);
        ASSERT_TRUE(object_->LoadModel(model_.data(), model_.size(), device, 3)) << object_->GetLastErrorMessage();
    }
    bool Run(const std::vector<TensorData>& inputs, std::vector<TensorData>& outputs) {
        const Outcome outcome = Capture(*object_, [&] { return object_->DoInference(inputs, outputs); });
        EXPECT_EQ(outcome.error, "");
        return outcome.ok;
    }
    void* Result(const std::string& name) { return AsTessarine(object_).infer_request->get_tensor(name).data(); }

    std::vector<char> model_;
    ObjectPtr object_ = NewObject();
    float a_[4] = {1, -2, 3.5f, 0.25f}, b_[4] = {4, 5, -6, 8}, sum_[4], difference_[4];
    const std::vector<TensorData> ab_ = {Record("a", {1, 4}, a_), Record("b", {1, 4}, b_)};
};

// Listed against the model's order: bound by position, the difference would
// change sign, and the sum would land in the difference's buffer.
TEST_F(TensorsForm, BindsRecordsByNameAndLeavesOutputRecordsAsTheyWere) {
    Load("two_inputs");
    std::vector<TensorData> outputs = {Record("difference", {1, 4}, difference_), Record("sum", {1, 4}, sum_)};
    for (TensorData& record : outputs) record.size = 99, record.reserved = 7;
    ASSERT_TRUE(Run({ab_[1], ab_[0]}, outputs));
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(sum_[i] == a_[i] + b_[i] && difference_[i] == a_[i] - b_[i]) << i;
    for (const TensorData& record : outputs) {
        EXPECT_EQ(record.data, record.name == "sum" ? sum_ : difference_);
        EXPECT_EQ(std::vector<uint64_t>({record.size, record.reserved}), (std::vector<uint64_t>{99, 7}));
        EXPECT_EQ(record.dims, (std::vector<int64_t>{1, 4}));
    }
}

TEST_F(TensorsForm, RuntimeOutputsPointTheRecordsAtTheRequestsOwnResults) {
    Load("ragged_output");
    for (int64_t length : {5, 9}) {
        std::vector<float> values = Image(static_cast<uint32_t>(length), 1, 0, 1);
        std::vector<TensorData> outputs = {Record("doubled", {1, -1}, nullptr)};
        ASSERT_TRUE(Run({Record("values", {1, length}, values.data())}, outputs));
        EXPECT_EQ(outputs[0].dims, (std::vector<int64_t>{1, length}));
        EXPECT_EQ(outputs[0].size, static_cast<uint64_t>(length));  // elements, not bytes
        ASSERT_EQ(outputs[0].data, Result("doubled"));
        for (int64_t i = 0; i < length; ++i) EXPECT_EQ(Floats(outputs[0])[i], 2 * values[i]);
    }
    // One dynamic record, first or last, hands every output to the runtime,
    // so a complete record's buffer is neither needed nor written; of two
    // records of one name the first is filled, the second left as it was.
    Load("two_inputs");
    std::fill(sum_, sum_ + 4, -9.0f);
    for (std::vector<TensorData> outputs :
         std::vector<std::vector<TensorData>>{{Record("sum", {1, 4}, sum_), Record("difference", {1, -1}, nullptr)},
                                              {Record("difference", {1, -1}, nullptr), Record("sum", {1, 4}, nullptr)},
                                              {Record("sum", {1, -1}, nullptr), Record("sum", {1, -1}, nullptr)}}) {
        ASSERT_TRUE(Run(ab_, outputs));
        for (size_t r = 0; r < 2; ++r) {
            const bool filled = r == 0 || outputs[1].name != outputs[0].name;
            EXPECT_EQ(outputs[r].data, filled ? Result(outputs[r].name) : nullptr);
            EXPECT_EQ(outputs[r].dims, (std::vector<int64_t>{1, filled ? 4 : -1}));
            for (int i = 0; filled && i < 4; ++i)
                EXPECT_EQ(Floats(outputs[r])[i], outputs[r].name == "sum" ? a_[i] + b_[i] : a_[i] - b_[i]);
        }
        EXPECT_EQ(sum_[0], -9.0f) << "an output was bound although the outputs were the runtime's";
    }
}

// A request keeps the output tensors it was last given: a call that left
// its outputs to the runtime after one (of the map or the tensors form) had
// bound the host's buffer wrote into that buffer, which the host may have
// freed, handed it back as the object's own memory, and failed once the
// result outgrew it.
TEST_F(TensorsForm, RuntimeOutputsAfterHostOutputsNeitherWriteIntoNorPointAtTheHostsBuffer) {
    for (bool after_map : {false, true}) {
        SCOPED_TRACE(after_map ? "after the map form" : "after the tensors form");
        Load(after_map ? "any_batch" : "ragged_output");
        std::vector<float> values = Image(4, 2, 0, 1), host(3 * 4 * 2), image = Image(4, 2);
        const auto desc = Descriptor(3);
        std::vector<TensorData> bound = {Record("doubled", {1, 8}, host.data())};
        ASSERT_TRUE(after_map ? object_->DoInference(4, 2, image.data(), desc.data(), 4, 2, host.data())
                              : Run({Record("values", {1, 8}, values.data())}, bound));
        std::fill(host.begin(), host.end(), -7.0f);  // the host reuses its buffer
        values = Image(12, 2, 5, 1);                 // a result larger than the buffer
        std::vector<TensorData> outputs = {Record("", {-1}, nullptr)};
        ASSERT_TRUE(Run(
            {after_map ? Record("x", {1, 3, 2, 4}, image.data()) : Record("values", {1, 24}, values.data())}, outputs));
        EXPECT_EQ(host, std::vector<float>(host.size(), -7.0f));
        ASSERT_EQ(outputs[0].size, 24u);
        for (size_t i = 0; i < 24; ++i)
            EXPECT_EQ(Floats(outputs[0])[i], after_map ? std::max(image[i], 0.f) : 2 * values[i]);
    }
}

// The runtime gives an output fed straight by an input (z = x, a one-input
// Max that only its compiled graph shows, k = n) the input's own memory:
// bound over a host buffer after the input, it took the input's place, so z,
// m and k were never written and y was computed from z's buffer. Each output
// holds its value in both modes, call after call, on the CPU and on MULTI.
TEST_F(TensorsForm, OutputsThatAreInputsHoldTheirValuesBesideOutputsComputedFromThem) {
    for (int32_t device : {-1, -2}) {
        SCOPED_TRACE(device);
        object_ = NewObject();
        if (device == -2) AsTessarine(object_).core = CoreWithNpuDouble();
        Load("passthrough", device);
        float x[4], y[4], z[4], m[4];
        int64_t n[2], k[2];
        for (float base : {0.0f, 10.0f, 20.0f}) {
            for (int i = 0; i < 4; ++i) x[i] = base + static_cast<float>(i), y[i] = z[i] = m[i] = -5;
            n[0] = 7 + static_cast<int64_t>(base), n[1] = -9, k[0] = k[1] = -5;
            const int64_t four = base == 20 ? -1 : 4;  // then the runtime's outputs
            std::vector<TensorData> outputs = {Record("y", {1, four}, y), Record("z", {1, 4}, z),
                                               Record("m", {1, 4}, m), Record("k", {2}, k, DATA_TYPE_INT64)};
            ASSERT_TRUE(Run({Record("x", {1, 4}, x), Record("n", {2}, n, DATA_TYPE_INT64)}, outputs)) << base;
            for (int i = 0; i < 4; ++i)
                EXPECT_EQ(std::vector<float>({Floats(outputs[0])[i], Floats(outputs[1])[i], Floats(outputs[2])[i]}),
                          std::vector<float>({x[i] + 1, x[i], x[i]}))
                    << base;
            EXPECT_EQ(std::memcmp(outputs[3].data, n, sizeof n), 0) << base;
            EXPECT_EQ(k[0], four < 0 ? -5 : n[0])
                << "a host buffer was written although the outputs were the runtime's";
        }
    }
    // An output named like its input (the runtime may give the two one
    // tensor, which its lookup by name finds as the input) is delivered too.
    Load("passthrough_outputs");
    float x[4] = {-1, 2, -3, 4}, y[4], x_out[4], c[4];
    std::vector<TensorData> outputs = {Record("y", {1, 4}, y), Record("x", {1, 4}, x_out), Record("c", {1, 4}, c)};
    ASSERT_TRUE(Run({Record("x", {1, 4}, x)}, outputs));
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(y[i] == std::max(x[i], 0.f) && x_out[i] == x[i] && c[i] == 3) << i;
}

template <class T>
std::vector<unsigned char> Bytes(std::initializer_list<T> values) {
    std::vector<unsigned char> bytes(values.size() * sizeof(T));
    std::memcpy(bytes.data(), values.begin(), bytes.size());
    return bytes;
}

// Each typed model (x -> not x for booleans, x + x otherwise) takes only
// tensors of its own element type, so a code mapped to another type fails.
TEST_F(TensorsForm, EachDataTypeCodeRunsItsTypedModel) {
    using ov::float16;
    const struct {
        const char* model;
        int32_t code;
        std::vector<unsigned char> x, y;
    } cases[] = {
        {"typed_bool", 0, Bytes<uint8_t>({1, 0, 1, 1, 0, 0}), Bytes<uint8_t>({0, 1, 0, 0, 1, 1})},
        {"typed_i8", 1, Bytes<int8_t>({-64, -1, 0, 1, 63, -5}), Bytes<int8_t>({-128, -2, 0, 2, 126, -10})},
        {"typed_u8", 2, Bytes<uint8_t>({0, 1, 2, 100, 127, 50}), Bytes<uint8_t>({0, 2, 4, 200, 254, 100})},
        {"typed_i32", 5, Bytes<int32_t>({-1000000, 7, 0, 123456789, -3, 1 << 29}),
         Bytes<int32_t>({-2000000, 14, 0, 246913578, -6, 1 << 30})},
        {"typed_i64", 7, Bytes<int64_t>({-1000000, 7, 0, 123456789, -3, 1 << 29}),
         Bytes<int64_t>({-2000000, 14, 0, 246913578, -6, 1 << 30})},
        {"typed_f16", 9, Bytes<float16>({0.5f, -1.25f, 3.0f, 100.0f, -0.125f, 7.0f}),
         Bytes<float16>({1.0f, -2.5f, 6.0f, 200.0f, -0.25f, 14.0f})},
        {"typed_f32", 10, Bytes<float>({0.1f, -1.25f, 3, 1e20f, -0.125f, 7}),
         Bytes<float>({0.2f, -2.5f, 6, 2e20f, -0.25f, 14})},
        {"typed_f64", 11, Bytes<double>({0.5, -1.25, 3, 1e6, -0.125, 7}), Bytes<double>({1, -2.5, 6, 2e6, -0.25, 14})}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        Load(c.model);
        std::vector<unsigned char> x = c.x, y(x.size(), 0xCD);
        std::vector<TensorData> outputs = {Record("y", {2, 3}, y.data(), c.code)};
        ASSERT_TRUE(Run({Record("x", {2, 3}, x.data(), c.code)}, outputs));
        EXPECT_EQ(y, c.y);
    }
}

}  // namespace
