// The automatic rebuild of DoInference(0) and DoInference(2) on the MULTI
// device choices, run here on the "NPU" double (the CPU plugin renamed).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "test_support.h"

namespace {

const std::string kNeedReshape = "[OpenVINOInstance]Need Reshape model";
const std::string kRebuildFailed = "the model could not be rebuilt for the new input size: ";

std::string ReloadText(int32_t device, int64_t width, int64_t height) {
    return "Ready reload model, current_gpu_index: " + std::to_string(device) +
           ", new_inputWidth: " + std::to_string(width) + ", new_inputHeight: " + std::to_string(height);
}

struct Observed {
    bool ran;
    std::string console;
    std::vector<std::string> traces;

    size_t Count(const std::string& text) const { return std::count(traces.begin(), traces.end(), text); }
    size_t Reloads() const {
        return std::count_if(traces.begin(), traces.end(),
                             [](const std::string& t) { return t.rfind("Ready reload model", 0) == 0; });
    }
    size_t IndexOf(const std::string& text) const {
        return std::find(traces.begin(), traces.end(), text) - traces.begin();
    }
};

template <class Work>
Observed Observe(Work&& work) {
    TraceRecorder traces;
    StdoutCapture capture;
    const bool ran = work();
    std::string console = capture.Text();
    return {ran, console, traces.Texts()};
}

void ExpectMap(const std::vector<float>& image, const std::vector<float>& map) {
    const std::vector<float> expected = DynamicConvMap(image);
    ASSERT_EQ(map.size(), expected.size());
    for (size_t i = 0; i < map.size(); ++i) EXPECT_FLOAT_EQ(map[i], expected[i]) << "at " << i;
}

class RebuildOnNpu : public ::testing::Test {
protected:
    void Load(const std::string& name, int32_t device = -2, std::shared_ptr<ov::Core> core = CoreWithNpuDouble()) {
        model_ = ReadModel(name);
        TessarineTestAccess::SetCore(State(), std::move(core));
        ASSERT_TRUE(object_->LoadModel(model_.data(), model_.size(), device, 3)) << object_->GetLastErrorMessage();
    }
    Tessarine& State() { return AsTessarine(object_); }

    // DoInference(0) on dynamic_conv, two output channels.
    Observed RunSingle(uint32_t width, uint32_t height, float offset = 0) {
        // Never empty: a null data pointer would be rejected before the rebuild.
        std::vector<float> image = Image(width, height, offset), map(std::max(2u * width * height, 1u), NAN);
        image.resize(std::max<size_t>(image.size(), 1));
        const auto desc = Descriptor(2);
        Observed observed = Observe(
            [&] { return object_->DoInference(width, height, image.data(), desc.data(), width, height, map.data()); });
        if (observed.ran) ExpectMap(image, map);
        return observed;
    }

    // DoInference(2) on dynamic_conv with one unnamed [1, channels, h, w] record.
    Observed RunNamed(uint32_t width, uint32_t height, float offset = 0, uint32_t channels = 3) {
        std::vector<float> image = Image(width, height, offset, channels), map(2 * width * height, NAN);
        std::vector<TensorData> outputs = {Record("", {1, 2, height, width}, map.data())};
        Observed observed = Observe(
            [&] { return object_->DoInference({Record("", {1, channels, height, width}, image.data())}, outputs); });
        if (observed.ran) ExpectMap(image, map);
        return observed;
    }

    void ExpectBuiltFor(int64_t width, int64_t height) {
        EXPECT_EQ(TessarineTestAccess::InputWidth(State()), width);
        EXPECT_EQ(TessarineTestAccess::InputHeight(State()), height);
        int64_t dims[4] = {};
        EXPECT_EQ(object_->GetInputShape(0, &dims[0], &dims[1], &dims[2], &dims[3], nullptr), 4u);
        EXPECT_EQ(std::vector<int64_t>(dims, dims + 4), (std::vector<int64_t>{1, 3, height, width}));
        // The CPU behind the double would run a dynamic model as well; only a
        // static compiled input shows that the model was really reshaped.
        const ov::PartialShape compiled = TessarineTestAccess::Compiled(State())->input().get_partial_shape();
        EXPECT_TRUE(compiled.is_static());
        EXPECT_EQ(compiled, (ov::PartialShape{1, 3, height, width}));
    }

