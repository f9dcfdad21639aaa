// LoadModel from the host's memory: when it releases and copies, the named
// reshape of innerLoadModel(1), and what each precision code and device index
// makes of the core and the compile call.
#include <algorithm>

#include "test_support.h"

namespace {

class Loads : public ModuleTest {
protected:
    Outcome LoadBytes(const std::vector<char>& bytes, int32_t device = -1, uint32_t precision = 3) {
        return Run([&] { return object_->LoadModel(bytes.data(), bytes.size(), device, precision); });
    }

    const std::vector<char> conv_ = ReadModel("dynamic_conv");
};

// The buffer is compared by address: a reload from it neither releases nor
// copies again, so bytes the host changed in between are never read; the
// same bytes at another address are another model. Unreadable bytes in a new
// buffer release, but the port records stay.
TEST_F(Loads, OnlyAnotherBufferReleasesAndIsCopiedAgain) {
    std::vector<char> model = conv_;
    ASSERT_TRUE(LoadBytes(model).ok);
    O().last_error = "an earlier failure";
    std::fill(model.begin(), model.end(), '\x5a');
    const Outcome same = LoadBytes(model);
    EXPECT_TRUE(same.ok && same.error == "an earlier failure" && same.Traced("Tessarine::ReleaseModel()") == 0);
    const Outcome other = LoadBytes(conv_);
    EXPECT_TRUE(other.error.empty() && other.Traced("Tessarine::ReleaseModel()") == 1 &&
                O().model_data == conv_.data());
    ASSERT_FALSE(LoadBytes(std::vector<char>(256, '\x5a')).ok);
    EXPECT_EQ(O().model, nullptr);
    EXPECT_EQ(O().input_names, std::vector<std::string>{"image"});
    EXPECT_EQ(O().input_node_dims, (std::vector<std::vector<int64_t>>{{1, 3, -1, -1}}));
}

// innerLoadModel(1), after a reshape of two_inputs' a and b to [2, 4], reads
// the model again and reshapes only the inputs it names.
TEST_F(Loads, NamedReshapeRecordsTheShapesTheModelThenHas) {
    using Dims = std::vector<std::vector<int64_t>>;
    const struct {
        std::vector<std::string> names;
        Dims dims, recorded;                                        // a's and b's; none when the load fails
        std::string error;                                          // the module's own text, where it refuses
    } cases[] = {{{"a", "a"}, {{5, 4}, {3, 4}}, {{3, 4}, {1, 4}}},  // the later shape of a name stands
                 {{"b"}, {{-1, 4}}, {{1, 4}, {-1, 4}}},
                 {{"b", "a"}, {{3, 1}, {3, 4}}, {{3, 4}, {3, 1}}},
                 {{}, {}, {{1, 4}, {1, 4}}},
                 {{"c"}, {{1, 4}}, {}},
                 {{"a", "b"}, {{1, 4}}, {}, "reshape needs one dims list per input name: 2 names, 1 dims lists."}};
    const std::vector<char> model = ReadModel("two_inputs");
    auto load = [&](const std::vector<std::string>& names, const Dims& dims) {
        return Run(
            [&] { return O().innerLoadModel(model.data(), model.size(), -1, true, names, dims, ov::element::f32); });
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.names) + " " + ::testing::PrintToString(c.dims));
        ASSERT_TRUE(load({"a", "b"}, {{2, 4}, {2, 4}}).ok);
        const Outcome outcome = load(c.names, c.dims);
        EXPECT_EQ(outcome.ok, !c.recorded.empty()) << outcome.error;
        EXPECT_EQ(O().infer_request != nullptr, outcome.ok);
        if (outcome.ok) EXPECT_EQ(O().input_node_dims, c.recorded);
        if (!c.error.empty()) EXPECT_EQ(outcome.error, c.error);
    }
}

