// The tensors form: named, typed records, with the host's output buffers or
// with outputs the runtime allocates and the records are pointed at after.
#include <array>
#include <cstring>

#include "test_support.h"

namespace {

const float* Floats(const TensorData& record) { return static_cast<const float*>(record.data); }

class TensorsForm : public ModuleTest {
protected:
    void* Result(const std::string& name) { return O().infer_request->get_tensor(name).data(); }

    float a_[4] = {1, -2, 3.5f, 0.25f}, b_[4] = {4, 5, -6, 8}, sum_[4], difference_[4];
    const std::vector<TensorData> ab_ = {Record("a", {1, 4}, a_), Record("b", {1, 4}, b_)};

    // A typed model's y: not x for booleans, x + x otherwise.
    template <class T>
    void ExpectTypedModelRuns(const char* model, int32_t code, std::array<T, 6> x) {
        SCOPED_TRACE(model);
        std::array<T, 6> y, expected;
        std::memset(y.data(), 0xCD, sizeof y);
        for (size_t i = 0; i < x.size(); ++i) expected[i] = std::is_same_v<T, bool> ? T(!x[i]) : T(x[i] + x[i]);
        Load(model);
        std::vector<TensorData> outputs = {Record("y", {2, 3}, y.data(), code)};
        ASSERT_TRUE(Tensors({Record("x", {2, 3}, x.data(), code)}, outputs).ok);
        EXPECT_EQ(std::memcmp(y.data(), expected.data(), sizeof y), 0);
    }
};

// Records listed against the model's order: bound by position, the
// difference would change sign, and the sum would land in the difference's
// buffer. Host output records are left as they were. One dynamic record,
// first or last, hands every output to the runtime, so a complete record's
// buffer is neither needed nor written; of two records of one name the first
// is filled, the second left as it was. (A record's size counts elements:
// RuntimeOutputsAfterHostOutputsNeitherWriteIntoNorPointAtTheHostsBuffer.)
TEST_F(TensorsForm, BindsByNameIntoTheHostsBuffersOrPointsTheRecordsAtTheRuntimes) {
    Load("two_inputs");
    std::vector<TensorData> bound = {Record("difference", {1, 4}, difference_), Record("sum", {1, 4}, sum_)};
    for (TensorData& record : bound) record.size = 99, record.reserved = 7;
    ASSERT_TRUE(Tensors({ab_[1], ab_[0]}, bound).ok);
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(sum_[i] == a_[i] + b_[i]) << i;
        EXPECT_TRUE(difference_[i] == a_[i] - b_[i]) << i;
    }
    for (const TensorData& record : bound) {
        EXPECT_TRUE(record.data == (record.name == "sum" ? sum_ : difference_));
        EXPECT_TRUE(record.size == 99);
        EXPECT_TRUE(record.reserved == 7);
        EXPECT_TRUE(record.dims == std::vector<int64_t>({1, 4}));
    }
    std::fill(sum_, sum_ + 4, -9.0f);
    for (std::vector<TensorData> outputs :
         std::vector<std::vector<TensorData>>{{Record("sum", {1, 4}, sum_), Record("difference", {1, -1}, nullptr)},
                                              {Record("difference", {1, -1}, nullptr), Record("sum", {1, 4}, nullptr)},
                                              {Record("sum", {1, -1}, nullptr), Record("sum", {1, -1}, nullptr)}}) {
        ASSERT_TRUE(Tensors(ab_, outputs).ok);
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

// Records are bound in order, so of a port named twice the later buffer is
// read, or written, and the earlier one left as it was.
TEST_F(TensorsForm, APortNamedTwiceTakesTheLaterBuffer) {
    Load("two_inputs");
    float first_a[4] = {100, 100, 100, 100}, first_sum[4] = {-7, -7, -7, -7};
    std::vector<TensorData> outputs = {Record("sum", {1, 4}, first_sum), Record("difference", {1, 4}, difference_),
                                       Record("sum", {1, 4}, sum_)};
    ASSERT_TRUE(Tensors({Record("a", {1, 4}, first_a), ab_[1], ab_[0]}, outputs).ok);
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(sum_[i] == a_[i] + b_[i]) << i;
        EXPECT_TRUE(difference_[i] == a_[i] - b_[i]) << i;
        EXPECT_TRUE(first_sum[i] == -7) << i;
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
                              : Tensors({Record("values", {1, 8}, values.data())}, bound).ok);
        std::fill(host.begin(), host.end(), -7.0f);  // the host reuses its buffer
        values = Image(12, 2, 5, 1);                 // a result larger than the buffer
        std::vector<TensorData> outputs = {Record("", {-1}, nullptr)};
        ASSERT_TRUE(
            Tensors({after_map ? Record("x", {1, 3, 2, 4}, image.data()) : Record("values", {1, 24}, values.data())},
                    outputs)
                .ok);
        EXPECT_EQ(host, std::vector<float>(host.size(), -7.0f));
        ASSERT_EQ(outputs[0].size, 24u);
        for (size_t i = 0; i < 24; ++i)
            EXPECT_EQ(Floats(outputs[0])[i], after_map ? std::max(image[i], 0.f) : 2 * values[i]);
    }
}

