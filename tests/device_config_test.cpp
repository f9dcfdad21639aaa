// Device index -> device name, core properties, compile call and the
// supported-property read, on a machine with a CPU and neither GPU nor NPU.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>

#include "loading/device_config.h"
#include "test_support.h"

namespace {

struct NameCase {
    int32_t index;
    const char* name;
};

class DeviceNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(DeviceNames, FollowTheIndexConvention) {
    EXPECT_EQ(DeviceNameFor(GetParam().index), GetParam().name);
}

// Every non-negative index is the one "GPU" device; below -3 there is no name.
INSTANTIATE_TEST_SUITE_P(Indices, DeviceNames,
                         ::testing::Values(NameCase{7, "GPU"}, NameCase{0, "GPU"}, NameCase{-1, "CPU"},
                                           NameCase{-2, "MULTI"}, NameCase{-3, "MULTI"}, NameCase{-4, ""},
                                           NameCase{INT32_MIN, ""}));

// A precision other than f32 that this CPU computes in, with its precision
// code: only such a hint is kept (elsewhere the plugin quietly falls back),
// so only it shows that the module's choice reached the core. f32 when the
// CPU has none.
struct Precision {
    ov::element::Type type;
    uint32_t code;
};

Precision LowPrecisionOf(ov::Core& core) {
    const std::vector<std::string> caps = core.get_property("CPU", ov::device::capabilities);
    auto has = [&](const std::string& capability) {
        return std::find(caps.begin(), caps.end(), capability) != caps.end();
    };
    if (has(ov::device::capability::BF16)) return {ov::element::bf16, 5};
    if (has(ov::device::capability::FP16)) return {ov::element::f16, 2};
    return {ov::element::f32, 3};
}

void ExpectCpuPropertiesOfALoad(ov::Core& core, ov::element::Type precision) {
    EXPECT_EQ(core.get_property("CPU", ov::hint::inference_precision), precision);
    EXPECT_EQ(core.get_property("CPU", ov::hint::execution_mode), ov::hint::ExecutionMode::PERFORMANCE);
    EXPECT_EQ(core.get_property("CPU", ov::hint::scheduling_core_type), ov::hint::SchedulingCoreType::ANY_CORE);
    EXPECT_TRUE(core.get_property("CPU", ov::hint::enable_cpu_pinning));
}

class DeviceConfig : public ::testing::Test {
protected:
    bool Load(int32_t index, uint32_t precision) {
        StdoutCapture quiet;
        return object_->LoadModel(model_.data(), model_.size(), index, precision);
    }
    Tessarine& Object() { return AsTessarine(object_); }

