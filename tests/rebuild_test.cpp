// The rebuild of the map and tensors forms on the MULTI choices, which
// compile for one input size, run here over the "NPU" double (the CPU plugin
// renamed): only a new width or height rebuilds, and the size built for goes
// with the build.
#include <gtest/gtest.h>

#include <cmath>

#include "test_support.h"

namespace {

const std::string kNeedReshape = "[OpenVINOInstance]Need Reshape model";

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
        return {outcome, traces.Count("Ready reload model", true), traces.Count("Tessarine::RebuildModel()")};
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
    // The tensors form on dynamic_conv with one unnamed [1, channels, h, w]
    // record, which stands for the model's input.
    Observed Tensors(uint32_t width, uint32_t height, float offset = 0, uint32_t channels = 3, bool map_given = true) {
        std::vector<float> image = Image(width, height, offset, channels), map(2 * width * height, NAN);
        std::vector<TensorData> outputs = {Record("", {1, 2, height, width}, map_given ? map.data() : nullptr)};
        const Observed observed = Observe([&] {
            return object_->DoInference({Record("", {1, channels, height, width}, image.data())}, outputs);
        });
        if (observed.ok) EXPECT_EQ(map, DynamicConvMap(image));
        return observed;
    }
    // The CPU behind the double would run the dynamic model as well; only a
    // static compiled input shows that the model was reshaped.
    void ExpectBuiltFor(int32_t width, int32_t height, const ov::PartialShape& shape) {
        EXPECT_EQ(std::vector<int32_t>({O().input_width, O().input_height}), std::vector<int32_t>({width, height}));
        EXPECT_EQ(O().compiled_model->input(0).get_partial_shape(), shape);
    }
    void ExpectBuiltFor(int32_t width, int32_t height) {
        ExpectBuiltFor(width, height, {1, 3, height, width});
        EXPECT_EQ(O().input_node_dims[0], (std::vector<int64_t>{1, 3, height, width}));
    }

    std::vector<char> model_;
    ObjectPtr object_ = NewObject();
};

// The map and tensors forms share the size built for. Validation comes
// first: a refused call rebuilds nothing.
TEST_F(RebuildOnNpu, OnlyANewWidthOrHeightRebuildsWhateverTheForm) {
    Load("dynamic_conv");
    const Observed refused = Tensors(5, 4, 0, 3, false);
    EXPECT_TRUE(refused.error == "output.data is nullptr." && refused.reloads == 0 && O().input_width == -1);
    const struct {
        bool tensors;
        uint32_t width, height;
        bool rebuilds;
    } steps[] = {{false, 5, 4, true},  {false, 5, 4, false}, {true, 5, 4, false}, {true, 6, 4, true},
                 {false, 6, 4, false}, {false, 6, 3, true},  {true, 6, 3, false}, {false, 5, 4, true}};
    float offset = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE((step.tensors ? "tensors " : "map ") + std::to_string(step.width) + "x" +
                     std::to_string(step.height));
        const auto compiled = O().compiled_model;
        offset += 1;
        const Observed observed =
            step.tensors ? Tensors(step.width, step.height, offset) : Map(step.width, step.height, offset);
        ASSERT_TRUE(observed.ok) << observed.error;
        EXPECT_EQ(observed.console, step.rebuilds ? kNeedReshape : "");
        EXPECT_EQ(std::vector<size_t>({observed.reloads, observed.rebuilt}), std::vector<size_t>(2, step.rebuilds));
        EXPECT_EQ(O().compiled_model != compiled, step.rebuilds);
        ExpectBuiltFor(step.width, step.height);
    }
}

// The first record of three or four dims gives the size; rank-two records
// are passed over, so a model without such an input is built for 0 x 0.
TEST_F(RebuildOnNpu, SizeComesFromTheFirstInputOfThreeOrFourDims) {
    Load("planar3d");
    std::vector<float> image = Image(5, 4, -1), y(image.size(), NAN);
    std::vector<TensorData> outputs = {Record("y", {3, 4, 5}, y.data())};
    ASSERT_TRUE(Observe([&] { return object_->DoInference({Record("image", {3, 4, 5}, image.data())}, outputs); }).ok);
    ExpectBuiltFor(5, 4, {3, 4, 5});
    for (size_t i = 0; i < image.size(); ++i) EXPECT_EQ(y[i], std::max(image[i], 0.0f)) << i;

    Load("two_inputs");
    float a[4] = {1, 2, 3, 4}, sum[4], difference[4];
    std::vector<TensorData> sums = {Record("sum", {1, 4}, sum), Record("difference", {1, 4}, difference)};
    for (size_t reloads : {1u, 0u}) {
        const Observed run = Observe([&] {
            return object_->DoInference({Record("a", {1, 4}, a), Record("b", {1, 4}, a)}, sums);
        });
        EXPECT_TRUE(run.ok && run.reloads == reloads) << run.error;
        ExpectBuiltFor(0, 0, {1, 4});
    }
}

