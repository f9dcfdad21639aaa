// LoadModel from the host's memory: when it releases and copies, the named
// reshape of innerLoadModel(1), what each precision code and device index
// makes of the core and the compile call.
#include <gtest/gtest.h>

#include <algorithm>

#include "test_support.h"

namespace {

class Loads : public ::testing::Test {
protected:
    Outcome Load(const std::vector<char>& bytes, int32_t device = -1, uint32_t precision = 3) {
        return Capture(*object_, [&] { return object_->LoadModel(bytes.data(), bytes.size(), device, precision); });
    }
    Tessarine& O() { return AsTessarine(object_); }

    const std::vector<char> conv_ = ReadModel("dynamic_conv");
    ObjectPtr object_ = NewObject();
};

// The buffer is compared by address: a reload from it neither releases nor
// copies again, so bytes the host changed in between are never read.
TEST_F(Loads, ReloadFromTheSameBufferReadsTheEarlierCopyAndKeepsTheError) {
    std::vector<char> model = conv_;
    ASSERT_TRUE(Load(model).ok);
    O().last_error = "an earlier failure";
    std::fill(model.begin(), model.end(), '\x5a');
    TraceRecorder traces;
    const Outcome reload = Load(model);
    EXPECT_TRUE(reload.ok) << reload.error;
    EXPECT_EQ(reload.error, "an earlier failure");
    EXPECT_EQ(traces.Count("Tessarine::ReleaseModel()"), 0u);
}

TEST_F(Loads, SameBytesAtAnotherAddressReleaseFirst) {
    const std::vector<char> other = conv_;
    ASSERT_TRUE(Load(conv_).ok);
    O().last_error = "an earlier failure";
    TraceRecorder traces;
    EXPECT_EQ(Load(other).error, "");
    EXPECT_EQ(traces.Count("Tessarine::ReleaseModel()"), 1u);
    EXPECT_EQ(O().model_data, other.data());
}

TEST_F(Loads, UnreadableNewBufferKeepsThePreviousPortRecords) {
    const std::vector<char> head = ReadModel("static_head"), garbage(256, '\x5a');
    ASSERT_TRUE(Load(head).ok);
    ASSERT_FALSE(Load(garbage).ok);
    EXPECT_EQ(O().model, nullptr);
    EXPECT_EQ(O().input_names, std::vector<std::string>{"pixels"});
    EXPECT_EQ(O().input_node_dims, (std::vector<std::vector<int64_t>>{{1, 3, 224, 224}}));
}

struct NamedReshape {
    const char* label;
    std::vector<std::string> names;
    std::vector<std::vector<int64_t>> dims;
    std::vector<std::vector<int64_t>> recorded;  // a's and b's; none when the load fails
    std::string error;                           // the module's own text, where it refuses
};

void PrintTo(const NamedReshape& c, std::ostream* os) { *os << c.label; }

class NamedReshapes : public Loads, public ::testing::WithParamInterface<NamedReshape> {};

// innerLoadModel(1) reads the model again and reshapes the inputs it names
// (two_inputs: a and b are [1, 4]), after a reshape of both to [2, 4].
TEST_P(NamedReshapes, RecordTheShapesTheModelThenHas) {
    const NamedReshape& c = GetParam();
    const std::vector<char> model = ReadModel("two_inputs");
    auto load = [&](const std::vector<std::string>& names, const std::vector<std::vector<int64_t>>& dims) {
        return Capture(*object_, [&] {
            return O().innerLoadModel(model.data(), model.size(), -1, true, names, dims, ov::element::f32);
        });
    };
    ASSERT_TRUE(load({"a", "b"}, {{2, 4}, {2, 4}}).ok);
    const Outcome outcome = load(c.names, c.dims);
    EXPECT_EQ(outcome.ok, !c.recorded.empty()) << outcome.error;
    EXPECT_EQ(O().infer_request != nullptr, outcome.ok);
    if (outcome.ok) EXPECT_EQ(O().input_node_dims, c.recorded);
    if (!c.error.empty()) EXPECT_EQ(outcome.error, c.error);
    const std::string failure = c.error.empty() ? "ov::Exception error: " + outcome.error : "std::exception error: " + c.error;
    EXPECT_EQ(outcome.console, "[OpenVINOInstance]Need Reshape model" +
                                   (outcome.ok ? std::string() : "[OpenVINOInstance]Load model " + failure));
}

INSTANTIATE_TEST_SUITE_P(
    TwoInputs, NamedReshapes,
    ::testing::Values(
        NamedReshape{"LaterShapeOfANameStands", {"a", "a"}, {{5, 4}, {3, 4}}, {{3, 4}, {1, 4}}},
        NamedReshape{"MinusOneStaysDynamic", {"b"}, {{-1, 4}}, {{1, 4}, {-1, 4}}},
        NamedReshape{"EachNameItsOwnShape", {"b", "a"}, {{3, 1}, {3, 4}}, {{3, 4}, {3, 1}}},
        NamedReshape{"NoNamesReadTheModelAgain", {}, {}, {{1, 4}, {1, 4}}},
        NamedReshape{"UnknownNameLeavesNoRequest", {"c"}, {{1, 4}}, {}},
        NamedReshape{"FewerShapesThanNames", {"a", "b"}, {{1, 4}}, {},
                     "reshape needs one dims list per input name: 2 names, 1 dims lists."}),
    [](const ::testing::TestParamInfo<NamedReshape>& info) { return std::string(info.param.label); });

struct PrecisionCase {
    uint32_t code;
    ov::element::Type_t type;
};

class PrecisionCodes : public Loads, public ::testing::WithParamInterface<PrecisionCase> {};

void PrintTo(const PrecisionCase& c, std::ostream* os) { *os << c.code; }

// The CPU keeps the hint only for the types it computes in and refuses the
// others; a core of the test's own, given the type the code stands for,
// tells which. The load must end the same way: with that hint on its core,
// or refused with a text that names the type the module passed.
TEST_P(PrecisionCodes, ReachTheCpuAsTheirElementType) {
    const ov::element::Type type(GetParam().type);
    ov::Core bare;
    bare.get_property("CPU", ov::supported_properties);  // the plugin exists, so a refusal comes at once
    bool refused = false;
    try {
        bare.set_property("CPU", ov::hint::inference_precision(type));
    } catch (const ov::Exception&) {
        refused = true;
    }
    const Outcome outcome = Load(conv_, -1, GetParam().code);
    EXPECT_EQ(outcome.ok, !refused);
    if (refused)
        EXPECT_NE(outcome.error.find("Wrong value " + type.to_string() + " for property key INFERENCE_PRECISION_HINT"),
                  std::string::npos) << outcome.error;
    else
        EXPECT_EQ(O().core->get_property("CPU", ov::hint::inference_precision),
                  bare.get_property("CPU", ov::hint::inference_precision));
}

using T = ov::element::Type_t;
INSTANTIATE_TEST_SUITE_P(
    AllAndOutside, PrecisionCodes,
    ::testing::Values(PrecisionCase{0, T::boolean}, PrecisionCase{1, T::f8e4m3}, PrecisionCase{2, T::f16},
                      PrecisionCase{3, T::f32}, PrecisionCase{4, T::f64}, PrecisionCase{5, T::bf16},
                      PrecisionCase{6, T::f32}, PrecisionCase{7, T::i4}, PrecisionCase{8, T::i8},
                      PrecisionCase{9, T::i16}, PrecisionCase{10, T::i32}, PrecisionCase{11, T::i64},
                      PrecisionCase{12, T::u4}, PrecisionCase{13, T::u8}, PrecisionCase{14, T::u16},
                      PrecisionCase{15, T::u32}, PrecisionCase{16, T::u64}, PrecisionCase{17, T::f32},
                      PrecisionCase{99, T::f32}, PrecisionCase{0xFFFFFFFF, T::f32}),
    [](const ::testing::TestParamInfo<PrecisionCase>& info) { return std::to_string(info.param.code); });

struct DeviceCase {
    int32_t index;
    const char* compile_trace;
    const char* priorities;  // MULTI's, where it compiles on MULTI
};

void PrintTo(const DeviceCase& c, std::ostream* os) { *os << c.index; }

class DeviceChoices : public Loads, public ::testing::WithParamInterface<DeviceCase> {};

// Over the "NPU" and "GPU" doubles, on a core where every device starts from
// the opposite of each value the module may set: a value read back was set
// by the load, for the device the index names and no other.
TEST_P(DeviceChoices, SetTheirDevicesPropertiesAndCompileWhereTheySay) {
    const DeviceCase& c = GetParam();
    const auto core = CoreWithNpuAndGpuDoubles();
    const std::vector<std::string> caps = core->get_property("CPU", ov::device::capabilities);
    const bool bf16 = std::find(caps.begin(), caps.end(), ov::device::capability::BF16) != caps.end();
    if (!bf16) GTEST_SKIP() << "this CPU computes in f32 only, so no hint of another type would be kept";
    for (const char* device : {"CPU", "GPU", "NPU"})
        core->set_property(device, ov::hint::execution_mode(ov::hint::ExecutionMode::ACCURACY),
                           ov::hint::inference_precision(ov::element::f32), ov::log::level(ov::log::Level::WARNING),
                           ov::hint::scheduling_core_type(ov::hint::SchedulingCoreType::PCORE_ONLY),
                           ov::hint::enable_cpu_pinning(false));
    O().core = core;
    TraceRecorder traces;
    const Outcome outcome = Load(conv_, c.index, 5);
    EXPECT_EQ(traces.Count(c.compile_trace), 1u);
    const bool cpu = c.index == -1, gpu = c.index >= 0, multi = c.index <= -2;
    for (const auto& [device, hinted] : {std::pair{"CPU", cpu}, {"GPU", gpu}, {"NPU", false}}) {
        SCOPED_TRACE(device);
        EXPECT_EQ(core->get_property(device, ov::hint::execution_mode) == ov::hint::ExecutionMode::PERFORMANCE, hinted);
        EXPECT_EQ(core->get_property(device, ov::hint::inference_precision) == ov::element::bf16, hinted);
        EXPECT_EQ(core->get_property(device, ov::hint::scheduling_core_type) == ov::hint::SchedulingCoreType::ANY_CORE,
                  hinted && cpu);
        EXPECT_EQ(core->get_property(device, ov::hint::enable_cpu_pinning), hinted && cpu);
        EXPECT_EQ(core->get_property(device, ov::log::level) == ov::log::Level::DEBUG, multi && std::string(device) == "NPU");
    }
    if (!c.priorities && !gpu && !cpu) return;  // -4: the runtime knows no device without a name
    ASSERT_TRUE(outcome.ok) << outcome.error;
    if (c.priorities) EXPECT_EQ(O().compiled_model->get_property(ov::device::priorities), c.priorities);
    if (!c.priorities)
        EXPECT_EQ(O().compiled_model->get_property(ov::execution_devices), std::vector<std::string>{gpu ? "GPU" : "CPU"});
    // Every supported property of the compiled model is read and traced as
    // "name: value"; the CPU's shows the hint the load set.
    if (cpu) EXPECT_EQ(traces.Count("INFERENCE_PRECISION_HINT: bf16"), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Indices, DeviceChoices,
    ::testing::Values(DeviceCase{-1, "Make CompiledModel, device_name: CPU, device_index: -1", nullptr},
                      DeviceCase{0, "Make CompiledModel, device_name: GPU, device_index: 0", nullptr},
                      DeviceCase{7, "Make CompiledModel, device_name: GPU, device_index: 7", nullptr},
                      DeviceCase{-2, "Make CompiledModel, device_name: NPU, device_index: -2", "NPU"},
                      DeviceCase{-3, "Make CompiledModel, device_name: NPU+GPU+CPU, device_index: -3", "NPU,GPU,CPU"},
                      DeviceCase{-4, "Make CompiledModel, device_name: , device_index: -4", nullptr}),
    [](const ::testing::TestParamInfo<DeviceCase>& info) {
        return info.param.index < 0 ? "minus" + std::to_string(-info.param.index) : std::to_string(info.param.index);
    });

}  // namespace
