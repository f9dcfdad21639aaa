// The rebuild of the map and tensors forms on the MULTI choices, which
// compile for one input size, run here over the "NPU" double (the CPU plugin
// renamed): only a new width or height rebuilds, and the size built for goes
// with the build.
#include <gtest/gtest.h>

#include <cmath>

#include "test_support.h"

namespace {

const std::string kNeedReshape = "[OpenVINOInstance]Need Reshape model";
const std::string kRebuildFailed = "the model could not be rebuilt for the new input size: ";

struct Observed : Outcome {
    size_t reloads, rebuilt;  // "Ready reload model" and "Tessarine::RebuildModel()" texts
};

class RebuildOnNpu : public ::testing::Test {
protected:
    void Load(const std::string& name, int32_t device = -2, std::shared_ptr<ov::Core> core = CoreWithNpuDouble()) {
        model_ = ReadModel(name);
        O().core = std::move(core);
        ASSERT_TRUE(object_->LoadModel(model_.data(), model_.size(), device, 3)) << object_->GetLastErrorMessage();
    }
    Tessarine& O() { return AsTessarine(object_); }
    template <class Call>
    Observed Observe(Call&& call) {
        TraceRecorder traces;
        const Outcome outcome = Capture(*object_, call);
        return {outcome, traces.CountStarting("Ready reload model"), traces.Count("Tessarine::RebuildModel()")};
    }
    // The map form on dynamic_conv, its values checked where it runs. The
    // buffers are never null, which would be refused before any rebuild.
    Observed Map(uint32_t width, uint32_t height, float offset = 0) {
        std::vector<float> image = Image(width, height, offset), map(std::max(2u * width * height, 1u), NAN);
        image.resize(std::max<size_t>(image.size(), 1));
        const auto desc = Descriptor(2);
        const Observed observed = Observe(
            [&] { return object_->DoInference(width, height, image.data(), desc.data(), width, height, map.data()); });
        if (observed.ok) EXPECT_EQ(map, DynamicConvMap(image));
        return observed;
    }
    // The tensors form on dynamic_conv with one unnamed [1, channels, h, w] record.
    Observed Tensors(uint32_t width, uint32_t height, float offset = 0, uint32_t channels = 3) {
        std::vector<float> image = Image(width, height, offset, channels), map(2 * width * height, NAN);
        std::vector<TensorData> outputs = {Record("", {1, 2, height, width}, map.data())};
        const Observed observed = Observe(
            [&] { return object_->DoInference({Record("", {1, channels, height, width}, image.data())}, outputs); });
        if (observed.ok) EXPECT_EQ(map, DynamicConvMap(image));
        return observed;
    }
    // The CPU behind the double would run the dynamic model as well; only a
    // static compiled input shows that the model was reshaped.
    void ExpectBuiltFor(int32_t width, int32_t height) {
        EXPECT_EQ(std::vector<int32_t>({O().input_width, O().input_height}), std::vector<int32_t>({width, height}));
        EXPECT_EQ(O().input_node_dims[0], (std::vector<int64_t>{1, 3, height, width}));
        EXPECT_EQ(O().compiled_model->input().get_partial_shape(), (ov::PartialShape{1, 3, height, width}));
    }

    std::vector<char> model_;
    ObjectPtr object_ = NewObject();
};

TEST_F(RebuildOnNpu, OnlyANewWidthOrHeightRebuilds) {
    Load("dynamic_conv");
    const struct {
        uint32_t width, height;
        bool rebuilds;
    } steps[] = {{5, 4, true}, {5, 4, false}, {6, 4, true}, {6, 3, true}, {6, 3, false}, {5, 4, true}};
    float offset = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(std::to_string(step.width) + "x" + std::to_string(step.height));
        const auto compiled = O().compiled_model;
        const Observed observed = Map(step.width, step.height, offset += 1);
        ASSERT_TRUE(observed.ok) << observed.error;
        EXPECT_EQ(observed.console, step.rebuilds ? kNeedReshape : "");
        EXPECT_EQ(std::vector<size_t>({observed.reloads, observed.rebuilt}), std::vector<size_t>(2, step.rebuilds));
        EXPECT_EQ(O().compiled_model != compiled, step.rebuilds);
        ExpectBuiltFor(step.width, step.height);
    }
}