    std::vector<char> model_ = ReadModel("dynamic_conv");
    ObjectPtr object_ = NewObject();
};

// The core starts from the opposite of every value, so each one read back was
// set by the module and not left at the runtime's default.
TEST_F(DeviceConfig, CpuIndexSetsTheFourCpuProperties) {
    auto core = std::make_shared<ov::Core>();
    const Precision low = LowPrecisionOf(*core);
    core->set_property("CPU", ov::hint::execution_mode(ov::hint::ExecutionMode::ACCURACY),
                       ov::hint::inference_precision(ov::element::f32),
                       ov::hint::scheduling_core_type(ov::hint::SchedulingCoreType::PCORE_ONLY),
                       ov::hint::enable_cpu_pinning(false));
    ApplyDeviceProperties(core, -1, "CPU", low.type);
    ExpectCpuPropertiesOfALoad(*core, low.type);
}

class NpuChoices : public DeviceConfig, public ::testing::WithParamInterface<int32_t> {};

// "NPU" is the CPU plugin under another name here, so its properties can be
// read back; the precision asked for must reach neither it nor the CPU.
TEST_P(NpuChoices, SetOnlyTheLogLevelOnNpu) {
    const std::shared_ptr<ov::Core> core = CoreWithNpuDouble();
    const ov::element::Type npu_precision = core->get_property("NPU", ov::hint::inference_precision);
    const ov::element::Type cpu_precision = core->get_property("CPU", ov::hint::inference_precision);
    ASSERT_NE(npu_precision, ov::element::f16);
    ApplyDeviceProperties(core, GetParam(), DeviceNameFor(GetParam()), ov::element::f16);
    EXPECT_EQ(core->get_property("NPU", ov::log::level), ov::log::Level::DEBUG);
    EXPECT_EQ(core->get_property("NPU", ov::hint::inference_precision), npu_precision);
    EXPECT_EQ(core->get_property("CPU", ov::hint::inference_precision), cpu_precision);
}

INSTANTIATE_TEST_SUITE_P(Indices, NpuChoices, ::testing::Values(-2, -3, -4, INT32_MIN));

class GpuIndices : public DeviceConfig, public ::testing::WithParamInterface<int32_t> {};

// "GPU" is the CPU plugin under another name here, so a GPU load really
// compiles and runs, and every property can be read back. The core starts
// from the opposite of each value: the two GPU properties must be the
// module's, the two CPU-only ones must not reach the GPU, and the CPU must
// be left alone.
TEST_P(GpuIndices, CompileOnGpuWithItsTwoPropertiesOnly) {
    const std::shared_ptr<ov::Core> core = CoreWithNpuAndGpuDoubles();
    const Precision low = LowPrecisionOf(*core);
    for (const char* device : {"GPU", "CPU"})
        core->set_property(device, ov::hint::execution_mode(ov::hint::ExecutionMode::ACCURACY),
                           ov::hint::inference_precision(ov::element::f32),
                           ov::hint::scheduling_core_type(ov::hint::SchedulingCoreType::PCORE_ONLY),
                           ov::hint::enable_cpu_pinning(false));
    TessarineTestAccess::SetCore(Object(), core);
    ASSERT_TRUE(Load(GetParam(), low.code)) << object_->GetLastErrorMessage();
    EXPECT_EQ(TessarineTestAccess::Compiled(Object())->get_property(ov::execution_devices),
              std::vector<std::string>{"GPU"});
    EXPECT_EQ(core->get_property("GPU", ov::hint::execution_mode), ov::hint::ExecutionMode::PERFORMANCE);
    EXPECT_EQ(core->get_property("GPU", ov::hint::inference_precision), low.type);
    EXPECT_EQ(core->get_property("GPU", ov::hint::scheduling_core_type), ov::hint::SchedulingCoreType::PCORE_ONLY);
    EXPECT_FALSE(core->get_property("GPU", ov::hint::enable_cpu_pinning));
    EXPECT_EQ(core->get_property("CPU", ov::hint::execution_mode), ov::hint::ExecutionMode::ACCURACY);
    EXPECT_EQ(core->get_property("CPU", ov::hint::inference_precision), ov::element::f32);
    std::vector<float> image = Image(5, 4), map(2 * 5 * 4, NAN);
    const auto desc = Descriptor(2);
    ASSERT_TRUE(object_->DoInference(5, 4, image.data(), desc.data(), 5, 4, map.data()));
    const std::vector<float> expected = DynamicConvMap(image);
    for (size_t i = 0; i < map.size(); ++i)  // in the low precision
        EXPECT_NEAR(map[i], expected[i], 0.01 * std::fabs(expected[i]) + 0.01) << i;
}

INSTANTIATE_TEST_SUITE_P(Indices, GpuIndices, ::testing::Values(0, 7));

TEST_F(DeviceConfig, FailedGpuLoadLeavesTheCpuPropertiesOfTheLoadBefore) {
    const Precision low = LowPrecisionOf(*std::make_shared<ov::Core>());
    if (low.type == ov::element::f32) GTEST_SKIP() << "this CPU computes in f32 only";
    ASSERT_TRUE(Load(-1, low.code)) << object_->GetLastErrorMessage();
    const std::shared_ptr<ov::Core> core = TessarineTestAccess::Core(Object());
    ASSERT_FALSE(Load(0, 3));
    EXPECT_EQ(TessarineTestAccess::Core(Object()), core);
    ExpectCpuPropertiesOfALoad(*core, low.type);
}

struct CompileCase {
    int32_t index;
    const char* trace;
};

class CompileRule : public DeviceConfig, public ::testing::WithParamInterface<CompileCase> {};

// The trace comes before the compile call, so it shows even where the
// device is missing and the load then fails.
TEST_P(CompileRule, TracesTheDeviceItCompilesFor) {
    TraceRecorder traces;
    Load(GetParam().index, 3);
    EXPECT_EQ(traces.Count(GetParam().trace), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Indices, CompileRule,
    ::testing::Values(CompileCase{7, "Make CompiledModel, device_name: GPU, device_index: 7"},
                      CompileCase{-1, "Make CompiledModel, device_name: CPU, device_index: -1"},
                      CompileCase{-2, "Make CompiledModel, device_name: NPU, device_index: -2"},
                      CompileCase{-3, "Make CompiledModel, device_name: NPU+GPU+CPU, device_index: -3"},
                      CompileCase{-4, "Make CompiledModel, device_name: , device_index: -4"}));

// Between the compile trace and the closing one come exactly the compiled
// model's supported properties, each read and written as text, in its order.
TEST_F(DeviceConfig, SuccessfulLoadTracesEverySupportedProperty) {
    TraceRecorder traces;
    ASSERT_TRUE(Load(-1, 3)) << object_->GetLastErrorMessage();
    const std::shared_ptr<ov::CompiledModel>& compiled = TessarineTestAccess::Compiled(Object());
    std::vector<std::string> expected;
    for (const ov::PropertyName& name : compiled->get_property(ov::supported_properties))
        expected.push_back(name + ": " + compiled->get_property(name).as<std::string>());
    ASSERT_FALSE(expected.empty());

    const std::vector<std::string>& texts = traces.Texts();
    auto first = std::find(texts.begin(), texts.end(), "Make CompiledModel, device_name: CPU, device_index: -1");
    ASSERT_NE(first, texts.end());
    auto last = std::find_if(first, texts.end(), [](const std::string& text) {
        return text.rfind("Tessarine::innerLoadModel(0) done, duration: ", 0) == 0;
    });
    EXPECT_EQ(std::vector<std::string>(first + 1, last), expected);
}

}  // namespace
