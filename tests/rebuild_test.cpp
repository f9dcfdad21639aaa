// The rebuild of the map and tensors forms on the MULTI choices, which
// compile for one input size, run here over the "NPU" double (the CPU plugin
// renamed): only a new width or height rebuilds, and the size built for goes
// with the build.
#include <dlfcn.h>

#include <cmath>
#include <tuple>

#include "test_support.h"

namespace {

const std::string kNeedReshape = "[OpenVINOInstance]Need Reshape model";

class RebuildOnNpu : public ModuleTest {
protected:
    size_t Reloads(const Outcome& outcome) { return outcome.Traced("Ready reload model"); }
    // The reloads begun and the rebuilds done.
    std::vector<size_t> Rebuilds(const Outcome& run) { return {Reloads(run), run.Traced("Tessarine::RebuildModel()")}; }
    // The map form on dynamic_conv, and the tensors form with one unnamed
    // [1, channels, h, w] record, which stands for the model's input; their
    // values checked where they run.
    Outcome Map(uint32_t width, uint32_t height, float offset = 0) {
        std::vector<float> image = Image(width, height, offset), map(2 * width * height, NAN);
        const auto desc = Descriptor(2);
        const Outcome outcome = Run(
            [&] { return object_->DoInference(width, height, image.data(), desc.data(), width, height, map.data()); });
        if (outcome.ok) EXPECT_EQ(map, DynamicConvMap(image));
        return outcome;
    }
    Outcome ImageTensors(uint32_t width, uint32_t height, float offset = 0, uint32_t channels = 3,
                         bool map_given = true) {
        std::vector<float> image = Image(width, height, offset, channels), map(2 * width * height, NAN);
        std::vector<TensorData> outputs = {Record("", {1, 2, height, width}, map_given ? map.data() : nullptr)};
        const Outcome outcome = Tensors({Record("", {1, channels, height, width}, image.data())}, outputs);
        if (outcome.ok) EXPECT_EQ(map, DynamicConvMap(image));
        return outcome;
    }
    // The CPU behind the double would run the dynamic model as well; only a
    // static compiled input shows that the model was reshaped.
    void ExpectBuiltFor(int32_t width, int32_t height, const std::vector<int64_t>& dims) {
        EXPECT_EQ(std::vector<int32_t>({O().input_width, O().input_height}), std::vector<int32_t>({width, height}));
        EXPECT_EQ(O().compiled_model->input(0).get_partial_shape(), ov::PartialShape(dims));
        EXPECT_EQ(O().input_node_dims[0], dims);
    }
};

// The map and tensors forms share the size built for. Validation comes
// first: a refused call rebuilds nothing.
TEST_F(RebuildOnNpu, OnlyANewWidthOrHeightRebuildsWhateverTheForm) {
    Load("dynamic_conv", -2, CoreWithNpuDouble());
    const Outcome refused = ImageTensors(5, 4, 0, 3, false);
    EXPECT_TRUE(refused.error == "output.data is nullptr.");
    EXPECT_TRUE(Reloads(refused) == 0);
    EXPECT_TRUE(O().input_width == -1);
    // The form (tensors or map), the size, whether it rebuilds.
    const std::tuple<bool, uint32_t, uint32_t, bool> steps[] = {
        {false, 5, 4, true},  {false, 5, 4, false}, {true, 5, 4, false}, {true, 6, 4, true},
        {false, 6, 4, false}, {false, 6, 3, true},  {true, 6, 3, false}, {false, 5, 4, true}};
    float offset = 0;
    for (const auto& [tensors, width, height, rebuilds] : steps) {
        SCOPED_TRACE(::testing::Message() << (tensors ? "tensors " : "map ") << width << "x" << height);
        const auto compiled = O().compiled_model;
        offset += 1;
        const Outcome run = tensors ? ImageTensors(width, height, offset) : Map(width, height, offset);
        ASSERT_TRUE(run.ok) << run.error;
        EXPECT_EQ(run.console, rebuilds ? kNeedReshape : "");
        EXPECT_EQ(Rebuilds(run), std::vector<size_t>(2, rebuilds));
        EXPECT_EQ(O().compiled_model != compiled, rebuilds);
        ExpectBuiltFor(width, height, {1, 3, height, width});
    }
}

// The first record of three or four dims gives the size (rank-two records
// are passed over: ReloadWhoseCompileFailsLeavesTheOldRequestServing).
TEST_F(RebuildOnNpu, SizeComesFromTheFirstInputOfThreeOrFourDims) {
    Load("planar3d", -2, CoreWithNpuDouble());
    std::vector<float> image = Image(5, 4, -1), y(image.size(), NAN);
    std::vector<TensorData> outputs = {Record("y", {3, 4, 5}, y.data())};
    ASSERT_TRUE(Tensors({Record("image", {3, 4, 5}, image.data())}, outputs).ok);
    ExpectBuiltFor(5, 4, {3, 4, 5});
}

// Only width and height decide: a tensors rebuild reshapes to the records'
// whole dims, batch included, and a later call of that size runs on that
// build even where it does not fit. A load recovers. After a load from
// another buffer, or of the same buffer on another device (which releases
// first, so the index follows the device), a call at the size built before
// must rebuild, unless the device takes any size. (After a failed rebuild:
// FailedRebuildReportsTheLoadsErrorAndIsTriedAgain.)
TEST_F(RebuildOnNpu, SizeBuiltForGoesWithTheBuildWhateverItsBatch) {
    Load("dynamic_conv", -2, CoreWithNpuDouble(true));
    std::vector<float> images = Image(5, 4, 0, 6), maps(2 * 2 * 5 * 4, NAN);
    std::vector<TensorData> outputs = {Record("", {2, 2, 4, 5}, maps.data())};
    ASSERT_TRUE(Tensors({Record("", {2, 3, 4, 5}, images.data())}, outputs).ok);
    ExpectBuiltFor(5, 4, {2, 3, 4, 5});
    std::vector<float> expected = DynamicConvMap({images.begin(), images.begin() + 60}),
                       second = DynamicConvMap({images.begin() + 60, images.end()});
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(maps, expected);
    const Outcome single = Map(5, 4);
    EXPECT_TRUE(!single.ok);
    EXPECT_TRUE(Reloads(single) == 0);
    ASSERT_TRUE(object_->LoadModel(model_.data(), model_.size(), -2, 3)) << object_->GetLastErrorMessage();
    const Outcome reloaded = Map(5, 4);
    EXPECT_TRUE(reloaded.ok) << reloaded.error;
    EXPECT_TRUE(Reloads(reloaded) == 0) << reloaded.error;
    const std::vector<char> other = model_;
    for (int32_t device : {-2, -3, -1}) {
        SCOPED_TRACE(device);
        ASSERT_TRUE(object_->LoadModel(other.data(), other.size(), device, 3)) << object_->GetLastErrorMessage();
        EXPECT_EQ(O().current_gpu_index, device);
        const bool multi = device != -1;
        const Outcome again = Map(5, 4);
        EXPECT_TRUE(again.ok) << again.error;
        EXPECT_TRUE(Reloads(again) == multi) << again.error;
        EXPECT_TRUE(again.console == (multi ? kNeedReshape : "")) << again.error;
        EXPECT_EQ(O().input_width, multi ? 5 : -1);
    }
}

// The failed load prints its own line first; the call then fails with the
// load's text, keeps no request and the size unset, and so tries again.
TEST_F(RebuildOnNpu, FailedRebuildReportsTheLoadsErrorAndIsTriedAgain) {
    const std::string rebuild_failed = "the model could not be rebuilt for the new input size: ";
    for (bool tensors : {false, true}) {
        SCOPED_TRACE(tensors ? "tensors form, four channels" : "map form, a model of two inputs");
        Load(tensors ? "dynamic_conv" : "two_inputs", -2, CoreWithNpuDouble());
        for (int attempt = 1; attempt <= 2; ++attempt) {
            const Outcome run = tensors ? ImageTensors(5, 4, 0, 4) : Map(5, 4);
            EXPECT_FALSE(run.ok);
            ASSERT_EQ(run.error.rfind(rebuild_failed, 0), 0u) << run.error;
            EXPECT_EQ(run.console, kNeedReshape + "[OpenVINOInstance]Load model ov::Exception error: " +
                                       run.error.substr(rebuild_failed.size()) +
                                       "[OpenVINOInstance]DoInference error: " + run.error);
            EXPECT_EQ(Rebuilds(run), (std::vector<size_t>{1, 0}));
            EXPECT_EQ(std::vector<int32_t>({O().input_width, O().input_height}), std::vector<int32_t>(2, -1));
            EXPECT_EQ(O().infer_request, nullptr);
        }
    }
}

// While alive, a core that has yet to create the "GPU" double fails to (see
// npu_plugin_double.cpp): so a compile on MULTI fails on demand.
struct GpuDoubleRefusal {
    GpuDoubleRefusal() { Refuse(true); }
    ~GpuDoubleRefusal() { Refuse(false); }
    static void Refuse(bool refuse) {  // through the handle the core opened the library with
        static void* const library = dlopen(TESSARINE_GPU_DOUBLE_FILE, RTLD_NOW | RTLD_LOCAL);
        reinterpret_cast<void (*)(bool)>(dlsym(library, "tessarine_double_refuse"))(refuse);
    }
};

// A reload with the same buffer, size and device releases nothing, and the
// compile step resets the compiled model first: when that compile fails
// (here: the "GPU" double of NPU,GPU,CPU refuses to start), the old request
// survives without one. Every form goes on with that request, touching no
// compiled model that is not there.
TEST_F(RebuildOnNpu, ReloadWhoseCompileFailsLeavesTheOldRequestServing) {
    const std::shared_ptr<ov::Core> core = CoreWithNpuDouble(true);
    Load("two_inputs", -3, core);
    float a[4] = {1, 2, 3, 4}, b[4] = {0.5f, -1, 2, 8}, sum[4], difference[4];
    size_t reloads = 0;
    // Both records named, so the own-side check runs; host buffers, then the
    // runtime's after host buffers, so a fresh request is made.
    auto expect_tensors_serve = [&] {
        for (int64_t length : {4, -1}) {
            std::vector<TensorData> out = {Record("sum", {1, length}, sum), Record("difference", {1, 4}, difference)};
            const Outcome run = Tensors({Record("a", {1, 4}, a), Record("b", {1, 4}, b)}, out);
            ASSERT_TRUE(run.ok) << run.error;
            reloads += Reloads(run);
            for (int i = 0; i < 4; ++i)
                EXPECT_EQ(static_cast<float*>(out[0].data)[i] - static_cast<float*>(out[1].data)[i], 2 * b[i]);
        }
    };
    // With no record of three or four dims the first call builds for 0 x 0,
    // so no call below rebuilds.
    expect_tensors_serve();
    EXPECT_EQ(reloads, 1u);
    ExpectBuiltFor(0, 0, {1, 4});
    const auto request = O().infer_request;
    const auto model = O().model;
    core->unload_plugin("GPU");
    GpuDoubleRefusal refusal;
    const Outcome reload = Run([&] { return object_->LoadModel(model_.data(), model_.size(), -3, 3); });
    ASSERT_FALSE(reload.ok);
    EXPECT_NE(reload.error.find("the GPU double refuses to start"), std::string::npos) << reload.error;
    EXPECT_TRUE(!O().compiled_model);
    EXPECT_TRUE(O().infer_request == request);
    EXPECT_NE(O().model, model);  // read again: the new model
    expect_tensors_serve();
    EXPECT_EQ(reloads, 1u);
    std::vector<float> image = Image(5, 4), map(2 * 5 * 4);
    EXPECT_FALSE(Run([&] { return object_->DoInference(5u, 4u, image.data(), nullptr, 5u, 4u, map.data()); }).ok);
    EXPECT_EQ(O().infer_request, nullptr);  // a rebuild for 5 x 4, which failed the same way

    // From another buffer the load releases first: it leaves the new model
    // and its records, and neither compiled model nor request.
    const std::vector<char> other = ReadModel("static_head");
    EXPECT_FALSE(Run([&] { return object_->LoadModel(other.data(), other.size(), -3, 3); }).ok);
    EXPECT_TRUE(O().model);
    EXPECT_TRUE(O().input_names == std::vector<std::string>{"pixels"});
    EXPECT_TRUE(!O().compiled_model);
    EXPECT_TRUE(!O().infer_request);
}

}  // namespace