// The unnamed record is reshaped under the model's input name; a wrong name
// would fail the rebuild.
TEST_F(RebuildOnNpu, MapAndTensorsFormsShareTheSizeBuiltFor) {
    Load("dynamic_conv");
    ASSERT_TRUE(Map(5, 4).ok);
    const Observed same = Tensors(5, 4, 1);
    EXPECT_TRUE(same.ok && same.console.empty() && same.reloads == 0) << same.error << same.console;
    const Observed other = Tensors(7, 6, 2);
    ASSERT_TRUE(other.ok) << other.error;
    EXPECT_EQ(other.console, kNeedReshape);
    EXPECT_EQ(other.rebuilt, 1u);
    ExpectBuiltFor(7, 6);
    const Observed back = Map(7, 6, 3);
    EXPECT_TRUE(back.ok && back.console.empty() && back.reloads == 0) << back.error << back.console;
}

// The first record of three or four dims gives the size; rank-two records
// are passed over, so a model without such an input is built for 0 x 0.
TEST_F(RebuildOnNpu, SizeComesFromTheFirstInputOfThreeOrFourDims) {
    Load("planar3d");
    std::vector<float> image = Image(5, 4, -1), y(image.size(), NAN);
    std::vector<TensorData> outputs = {Record("y", {3, 4, 5}, y.data())};
    ASSERT_TRUE(Observe([&] { return object_->DoInference({Record("image", {3, 4, 5}, image.data())}, outputs); }).ok);
    EXPECT_EQ(std::vector<int32_t>({O().input_width, O().input_height}), std::vector<int32_t>({5, 4}));
    EXPECT_EQ(O().compiled_model->input().get_partial_shape(), (ov::PartialShape{3, 4, 5}));
    for (size_t i = 0; i < image.size(); ++i) EXPECT_EQ(y[i], std::max(image[i], 0.0f)) << i;

    Load("two_inputs");
    float a[4] = {1, 2, 3, 4}, b[4] = {0.5f, -1, 2, 8}, sum[4], difference[4];
    const std::vector<TensorData> inputs = {Record("a", {1, 4}, a), Record("b", {1, 4}, b)};
    std::vector<TensorData> sums = {Record("sum", {1, 4}, sum), Record("difference", {1, 4}, difference)};
    for (size_t reloads : {1u, 0u}) {
        const Observed run = Observe([&] { return object_->DoInference(inputs, sums); });
        EXPECT_TRUE(run.ok && run.reloads == reloads) << run.error;
        EXPECT_EQ(std::vector<int32_t>({O().input_width, O().input_height}), std::vector<int32_t>(2, 0));
    }
}

// Only width and height decide: a tensors rebuild reshapes to the records'
// whole dims, batch included, and a later call of that size runs on that
// build even where it does not fit. A load recovers.
TEST_F(RebuildOnNpu, BatchOfATensorsRebuildStaysUntilTheSizeChanges) {
    Load("dynamic_conv");
    std::vector<float> images = Image(5, 4, 0, 6), maps(2 * 2 * 5 * 4, NAN);
    std::vector<TensorData> outputs = {Record("", {2, 2, 4, 5}, maps.data())};
    const Observed batch =
        Observe([&] { return object_->DoInference({Record("", {2, 3, 4, 5}, images.data())}, outputs); });
    ASSERT_TRUE(batch.ok) << batch.error;
    EXPECT_EQ(O().compiled_model->input().get_partial_shape(), (ov::PartialShape{2, 3, 4, 5}));
    for (size_t image = 0; image < 2; ++image)
        EXPECT_EQ(std::vector<float>(maps.begin() + image * 40, maps.begin() + (image + 1) * 40),
                  DynamicConvMap({images.begin() + image * 60, images.begin() + (image + 1) * 60}));
    const Observed single = Map(5, 4);
    EXPECT_FALSE(single.ok);
    EXPECT_EQ(single.reloads, 0u);
    EXPECT_EQ(single.console, "[OpenVINOInstance]DoInference ov::Exception error: " + single.error);
    ASSERT_TRUE(object_->LoadModel(model_.data(), model_.size(), -2, 3)) << object_->GetLastErrorMessage();
    const Observed reloaded = Map(5, 4);
    EXPECT_TRUE(reloaded.ok && reloaded.reloads == 0) << reloaded.error;
}