// Only width and height decide: a tensors rebuild reshapes to the records'
// whole dims, batch included, and a later call of that size runs on that
// build even where it does not fit. A load recovers.
TEST_F(RebuildOnNpu, BatchOfATensorsRebuildStaysUntilTheSizeChanges) {
    Load("dynamic_conv");
    std::vector<float> images = Image(5, 4, 0, 6), maps(2 * 2 * 5 * 4, NAN);
    std::vector<TensorData> outputs = {Record("", {2, 2, 4, 5}, maps.data())};
    ASSERT_TRUE(Observe([&] { return object_->DoInference({Record("", {2, 3, 4, 5}, images.data())}, outputs); }).ok);
    ExpectBuiltFor(5, 4, {2, 3, 4, 5});
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

// After a load from another buffer, or of the same buffer on another device
// (which releases first, so the index and the error text follow the device),
// a call at the size built before must rebuild, unless the device takes any
// size. (After a failed rebuild: FailedRebuildReportsTheLoadsErrorAndIsTriedAgain.)
TEST_F(RebuildOnNpu, SizeBuiltForGoesWithTheBuild) {
    Load("dynamic_conv", -2, CoreWithNpuAndGpuDoubles());
    const std::vector<char> other = model_;
    ASSERT_TRUE(Map(5, 4).ok);
    for (const auto& [data, device] : {std::pair{other.data(), -2}, {other.data(), -3}, {other.data(), -1}}) {
        SCOPED_TRACE(device);
        O().last_error = "an earlier failure";
        ASSERT_TRUE(object_->LoadModel(data, other.size(), device, 3)) << object_->GetLastErrorMessage();
        EXPECT_TRUE(O().last_error.empty() && O().current_gpu_index == device);
        const bool multi = device != -1;
        const Observed again = Map(5, 4);
        EXPECT_TRUE(again.ok && again.reloads == multi && again.console == (multi ? kNeedReshape : "")) << again.error;
        EXPECT_EQ(O().input_width, multi ? 5 : -1);
    }
}

// The failed load prints its own line first; the call then fails with the
// load's text, keeps no request and the size unset, and so tries again.
TEST_F(RebuildOnNpu, FailedRebuildReportsTheLoadsErrorAndIsTriedAgain) {
    const std::string rebuild_failed = "the model could not be rebuilt for the new input size: ";
    for (bool tensors : {false, true}) {
        SCOPED_TRACE(tensors ? "tensors form, four channels" : "map form, a model of two inputs");
        Load(tensors ? "dynamic_conv" : "two_inputs");
        for (int attempt = 1; attempt <= 2; ++attempt) {
            const Observed observed = tensors ? Tensors(5, 4, 0, 4) : Map(5, 4);
            EXPECT_FALSE(observed.ok);
            ASSERT_EQ(observed.error.rfind(rebuild_failed, 0), 0u) << observed.error;
            EXPECT_EQ(observed.console, kNeedReshape + "[OpenVINOInstance]Load model ov::Exception error: " +
                                            observed.error.substr(rebuild_failed.size()) +
                                            "[OpenVINOInstance]DoInference error: " + observed.error);
            EXPECT_EQ(std::vector<size_t>({observed.reloads, observed.rebuilt}), (std::vector<size_t>{1, 0}));
            EXPECT_EQ(std::vector<int32_t>({O().input_width, O().input_height}), std::vector<int32_t>(2, -1));
            EXPECT_EQ(O().infer_request, nullptr);
        }
    }
}

// A reload with the same buffer, size and device releases nothing, and the
// compile step resets the compiled model first: when that compile fails
// (here: the "GPU" double of NPU,GPU,CPU refuses to start), the old request
// survives without one. Every form goes on with that request, touching no
// compiled model that is not there.
TEST_F(RebuildOnNpu, ReloadWhoseCompileFailsLeavesTheOldRequestServing) {
    const std::shared_ptr<ov::Core> core = CoreWithNpuAndGpuDoubles();
    Load("two_inputs", -3, core);
    float a[4] = {1, 2, 3, 4}, b[4] = {0.5f, -1, 2, 8}, sum[4], difference[4];
    // Both records named, so the own-side check runs; host buffers, then the
    // runtime's after host buffers, so a fresh request is made.
    auto expect_tensors_serve = [&] {
        for (int64_t length : {4, -1}) {
            std::vector<TensorData> outputs = {Record("sum", {1, length}, sum),
                                               Record("difference", {1, 4}, difference)};
            ASSERT_TRUE(Observe([&] {
                            return object_->DoInference({Record("a", {1, 4}, a), Record("b", {1, 4}, b)}, outputs);
                        }).ok)
                << O().last_error;
            for (int i = 0; i < 4; ++i)
                EXPECT_EQ(static_cast<const float*>(outputs[0].data)[i] - static_cast<const float*>(outputs[1].data)[i],
                          2 * b[i]);
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
    EXPECT_TRUE(O().model && O().input_names == std::vector<std::string>{"pixels"});
    EXPECT_TRUE(!O().compiled_model && !O().infer_request);
}

}  // namespace
