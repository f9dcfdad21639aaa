// What a host sees of each inference form, run against both module
// libraries as a host opens them: the module itself and the isolated module,
// whose worker process must give the same results, records, shapes, texts
// and console lines. The host's buffers carry guard values on both sides,
// which no call may touch.
#include <cstring>

#include "test_support.h"

namespace {

constexpr float kGuard = -12345.0f;

// A host buffer of `size` floats between guards.
struct Guarded {
    explicit Guarded(size_t size, float fill = NAN) : values(size + 2, fill) { values.front() = values.back() = kGuard; }
    float* data() { return values.data() + 1; }
    std::vector<float> Inside() const { return {values.begin() + 1, values.end() - 1}; }
    bool GuardsKept() const { return values.front() == kGuard && values.back() == kGuard; }
    std::vector<float> values;
};

class HostForms : public ::testing::TestWithParam<const char*> {
protected:
    void Load(const std::string& name) {
        model_ = ReadModel(name);
        ASSERT_TRUE(object_->LoadModel(model_.data(), model_.size(), -1, 3)) << object_->GetLastErrorMessage();
    }
    template <class Call>
    Outcome Run(Call&& call) { return Capture(*object_, call); }
    std::vector<int64_t> Shape(bool input, uint32_t index) {
        std::vector<int64_t> dims(5, -7);
        dims.resize(input ? object_->GetInputShape(index, &dims[0], &dims[1], &dims[2], &dims[3], &dims[4])
                          : object_->GetOutputShape(index, &dims[0], &dims[1], &dims[2], &dims[3], &dims[4]));
        return dims;
    }

    std::vector<char> model_;
    ObjectPtr object_ = NewHostObject(GetParam());
};

TEST_P(HostForms, MapWritesEachSizeIntoTheHostsBuffer) {
    Load("dynamic_conv");
    EXPECT_EQ(Shape(true, 0), (std::vector<int64_t>{1, 3, -1, -1}));
    const auto desc = Descriptor(2);
    for (const std::pair<uint32_t, uint32_t>& size : {std::pair{5u, 4u}, {64u, 48u}, {5u, 4u}}) {
        const uint32_t width = size.first, height = size.second;  // captured below, as bindings cannot be
        std::vector<float> image = Image(width, height, static_cast<float>(width));
        Guarded map(2 * width * height);
        const Outcome outcome =
            Run([&] { return object_->DoInference(width, height, image.data(), desc.data(), width, height, map.data()); });
        ASSERT_TRUE(outcome.ok) << outcome.error;
        ASSERT_TRUE(outcome.console.empty()) << outcome.error;
        ASSERT_TRUE(outcome.error.empty()) << outcome.error;
        EXPECT_EQ(map.Inside(), DynamicConvMap(image));
        EXPECT_TRUE(map.GuardsKept());
    }
}

TEST_P(HostForms, DetectFillsTheHeadAndItsShape) {
    Load("detect_head");
    std::vector<float> image = Image(100, 50);
    Guarded head(84 * 127);
    uint64_t count = 0, dim2 = 0, dim1 = 0;
    ASSERT_TRUE(object_->DoInference(100, 50, image.data(), head.data(), &count, &dim2, &dim1))
        << object_->GetLastErrorMessage();
    EXPECT_EQ(std::vector<uint64_t>({count, dim2, dim1}), (std::vector<uint64_t>{84 * 127, 127, 84}));
    EXPECT_EQ(Shape(false, 0), (std::vector<int64_t>{1, 84, 127}));
    const std::vector<float> expected = DetectHead(image, 100, 50), got = head.Inside();
    for (size_t i = 0; i < got.size(); ++i) ASSERT_NEAR(got[i], expected[i], 1e-4) << i;
    EXPECT_TRUE(head.GuardsKept());
}

// Host buffers are written by name; outputs left to the runtime point at
// memory the object owns, or, for an output that is an input, at the host's
// own input buffer, as the module's interface promises.
TEST_P(HostForms, TensorsFillHostBuffersOrPointRecordsAtTheObjectsMemory) {
    Load("two_inputs");
    float a[4] = {1, -2, 3.5f, 0.25f}, b[4] = {4, 5, -6, 8};
    Guarded sum(4), difference(4);
    std::vector<TensorData> bound = {Record("difference", {1, 4}, difference.data()), Record("sum", {1, 4}, sum.data())};
    const std::vector<TensorData> inputs = {Record("b", {1, 4}, b), Record("a", {1, 4}, a)};
    ASSERT_TRUE(object_->DoInference(inputs, bound)) << object_->GetLastErrorMessage();
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(sum.Inside()[i] == a[i] + b[i]);
        EXPECT_TRUE(difference.Inside()[i] == a[i] - b[i]);
    }
    EXPECT_TRUE(sum.GuardsKept());
    EXPECT_TRUE(difference.GuardsKept());
    std::vector<TensorData> runtime = {Record("sum", {1, -1}, nullptr), Record("difference", {-1, 4}, nullptr)};
    ASSERT_TRUE(object_->DoInference(inputs, runtime)) << object_->GetLastErrorMessage();
    for (const TensorData& record : runtime) {
        ASSERT_TRUE(record.size == 4);
        ASSERT_TRUE(record.dims == std::vector<int64_t>({1, 4}));
        ASSERT_TRUE(record.data);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(static_cast<const float*>(record.data)[i], record.name == "sum" ? a[i] + b[i] : a[i] - b[i]);
    }