// After a load from another buffer, and after a rebuild that failed, a call
// at the earlier size must rebuild.
TEST_F(RebuildOnNpu, SizeBuiltForIsForgottenWithTheBuild) {
    Load("dynamic_conv");
    const std::vector<char> other = model_;
    for (bool failed_rebuild : {false, true}) {
        SCOPED_TRACE(failed_rebuild ? "after a failed rebuild" : "after a load from another buffer");
        ASSERT_TRUE(Map(5, 4).ok) << object_->GetLastErrorMessage();
        if (failed_rebuild)
            ASSERT_FALSE(Map(0, 0).ok);
        else
            ASSERT_TRUE(object_->LoadModel(other.data(), other.size(), -2, 3)) << object_->GetLastErrorMessage();
        const Observed again = Map(5, 4);
        ASSERT_TRUE(again.ok) << again.error;
        EXPECT_EQ(again.reloads, 1u);
        EXPECT_EQ(again.console, kNeedReshape);
        ExpectBuiltFor(5, 4);
    }
}

// A load of the same buffer on another device releases first, so the index,
// the error text and the size built for follow the new device: on -3 the
// model built for 5 x 4 on -2 is not taken for one built for -3.
TEST_F(RebuildOnNpu, SameBufferOnAnotherDeviceReleasesFirst) {
    Load("dynamic_conv", -2, CoreWithNpuAndGpuDoubles());
    ASSERT_TRUE(Map(5, 4).ok) << object_->GetLastErrorMessage();
    for (int32_t device : {-3, -1}) {
        SCOPED_TRACE(device);
        O().last_error = "an earlier failure";
        const Observed load = Observe([&] { return object_->LoadModel(model_.data(), model_.size(), device, 3); });
        ASSERT_TRUE(load.ok) << load.error;
        EXPECT_EQ(load.error, "");
        EXPECT_EQ(O().current_gpu_index, device);
        const Observed run = Map(5, 4);
        ASSERT_TRUE(run.ok) << run.error;
        EXPECT_EQ(run.reloads, device == -3 ? 1u : 0u);
        EXPECT_EQ(O().input_width, device == -3 ? 5 : -1);
    }
}

// Validation comes first: nothing is rebuilt for a call that is refused.
TEST_F(RebuildOnNpu, RefusedCallRebuildsNothing) {
    Load("two_inputs");
    float a[4] = {}, sum[4] = {};
    std::vector<TensorData> outputs = {Record("sum", {1, 4}, sum), Record("difference", {1, 4}, nullptr)};
    const Observed refused = Observe(
        [&] { return object_->DoInference({Record("a", {1, 4}, a), Record("b", {1, 4}, a)}, outputs); });
    EXPECT_EQ(refused.error, "output.data is nullptr.");
    EXPECT_EQ(refused.reloads + refused.rebuilt, 0u);
    EXPECT_EQ(O().input_width, -1);
}

struct FailedRebuild {
    const char* label;
    const char* model;
    bool tensors;
    uint32_t width, height, channels;
};

void PrintTo(const FailedRebuild& c, std::ostream* os) { *os << c.label; }

class FailedRebuilds : public RebuildOnNpu, public ::testing::WithParamInterface<FailedRebuild> {};