// A host buffer the request holds from an earlier call is bound again when
// its record's dims change, strides alike as a batch's are: the same buffers
// given one image of two compute and write only that one.
TEST_F(TensorsForm, SameBuffersWithNewDimsAreBoundAgain) {
    Load("any_batch");
    std::vector<float> images = Image(4, 4), y(images.size());  // two of 3 x 2 x 4
    for (int64_t batch : {2, 1}) {
        std::fill(y.begin(), y.end(), -7.0f);
        std::vector<TensorData> outputs = {Record("", {batch, 3, 2, 4}, y.data())};
        ASSERT_TRUE(Tensors({Record("", {batch, 3, 2, 4}, images.data())}, outputs).ok);
        for (int64_t i = 0; i < 48; ++i) EXPECT_EQ(y[i], i < 24 * batch ? std::max(images[i], 0.f) : -7.0f) << i;
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
        Load("passthrough", device, device == -2 ? CoreWithNpuDouble() : nullptr);
        float x[4], y[4], z[4], m[4];
        int64_t n[2], k[2];
        for (float base : {0.0f, 10.0f, 20.0f}) {
            for (int i = 0; i < 4; ++i) x[i] = base + static_cast<float>(i), y[i] = z[i] = m[i] = -5;
            n[0] = 7 + static_cast<int64_t>(base), n[1] = -9, k[0] = k[1] = -5;
            const int64_t four = base == 20 ? -1 : 4;  // then the runtime's outputs
            std::vector<TensorData> outputs = {Record("y", {1, four}, y), Record("z", {1, 4}, z),
                                               Record("m", {1, 4}, m), Record("k", {2}, k, DATA_TYPE_INT64)};
            ASSERT_TRUE(Tensors({Record("x", {1, 4}, x), Record("n", {2}, n, DATA_TYPE_INT64)}, outputs).ok) << base;
            for (int i = 0; i < 4; ++i) {
                EXPECT_TRUE(Floats(outputs[0])[i] == x[i] + 1) << base;
                EXPECT_TRUE(Floats(outputs[1])[i] == x[i]) << base;
                EXPECT_TRUE(Floats(outputs[2])[i] == x[i]) << base;
            }
            EXPECT_EQ(std::memcmp(outputs[3].data, n, sizeof n), 0) << base;
            EXPECT_EQ(k[0], four < 0 ? -5 : n[0]) << "a host buffer was written instead of the runtime's";
        }
    }
    // An output named like its input (the runtime may give the two one
    // tensor, which its lookup by name finds as the input) is delivered too.
    Load("passthrough_outputs");
    float x[4] = {-1, 2, -3, 4}, y[4], x_out[4], c[4];
    std::vector<TensorData> outputs = {Record("y", {1, 4}, y), Record("x", {1, 4}, x_out), Record("c", {1, 4}, c)};
    ASSERT_TRUE(Tensors({Record("x", {1, 4}, x)}, outputs).ok);
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(y[i] == std::max(x[i], 0.f)) << i;
        EXPECT_TRUE(x_out[i] == x[i]) << i;
        EXPECT_TRUE(c[i] == 3) << i;
    }
}

// Each typed model takes only tensors of its own element type, so a code
// mapped to another type fails.
TEST_F(TensorsForm, EachDataTypeCodeRunsItsTypedModel) {
    ExpectTypedModelRuns<bool>("typed_bool", DATA_TYPE_BOOL, {true, false, true, true, false, false});
    ExpectTypedModelRuns<int8_t>("typed_i8", DATA_TYPE_INT8, {-64, -1, 0, 1, 63, -5});
    ExpectTypedModelRuns<uint8_t>("typed_u8", DATA_TYPE_UINT8, {0, 1, 2, 100, 127, 50});
    ExpectTypedModelRuns<int16_t>("typed_i16", DATA_TYPE_INT16, {-16000, 7, 0, 12345, -3, 1 << 13});
    ExpectTypedModelRuns<uint16_t>("typed_u16", DATA_TYPE_UINT16, {0, 7, 20000, 12345, 3, 1 << 14});
    ExpectTypedModelRuns<int32_t>("typed_i32", DATA_TYPE_INT32, {-1000000, 7, 0, 123456789, -3, 1 << 29});
    ExpectTypedModelRuns<uint32_t>("typed_u32", DATA_TYPE_UINT32, {1000000, 7, 0, 123456789, 3, 1 << 29});
    ExpectTypedModelRuns<int64_t>("typed_i64", DATA_TYPE_INT64, {-1000000, 7, 0, 123456789, -3, 1 << 29});
    ExpectTypedModelRuns<uint64_t>("typed_u64", DATA_TYPE_UINT64, {1000000, 7, 0, 123456789, 3, 1 << 29});
    ExpectTypedModelRuns<ov::float16>("typed_f16", DATA_TYPE_FLOAT16, {0.5f, -1.25f, 3.0f, 100.0f, -0.125f, 7.0f});
    ExpectTypedModelRuns<float>("typed_f32", DATA_TYPE_FLOAT32, {0.1f, -1.25f, 3, 1e20f, -0.125f, 7});
    ExpectTypedModelRuns<double>("typed_f64", DATA_TYPE_FLOAT64, {0.5, -1.25, 3, 1e6, -0.125, 7});
}

}  // namespace