    std::vector<char> model_;
    ObjectPtr object_ = NewObject();
};

TEST_F(RebuildOnNpu, OnlyANewWidthOrHeightRebuilds) {
    Load("dynamic_conv");
    ASSERT_EQ(TessarineTestAccess::InputWidth(State()), -1);
    const struct {
        uint32_t width, height;
        bool rebuilds;
    } steps[] = {{5, 4, true}, {5, 4, false}, {6, 4, true}, {6, 3, true}, {6, 3, false}, {5, 4, true}};
    float offset = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(std::to_string(step.width) + "x" + std::to_string(step.height));
        const auto compiled = TessarineTestAccess::Compiled(State());
        const Observed observed = RunSingle(step.width, step.height, offset += 1);
        ASSERT_TRUE(observed.ran) << object_->GetLastErrorMessage();
        EXPECT_EQ(observed.console, step.rebuilds ? kNeedReshape : "");
        EXPECT_EQ(observed.Reloads(), step.rebuilds ? 1u : 0u);
        EXPECT_EQ(observed.Count(ReloadText(-2, step.width, step.height)), step.rebuilds ? 1u : 0u);
        EXPECT_EQ(observed.Count("Tessarine::RebuildModel()"), step.rebuilds ? 1u : 0u);
        if (step.rebuilds) {
            EXPECT_LT(observed.IndexOf(ReloadText(-2, step.width, step.height)),
                      observed.IndexOf("Tessarine::innerLoadModel(0)"));
            EXPECT_LT(observed.IndexOf("Tessarine::innerLoadModel(0)"), observed.IndexOf("Tessarine::RebuildModel()"));
        }
        EXPECT_EQ(TessarineTestAccess::Compiled(State()) != compiled, step.rebuilds);
        ExpectBuiltFor(step.width, step.height);
    }
}

TEST_F(RebuildOnNpu, SingleAndNamedFormsShareTheSizeBuiltFor) {
    Load("dynamic_conv");
    ASSERT_TRUE(RunSingle(5, 4).ran);
    const Observed named_same = RunNamed(5, 4, 1);
    ASSERT_TRUE(named_same.ran) << object_->GetLastErrorMessage();
    EXPECT_EQ(named_same.console, "");
    EXPECT_EQ(named_same.Reloads(), 0u);

    // The unnamed record is reshaped under the model's input name; a wrong
    // name would fail this rebuild.
    const Observed named_new = RunNamed(7, 6, 2);
    ASSERT_TRUE(named_new.ran) << object_->GetLastErrorMessage();
    EXPECT_EQ(named_new.console, kNeedReshape);
    EXPECT_EQ(named_new.Count(ReloadText(-2, 7, 6)), 1u);
    EXPECT_EQ(named_new.Count("Tessarine::RebuildModel()"), 1u);
    ExpectBuiltFor(7, 6);
    const Observed single_same = RunSingle(7, 6, 3);
    ASSERT_TRUE(single_same.ran) << object_->GetLastErrorMessage();
    EXPECT_EQ(single_same.console, "");
    EXPECT_EQ(single_same.Reloads(), 0u);
}