// The failed load prints its own line first; the call then fails with the
// load's text, keeps no request and the size unset, and so tries again.
TEST_P(FailedRebuilds, ReportTheLoadsErrorAndRetryOnTheNextCall) {
    const FailedRebuild& c = GetParam();
    Load(c.model);
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        const Observed observed = c.tensors ? Tensors(c.width, c.height, 0, c.channels) : Map(c.width, c.height);
        EXPECT_FALSE(observed.ok);
        ASSERT_EQ(observed.error.rfind(kRebuildFailed, 0), 0u) << observed.error;
        const std::string load_error = observed.error.substr(kRebuildFailed.size());
        EXPECT_EQ(observed.console, kNeedReshape + "[OpenVINOInstance]Load model ov::Exception error: " + load_error +
                                        "[OpenVINOInstance]DoInference error: " + observed.error);
        EXPECT_EQ(std::vector<size_t>({observed.reloads, observed.rebuilt}), (std::vector<size_t>{1, 0}));
        EXPECT_EQ(std::vector<int32_t>({O().input_width, O().input_height}), std::vector<int32_t>(2, -1));
        EXPECT_EQ(O().infer_request, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Models, FailedRebuilds,
    ::testing::Values(FailedRebuild{"OneShapeForTwoInputs", "two_inputs", false, 5, 4, 3},
                      FailedRebuild{"EmptyImageUnderAConvolution", "dynamic_conv", false, 0, 0, 3},
                      FailedRebuild{"TensorsInputWithFourChannels", "dynamic_conv", true, 5, 4, 4}),
    [](const ::testing::TestParamInfo<FailedRebuild>& info) { return std::string(info.param.label); });

// A reload with the same buffer, size and device releases nothing, and the
// compile step resets the compiled model first: when that compile fails
// (here: the "GPU" double of NPU,GPU,CPU refuses to start), the old request
// survives without one. Every form goes on with that request, touching no
// compiled model that is not there.
TEST_F(RebuildOnNpu, ReloadWhoseCompileFailsLeavesTheOldRequestServing) {
    const std::shared_ptr<ov::Core> core = CoreWithNpuAndGpuDoubles();
    Load("two_inputs", -3, core);
    float a[4] = {1, 2, 3, 4}, b[4] = {0.5f, -1, 2, 8}, sum[4], difference[4];
    const std::vector<TensorData> inputs = {Record("a", {1, 4}, a), Record("b", {1, 4}, b)};
    // Both records named, so the own-side check runs; host buffers, then the
    // runtime's after host buffers, so a fresh request is made.
    auto expect_tensors_serve = [&] {
        for (int64_t length : {4, -1}) {
            std::vector<TensorData> outputs = {Record("sum", {1, length}, sum), Record("difference", {1, 4}, difference)};
            ASSERT_TRUE(Observe([&] { return object_->DoInference(inputs, outputs); }).ok) << O().last_error;
            for (int i = 0; i < 4; ++i) {
                EXPECT_EQ(static_cast<const float*>(outputs[0].data)[i], a[i] + b[i]);
                EXPECT_EQ(static_cast<const float*>(outputs[1].data)[i], a[i] - b[i]);
            }
        }
    };
    expect_tensors_serve();  // builds for 0 x 0, so the calls below do not rebuild
    const auto request = O().infer_request;
    const auto model = O().model;
    core->unload_plugin("GPU");
    struct Refusal {
        Refusal() { RefuseNewGpuDoubles(true); }
        ~Refusal() { RefuseNewGpuDoubles(false); }
    } refusal;
    const Observed reload = Observe([&] { return object_->LoadModel(model_.data(), model_.size(), -3, 3); });
    ASSERT_FALSE(reload.ok);
    EXPECT_NE(reload.error.find("the GPU double refuses to start"), std::string::npos) << reload.error;
    EXPECT_EQ(O().compiled_model, nullptr);
    EXPECT_EQ(O().infer_request, request);
    EXPECT_NE(O().model, model);  // read again: the new model
    expect_tensors_serve();
    std::vector<float> image = Image(5, 4), map(2 * 5 * 4);
    EXPECT_FALSE(Observe([&] { return object_->DoInference(5u, 4u, image.data(), nullptr, 5u, 4u, map.data()); }).ok);
    EXPECT_EQ(O().infer_request, nullptr);  // a rebuild for 5 x 4, which failed the same way

    // From another buffer the load releases first: it leaves the new model
    // and its records, and neither compiled model nor request.
    const std::vector<char> other = ReadModel("static_head");
    EXPECT_FALSE(Observe([&] { return object_->LoadModel(other.data(), other.size(), -3, 3); }).ok);
    EXPECT_NE(O().model, nullptr);
    EXPECT_EQ(O().input_names, std::vector<std::string>{"pixels"});
    EXPECT_TRUE(!O().compiled_model && !O().infer_request);
}

}  // namespace