    Load("ragged_output");  // a result of megabytes, larger than any memory an earlier call needed
    std::vector<float> values = Image(1000, 400, 0, 1);
    std::vector<TensorData> doubled = {Record("doubled", {1, -1}, nullptr)};
    ASSERT_TRUE(object_->DoInference({Record("values", {1, 400000}, values.data())}, doubled));
    ASSERT_EQ(doubled[0].size, values.size());
    for (size_t i = 0; i < values.size(); i += 997) ASSERT_EQ(static_cast<const float*>(doubled[0].data)[i], 2 * values[i]);

    Load("passthrough");
    float x[4] = {1, 2, 3, 4};
    int64_t n[2] = {7, -9};
    std::vector<TensorData> outputs = {Record("z", {1, -1}, nullptr), Record("y", {1, -1}, nullptr),
                                       Record("k", {-1}, nullptr, DATA_TYPE_INT64)};
    ASSERT_TRUE(object_->DoInference({Record("x", {1, 4}, x), Record("n", {2}, n, DATA_TYPE_INT64)}, outputs))
        << object_->GetLastErrorMessage();
    EXPECT_EQ(outputs[0].data, x);
    EXPECT_EQ(static_cast<const float*>(outputs[1].data)[3], 5.0f);
    EXPECT_EQ(std::memcmp(outputs[2].data, n, sizeof n), 0);
}

// Each element size crosses intact: y = x + x (not x for booleans).
TEST_P(HostForms, TensorsOfEachElementSize) {
    Load("typed_f64");
    double x64[6] = {0.5, -1.25, 3, 1e6, -0.125, 7}, y64[6];
    std::vector<TensorData> out64 = {Record("y", {2, 3}, y64, DATA_TYPE_FLOAT64)};
    ASSERT_TRUE(object_->DoInference({Record("x", {2, 3}, x64, DATA_TYPE_FLOAT64)}, out64));
    for (int i = 0; i < 6; ++i) EXPECT_EQ(y64[i], 2 * x64[i]);
    Load("typed_bool");
    bool xb[6] = {true, false, true, true, false, false}, yb[6];
    std::vector<TensorData> outb = {Record("y", {2, -1}, nullptr, DATA_TYPE_BOOL)};
    ASSERT_TRUE(object_->DoInference({Record("x", {2, 3}, xb, DATA_TYPE_BOOL)}, outb));
    ASSERT_EQ(outb[0].size, 6u);
    std::memcpy(yb, outb[0].data, sizeof yb);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(yb[i], !xb[i]);
}

// A host may redirect its standard output between calls: each call's line
// lands where standard output points during that call, with no newline.
TEST_P(HostForms, FailuresPrintTheirLineDuringTheCall) {
    std::vector<float> image = Image(4, 4), map(2 * 16);
    const Outcome unloaded = Run([&] { return object_->DoInference(4, 4, image.data(), nullptr, 4, 4, map.data()); });
    EXPECT_EQ(unloaded.console, "[OpenVINOInstance]DoInference error: no model is loaded.");
    Load("dynamic_conv");
    std::vector<TensorData> outputs = {Record("map", {1, 2, 4, 4}, map.data())};
    const Outcome empty = Run([&] { return object_->DoInference({}, outputs); });
    const Outcome null = Run([&] { return object_->DoInference(4, 4, nullptr, nullptr, 4, 4, map.data()); });
    EXPECT_TRUE(!empty.ok);
    EXPECT_TRUE(empty.error == "inputs is empty.");
    EXPECT_TRUE(empty.console == "[OpenVINOInstance]DoInference error: inputs is empty.");
    EXPECT_TRUE(!null.ok);
    EXPECT_TRUE(null.error == "input_data or output_data is nullptr.");
    EXPECT_TRUE(null.console == "[OpenVINOInstance]DoInference error: input_data or output_data is nullptr.");
    const Outcome bad = Run([&] { return object_->LoadModel(model_.data(), model_.size() / 2, -1, 3); });
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.console.rfind("[OpenVINOInstance]Load model ", 0), 0u) << bad.console;
    EXPECT_NE(bad.console.find(bad.error), std::string::npos);
}

// After a release the shapes stay and the error text is empty; a reload
// from the same buffer works again.
TEST_P(HostForms, ReleaseKeepsShapesAndEmptiesTheError) {
    Load("two_inputs");
    std::vector<TensorData> outputs;
    EXPECT_FALSE(Run([&] { return object_->DoInference({}, outputs); }).ok);
    object_->ReleaseModel();
    EXPECT_EQ(object_->GetLastErrorMessage(), "");
    EXPECT_EQ(Shape(true, 1), (std::vector<int64_t>{1, 4}));
    EXPECT_EQ(Shape(false, 2), std::vector<int64_t>{});
    ASSERT_TRUE(object_->LoadModel(model_.data(), model_.size(), -1, 3)) << object_->GetLastErrorMessage();
}

#if defined(TESSARINE_ISOLATED_MODULE_FILE)
#define TESSARINE_HOST_FORMS_LIBRARIES TESSARINE_MODULE_FILE, TESSARINE_ISOLATED_MODULE_FILE
#else  // a sanitized build, which has no isolated module (cmake/isolated.cmake)
#define TESSARINE_HOST_FORMS_LIBRARIES TESSARINE_MODULE_FILE
#endif
INSTANTIATE_TEST_SUITE_P(BothModules, HostForms, ::testing::Values(TESSARINE_HOST_FORMS_LIBRARIES),
                         [](const auto& info) {
                             return std::string(info.param) == TESSARINE_MODULE_FILE ? "InProcess" : "Isolated";
                         });

}  // namespace