TEST_F(RebuildOnNpu, ThreeDimensionalInputGivesHeightAndWidthFromItsLastAxes) {
    Load("planar3d");
    std::vector<float> image = Image(5, 4, -1), y(image.size(), NAN);
    std::vector<TensorData> outputs = {Record("y", {3, 4, 5}, y.data())};
    const Observed observed =
        Observe([&] { return object_->DoInference({Record("image", {3, 4, 5}, image.data())}, outputs); });
    ASSERT_TRUE(observed.ran) << object_->GetLastErrorMessage();
    EXPECT_EQ(observed.Count(ReloadText(-2, 5, 4)), 1u);
    EXPECT_EQ(TessarineTestAccess::InputWidth(State()), 5);
    EXPECT_EQ(TessarineTestAccess::InputHeight(State()), 4);
    EXPECT_EQ(TessarineTestAccess::Compiled(State())->input().get_partial_shape(), (ov::PartialShape{3, 4, 5}));
    for (size_t i = 0; i < image.size(); ++i) EXPECT_FLOAT_EQ(y[i], std::max(image[i], 0.0f)) << "at " << i;
}

TEST_F(RebuildOnNpu, InputsOfRankTwoArePassedOverInTheSizeSearch) {
    Load("two_inputs");
    float a[4] = {1, 2, 3, 4}, b[4] = {0.5f, -1, 2, 8}, sum[4], difference[4];
    const std::vector<TensorData> inputs = {Record("a", {1, 4}, a), Record("b", {1, 4}, b)};
    std::vector<TensorData> outputs = {Record("sum", {1, 4}, sum), Record("difference", {1, 4}, difference)};
    const Observed first = Observe([&] { return object_->DoInference(inputs, outputs); });
    ASSERT_TRUE(first.ran) << object_->GetLastErrorMessage();
    EXPECT_EQ(first.Count(ReloadText(-2, 0, 0)), 1u);
    for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(sum[i], a[i] + b[i]);
    const Observed second = Observe([&] { return object_->DoInference(inputs, outputs); });
    ASSERT_TRUE(second.ran) << object_->GetLastErrorMessage();
    EXPECT_EQ(second.console, "");
    for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(difference[i], a[i] - b[i]);
}

// Only width and height decide: a named rebuild reshapes to the records'
// whole dims, batch included, and a later call of the same size reuses that
// build even where it does not fit. A reload recovers.
TEST_F(RebuildOnNpu, BatchOfANamedRebuildStaysUntilTheSizeChanges) {
    Load("dynamic_conv");
    std::vector<float> images = Image(5, 4, 0, 6), maps(2 * 2 * 5 * 4, NAN);
    std::vector<TensorData> outputs = {Record("", {2, 2, 4, 5}, maps.data())};
    const Observed batch = Observe([&] { return object_->DoInference({Record("", {2, 3, 4, 5}, images.data())}, outputs); });
    ASSERT_TRUE(batch.ran) << object_->GetLastErrorMessage();
    EXPECT_EQ(batch.console, kNeedReshape);
    EXPECT_EQ(TessarineTestAccess::Compiled(State())->input().get_partial_shape(), (ov::PartialShape{2, 3, 4, 5}));
    for (size_t image = 0; image < 2; ++image)
        ExpectMap({images.begin() + image * 60, images.begin() + (image + 1) * 60},
                  {maps.begin() + image * 40, maps.begin() + (image + 1) * 40});

    const Observed single = RunSingle(5, 4);
    EXPECT_FALSE(single.ran);
    EXPECT_EQ(single.Reloads(), 0u);
    EXPECT_EQ(single.console.rfind("[OpenVINOInstance]DoInference ov::Exception error: ", 0), 0u) << single.console;
    EXPECT_NE(object_->GetLastErrorMessage().find("incompatible"), std::string::npos)
        << object_->GetLastErrorMessage();

    ASSERT_TRUE(object_->LoadModel(model_.data(), model_.size(), -2, 3)) << object_->GetLastErrorMessage();
    const Observed reloaded = RunSingle(5, 4);
    EXPECT_TRUE(reloaded.ran) << object_->GetLastErrorMessage();
    EXPECT_EQ(reloaded.Reloads(), 0u);
}

