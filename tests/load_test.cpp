// LoadModel from the host's memory: when it releases and copies, the named
// reshape of innerLoadModel(1), and what each precision code and device index
// makes of the core and the compile call.
#include <algorithm>

#include "runtime_calls.h"
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
    EXPECT_TRUE(same.ok);
    EXPECT_TRUE(same.error == "an earlier failure");
    EXPECT_TRUE(same.Traced("Tessarine::ReleaseModel()") == 0);
    const Outcome other = LoadBytes(conv_);
    EXPECT_TRUE(other.error.empty());
    EXPECT_TRUE(other.Traced("Tessarine::ReleaseModel()") == 1);
    EXPECT_TRUE(O().model_data == conv_.data());
    ASSERT_FALSE(LoadBytes(std::vector<char>(256, '\x5a')).ok);
    EXPECT_EQ(O().model, nullptr);
    EXPECT_EQ(O().input_names, std::vector<std::string>{"image"});
    EXPECT_EQ(O().input_node_dims, (std::vector<std::vector<int64_t>>{{1, 3, -1, -1}}));
    // Another model at the same address is told apart by its size.
    std::vector<char> shared(conv_.size() + 4096);
    const std::vector<char> two_inputs = ReadModel("two_inputs");
    for (const std::vector<char>* bytes : {&conv_, &two_inputs}) {
        std::copy(bytes->begin(), bytes->end(), shared.begin());
        ASSERT_TRUE(object_->LoadModel(shared.data(), bytes->size(), -1, 3)) << object_->GetLastErrorMessage();
    }
    EXPECT_EQ(O().input_names, (std::vector<std::string>{"a", "b"}));
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

// Each code asks the CPU for the type it stands for as its inference
// precision; the CPU keeps it, or another this machine computes in, or
// refuses it with a text that names it.
TEST_F(Loads, PrecisionCodesAskTheCpuForTheirElementType) {
    using T = ov::element::Type_t;
    const T types[] = {T::boolean, T::f8e4m3, T::f16, T::f32, T::f64, T::bf16, T::f32, T::i4, T::i8,
                       T::i16,     T::i32,    T::i64, T::u4,  T::u8,  T::u16,  T::u32, T::u64};
    for (uint32_t code : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 15u, 16u, 17u, 99u, ~0u}) {
        SCOPED_TRACE(code);
        const ov::element::Type type(code < std::size(types) ? types[code] : T::f32);
        object_ = NewObject();
        RuntimeCallLog log;
        const Outcome outcome = LoadBytes(conv_, -1, code);
        const RuntimeCall hint{"set_property", "CPU", {{"INFERENCE_PRECISION_HINT", type}}};
        EXPECT_EQ(std::count(log.calls.begin(), log.calls.end(), hint), 1);
        const std::string refusal = "Wrong value " + type.to_string() + " for property key INFERENCE_PRECISION_HINT";
        if (!outcome.ok) EXPECT_NE(outcome.error.find(refusal), std::string::npos) << outcome.error;
    }
}

// What each index asks of the core, in order, with the precision code 5
// (bf16); the compile then really runs where it says, on the "NPU" and
// "GPU" doubles. Every supported property of the compiled model is traced
// as "name: value".
TEST_F(Loads, DeviceIndicesSetTheirDevicesPropertiesAndCompileWhereTheySay) {
    namespace hint = ov::hint;
    const auto set = [](const char* device, const char* key, ov::Any value) {
        return RuntimeCall{"set_property", device, {{key, std::move(value)}}};
    };
    const auto compile = [](const char* device, ov::AnyMap config = {}) {
        return RuntimeCall{"compile_model", device, std::move(config)};
    };
    const auto performance = hint::ExecutionMode::PERFORMANCE;
    const auto gpu = std::vector{set("GPU", "EXECUTION_MODE_HINT", performance),
                                 set("GPU", "INFERENCE_PRECISION_HINT", ov::element::bf16), compile("GPU")};
    const RuntimeCall npu_log_level = set("NPU", "LOG_LEVEL", ov::log::Level::DEBUG);
    const struct {
        int32_t index;
        const char* traced;  // the device the compile trace names
        std::vector<RuntimeCall> calls;
    } cases[] = {
        {-1, "CPU", {set("CPU", "EXECUTION_MODE_HINT", performance),
                     set("CPU", "INFERENCE_PRECISION_HINT", ov::element::bf16),
                     set("CPU", "SCHEDULING_CORE_TYPE", hint::SchedulingCoreType::ANY_CORE),
                     set("CPU", "ENABLE_CPU_PINNING", true), compile("CPU")}},
        {0, "GPU", gpu},
        {7, "GPU", gpu},
        {-2, "NPU", {npu_log_level, compile("MULTI", {{"MULTI_DEVICE_PRIORITIES", std::string("NPU")}})}},
        {-3, "NPU+GPU+CPU",
         {npu_log_level, compile("MULTI", {{"MULTI_DEVICE_PRIORITIES", std::string("NPU,GPU,CPU")}})}},
        {-4, "", {npu_log_level, compile("")}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        object_ = NewObject();
        O().core = CoreWithNpuDouble(true);
        RuntimeCallLog log;
        const Outcome outcome = LoadBytes(conv_, c.index, 5);
        EXPECT_EQ(log.calls, c.calls);
        const std::string traced = "Make CompiledModel, device_name: " + std::string(c.traced);
        EXPECT_EQ(outcome.Traced(traced + ", device_index: " + std::to_string(c.index)), 1u);
        if (c.index < -3) continue;  // the runtime knows no device without a name
        ASSERT_TRUE(outcome.ok) << outcome.error;
        const std::vector<ov::PropertyName> supported = O().compiled_model->get_property(ov::supported_properties);
        for (const ov::PropertyName& name : supported)
            EXPECT_EQ(outcome.Traced(name + ": " + O().compiled_model->get_property(name).as<std::string>()), 1u);
    }
}

}  // namespace