// The CPU keeps the hint only for the types it computes in and refuses the
// others: each load ends with the type the code stands for as its core's
// hint, or refused with a text that names it.
TEST_F(Loads, PrecisionCodesReachTheCpuAsTheirElementType) {
    using T = ov::element::Type_t;
    const T types[] = {T::boolean, T::f8e4m3, T::f16, T::f32, T::f64, T::bf16, T::f32, T::i4, T::i8,
                       T::i16,     T::i32,    T::i64, T::u4,  T::u8,  T::u16,  T::u32, T::u64};
    for (uint32_t code : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 15u, 16u, 17u, 99u, ~0u}) {
        SCOPED_TRACE(code);
        const ov::element::Type type(code < std::size(types) ? types[code] : T::f32);
        object_ = NewObject();
        const Outcome outcome = LoadBytes(conv_, -1, code);
        const std::string refusal = "Wrong value " + type.to_string() + " for property key INFERENCE_PRECISION_HINT";
        if (outcome.ok)
            EXPECT_EQ(O().core->get_property("CPU", ov::hint::inference_precision), type);
        else
            EXPECT_NE(outcome.error.find(refusal), std::string::npos) << outcome.error;
    }
}

// Over the "NPU" and "GPU" doubles, on a core where every device starts from
// the opposite of each value the module may set: a value read back was set
// by the load, for the device the index names and no other. Every supported
// property of the compiled model is traced as "name: value"; the CPU's shows
// the hint the load set.
TEST_F(Loads, DeviceIndicesSetTheirDevicesPropertiesAndCompileWhereTheySay) {
    // The index, the device its compile names, MULTI's priorities where it compiles on MULTI.
    const std::tuple<int32_t, const char*, const char*> cases[] = {
        {-1, "CPU", nullptr}, {0, "GPU", nullptr}, {7, "GPU", nullptr}, {-2, "NPU", "NPU"},
        {-3, "NPU+GPU+CPU", "NPU,GPU,CPU"}, {-4, "", nullptr}};
    namespace hint = ov::hint;
    const std::vector<std::string> caps = ov::Core().get_property("CPU", ov::device::capabilities);
    if (std::find(caps.begin(), caps.end(), ov::device::capability::BF16) == caps.end())
        GTEST_SKIP() << "this CPU computes in f32 only, so no hint of another type would be kept";
    for (const auto& [index, device_name, priorities] : cases) {
        SCOPED_TRACE(index);
        const auto core = CoreWithNpuDouble(true);
        for (const char* device : {"CPU", "GPU", "NPU"})
            core->set_property(device, hint::execution_mode(hint::ExecutionMode::ACCURACY),
                               hint::inference_precision(ov::element::f32), ov::log::level(ov::log::Level::WARNING),
                               hint::scheduling_core_type(hint::SchedulingCoreType::PCORE_ONLY),
                               hint::enable_cpu_pinning(false));
        object_ = NewObject();
        O().core = core;
        const Outcome outcome = LoadBytes(conv_, index, 5);
        const std::string compile = "Make CompiledModel, device_name: " + std::string(device_name);
        EXPECT_EQ(outcome.Traced(compile + ", device_index: " + std::to_string(index)), 1u);
        const bool cpu = index == -1, gpu = index >= 0;
        for (const auto& [device, hinted] : {std::pair{"CPU", cpu}, {"GPU", gpu}, {"NPU", false}}) {
            SCOPED_TRACE(device);
            EXPECT_EQ(core->get_property(device, hint::execution_mode) == hint::ExecutionMode::PERFORMANCE, hinted);
            EXPECT_EQ(core->get_property(device, hint::inference_precision) == ov::element::bf16, hinted);
            EXPECT_EQ(core->get_property(device, hint::scheduling_core_type) == hint::SchedulingCoreType::ANY_CORE,
                      hinted && cpu);
            EXPECT_EQ(core->get_property(device, hint::enable_cpu_pinning), hinted && cpu);
            EXPECT_EQ(core->get_property(device, ov::log::level) == ov::log::Level::DEBUG,
                      index <= -2 && std::string(device) == "NPU");
        }
        if (index < -3) continue;  // the runtime knows no device without a name
        ASSERT_TRUE(outcome.ok) << outcome.error;
        if (priorities)
            EXPECT_EQ(O().compiled_model->get_property(ov::device::priorities), priorities);
        else
            EXPECT_EQ(O().compiled_model->get_property(ov::execution_devices), std::vector<std::string>{device_name});
        if (cpu) EXPECT_EQ(outcome.Traced("INFERENCE_PRECISION_HINT: bf16"), 1u);
    }
}

}  // namespace