// The size built for goes with the build: after a load from another buffer,
// and after a rebuild that failed, a call at the earlier size must rebuild.
// The CPU behind the double would run the unreshaped model as well; only the
// rebuild and the static compiled shape show the difference.
TEST_F(RebuildOnNpu, SizeBuiltForIsForgottenWithTheBuild) {
    Load("dynamic_conv");
    const std::vector<char> other = model_;
    for (bool failed_rebuild : {false, true}) {
        SCOPED_TRACE(failed_rebuild ? "after a failed rebuild" : "after a load from another buffer");
        ASSERT_TRUE(RunSingle(5, 4).ran) << object_->GetLastErrorMessage();
        if (failed_rebuild)
            ASSERT_FALSE(RunSingle(0, 0).ran);
        else
            ASSERT_TRUE(object_->LoadModel(other.data(), other.size(), -2, 3)) << object_->GetLastErrorMessage();
        const Observed again = RunSingle(5, 4);
        ASSERT_TRUE(again.ran) << object_->GetLastErrorMessage();
        EXPECT_EQ(again.Reloads(), 1u);
        ExpectBuiltFor(5, 4);
    }
}

// A load of the same buffer on another device releases first, so the index,
// the error text and the size built for all follow the new device: on -3 the
// model built for 5 x 4 on -2 is not taken for one built for -3.
TEST_F(RebuildOnNpu, SameBufferOnAnotherDeviceReleasesFirst) {
    Load("dynamic_conv", -2, CoreWithNpuAndGpuDoubles());
    ASSERT_TRUE(RunSingle(5, 4).ran) << object_->GetLastErrorMessage();
    for (int32_t device : {-3, -1}) {
        SCOPED_TRACE(device);
        std::vector<TensorData> none;
        ASSERT_FALSE(Observe([&] { return object_->DoInference({}, none); }).ran);
        const Observed load = Observe([&] { return object_->LoadModel(model_.data(), model_.size(), device, 3); });
        ASSERT_TRUE(load.ran) << object_->GetLastErrorMessage();
        EXPECT_EQ(load.Count("Tessarine::ReleaseModel()"), 1u);
        EXPECT_EQ(TessarineTestAccess::DeviceIndex(State()), device);
        EXPECT_EQ(object_->GetLastErrorMessage(), "");
        const Observed run = RunSingle(5, 4);
        ASSERT_TRUE(run.ran) << object_->GetLastErrorMessage();
        EXPECT_EQ(run.Reloads(), device == -3 ? 1u : 0u);
        if (device == -3) ExpectBuiltFor(5, 4);
    }
    EXPECT_EQ(TessarineTestAccess::InputWidth(State()), -1);
}

struct FailedRebuild {
    const char* label;
    const char* model;
    bool named;
    uint32_t width, height, channels;
};

void PrintTo(const FailedRebuild& c, std::ostream* os) { *os << c.label; }

class FailedRebuilds : public RebuildOnNpu, public ::testing::WithParamInterface<FailedRebuild> {
protected:
    Observed RunCase() {
        const FailedRebuild& c = GetParam();
        return c.named ? RunNamed(c.width, c.height, 0, c.channels) : RunSingle(c.width, c.height);
    }
};

TEST_P(FailedRebuilds, ReportTheLoadsErrorAndRetryOnTheNextCall) {
    Load(GetParam().model);
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        const Observed observed = RunCase();
        EXPECT_FALSE(observed.ran);
        const std::string error = object_->GetLastErrorMessage();
        ASSERT_EQ(error.rfind(kRebuildFailed, 0), 0u) << error;
        const std::string load_error = error.substr(kRebuildFailed.size());
        EXPECT_FALSE(load_error.empty());
        EXPECT_EQ(observed.console, kNeedReshape + "[OpenVINOInstance]Load model ov::Exception error: " + load_error +
                                        "[OpenVINOInstance]DoInference error: " + error);
        EXPECT_EQ(observed.Reloads(), 1u);
        EXPECT_EQ(observed.Count("Tessarine::RebuildModel()"), 0u);
        EXPECT_EQ(TessarineTestAccess::InputWidth(State()), -1);
        EXPECT_EQ(TessarineTestAccess::InputHeight(State()), -1);
        EXPECT_EQ(TessarineTestAccess::Request(State()), nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Models, FailedRebuilds,
    ::testing::Values(FailedRebuild{"OneShapeForTwoInputs", "two_inputs", false, 5, 4, 3},
                      FailedRebuild{"EmptyImageUnderAConvolution", "dynamic_conv", false, 0, 0, 3},
                      FailedRebuild{"NamedInputWithFourChannels", "dynamic_conv", true, 5, 4, 4}),
    [](const ::testing::TestParamInfo<FailedRebuild>& info) { return std::string(info.param.label); });

TEST_F(RebuildOnNpu, UsableSizeAfterAFailedRebuildBuildsAgain) {
    Load("dynamic_conv");
    ASSERT_FALSE(RunSingle(0, 0).ran);
    const Observed retry = RunSingle(5, 4);
    ASSERT_TRUE(retry.ran) << object_->GetLastErrorMessage();
    EXPECT_EQ(retry.console, kNeedReshape);
    EXPECT_EQ(object_->GetLastErrorMessage(), "");
    ExpectBuiltFor(5, 4);
}

// With "NPU" and "GPU" doubles, all three devices of the list really compile.
class NpuGpuCpuDoubles : public RebuildOnNpu {
protected:
    void SetUp() override {
        model_ = ReadModel("two_inputs");
        core_ = CoreWithNpuAndGpuDoubles();
        TessarineTestAccess::SetCore(State(), core_);
        ASSERT_TRUE(object_->LoadModel(model_.data(), model_.size(), -3, 3)) << object_->GetLastErrorMessage();
    }
    void TearDown() override { RefuseNewGpuDoubles(false); }
    // Both records named (so the own-side check runs); host buffers, or the
    // runtime's after host buffers (so a fresh request is made).
    void ExpectNamedCallsServe() {
        float a[4] = {1, 2, 3, 4}, b[4] = {0.5f, -1, 2, 8}, sum[4] = {}, difference[4] = {};
        const std::vector<TensorData> inputs = {Record("a", {1, 4}, a), Record("b", {1, 4}, b)};
        for (int64_t length : {4, -1}) {
            std::vector<TensorData> outputs = {Record("sum", {1, length}, sum),
                                               Record("difference", {1, 4}, difference)};
            const Observed run = Observe([&] { return object_->DoInference(inputs, outputs); });
            ASSERT_TRUE(run.ran) << object_->GetLastErrorMessage();
            for (int i = 0; i < 4; ++i) {
                EXPECT_EQ(static_cast<const float*>(outputs[0].data)[i], a[i] + b[i]);
                EXPECT_EQ(static_cast<const float*>(outputs[1].data)[i], a[i] - b[i]);
            }
        }
    }

    std::shared_ptr<ov::Core> core_;
};

TEST_F(NpuGpuCpuDoubles, MultiReceivesThePriorityListInOrder) {
    EXPECT_EQ(TessarineTestAccess::Compiled(State())->get_property(ov::device::priorities), "NPU,GPU,CPU");
    ExpectNamedCallsServe();
}

// The compile step resets the compiled model first; a reload with the same
// buffer, size and device releases nothing, so the old request survives it
// without one. Every form must go on with that request, and touch no
// compiled model that is not there.
TEST_F(NpuGpuCpuDoubles, ReloadWhoseCompileFailsLeavesTheOldRequestServing) {
    ExpectNamedCallsServe();  // builds for 0 x 0, so the calls below do not rebuild
    const auto request = TessarineTestAccess::Request(State());
    const auto model = TessarineTestAccess::Model(State());
    core_->unload_plugin("GPU");
    RefuseNewGpuDoubles(true);
    const Observed reload = Observe([&] { return object_->LoadModel(model_.data(), model_.size(), -3, 3); });
    ASSERT_FALSE(reload.ran);
    EXPECT_NE(object_->GetLastErrorMessage().find("the GPU double refuses to start"), std::string::npos)
        << object_->GetLastErrorMessage();
    EXPECT_EQ(TessarineTestAccess::Compiled(State()), nullptr);
    EXPECT_EQ(TessarineTestAccess::Request(State()), request);
    EXPECT_NE(TessarineTestAccess::Model(State()), model);  // read again: the new model
    EXPECT_EQ(TessarineTestAccess::InputWidth(State()), 0);
    ExpectNamedCallsServe();
    std::vector<float> image = Image(5, 4), map(2 * 5 * 4);
    const Observed single =
        Observe([&] { return object_->DoInference(5u, 4u, image.data(), nullptr, 5u, 4u, map.data()); });
    EXPECT_FALSE(single.ran);  // a rebuild for 5 x 4, which fails the same way
    EXPECT_EQ(TessarineTestAccess::Request(State()), nullptr);

    // From another buffer the load releases first: it leaves the new model
    // and its records, and neither compiled model nor request.
    const std::vector<char> other = ReadModel("static_head");
    ASSERT_FALSE(Observe([&] { return object_->LoadModel(other.data(), other.size(), -3, 3); }).ran);
    EXPECT_NE(TessarineTestAccess::Model(State()), nullptr);
    EXPECT_EQ(TessarineTestAccess::InputNames(State()), std::vector<std::string>{"pixels"});
    EXPECT_EQ(TessarineTestAccess::Compiled(State()), nullptr);
    EXPECT_EQ(TessarineTestAccess::Request(State()), nullptr);
}

// NPU, GPU, CPU through MULTI. This machine has no GPU runtime (libOpenCL)
// and no NPU driver (libze_loader): the runtime cannot load the GPU plugin, nor
// its own NPU plugin, and MULTI does not pass over a device it cannot load.
class NpuGpuCpuChoice : public ::testing::TestWithParam<bool> {};

TEST_P(NpuGpuCpuChoice, FailsToCompileWhereAPluginCannotBeLoaded) {
    const bool with_double = GetParam();
    const std::shared_ptr<ov::Core> core = with_double ? CoreWithNpuDouble() : std::make_shared<ov::Core>();
    const std::string first_missing = with_double ? "GPU" : "NPU";
    const std::vector<std::string> devices = core->get_available_devices();
    if (std::find(devices.begin(), devices.end(), first_missing) != devices.end())
        GTEST_SKIP() << first_missing << " is available here; this is about machines without it";

    ObjectPtr object = NewObject();
    TessarineTestAccess::SetCore(AsTessarine(object), core);
    const std::vector<char> model = ReadModel("dynamic_conv");
    const Observed load = Observe([&] { return object->LoadModel(model.data(), model.size(), -3, 3); });
    EXPECT_FALSE(load.ran);
    const std::string error = object->GetLastErrorMessage();
    EXPECT_NE(error.find("Cannot load library"), std::string::npos) << error;
    EXPECT_EQ(load.console, "[OpenVINOInstance]Load model ov::Exception error: " + error);
    EXPECT_EQ(load.Count("Make CompiledModel, device_name: NPU+GPU+CPU, device_index: -3"), 1u);
    EXPECT_EQ(TessarineTestAccess::Request(AsTessarine(object)), nullptr);

    // The index stays -3, so an inference tries the rebuild and meets the same failure.
    std::vector<float> image(3 * 5 * 4), map(3 * 5 * 4);
    const Observed run = Observe([&] { return object->DoInference(5u, 4u, image.data(), nullptr, 5u, 4u, map.data()); });
    EXPECT_FALSE(run.ran);
    EXPECT_EQ(object->GetLastErrorMessage(), kRebuildFailed + error);
    EXPECT_EQ(run.Count(ReloadText(-3, 5, 4)), 1u);
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutTheNpuDouble, NpuGpuCpuChoice, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "NpuDouble" : "RuntimesNpuPlugin");
                         });

}  // namespace
