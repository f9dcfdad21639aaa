// What an object holds after creation, release and destruction, and the
// shapes it reports: the state is what its fields hold.
#include "test_support.h"

namespace {

constexpr int64_t U = 0x7e57;  // a value no shape query may write

// What a shape query stores through its five out-arguments, then its result.
std::vector<int64_t> Shape(IImageAIInference& object, bool input, uint32_t index) {
    std::vector<int64_t> d(5, U);
    d.push_back(input ? object.GetInputShape(index, &d[0], &d[1], &d[2], &d[3], &d[4])
                      : object.GetOutputShape(index, &d[0], &d[1], &d[2], &d[3], &d[4]));
    return d;
}

// Everything but the core, the precision and the recorded ports is dropped.
void ExpectReleased(const Tessarine& o) {
    EXPECT_TRUE(!o.model);
    EXPECT_TRUE(!o.built_model);
    EXPECT_TRUE(!o.compiled_model);
    EXPECT_TRUE(!o.infer_request);
    EXPECT_TRUE(!o.weights);
    EXPECT_TRUE(o.model_string.empty());
    EXPECT_TRUE(o.last_error.empty());
    EXPECT_TRUE(!o.model_data);
    EXPECT_TRUE(o.model_size == 0);
    EXPECT_EQ(std::vector<int32_t>({o.current_gpu_index, o.input_width, o.input_height}), std::vector<int32_t>(3, -1));
}

// A new object holds nothing either, and its release releases nothing. The
// shapes reported are the recorded ports'.
TEST(Lifecycle, ReleaseKeepsOnlyTheCoreTheShapesAndThePrecision) {
    ObjectPtr object = NewObject();
    Tessarine& o = AsTessarine(object);
    for (int releases = 0; releases < 2; ++releases, object->ReleaseModel()) {
        EXPECT_TRUE(!o.core);
        EXPECT_TRUE(o.precision_code == 3);
        ExpectReleased(o);
        for (bool input : {true, false}) EXPECT_EQ(Shape(*object, input, 0), std::vector<int64_t>({U, U, U, U, U, 0}));
    }
    const std::vector<char> head = ReadModel("static_head");
    ASSERT_TRUE(object->LoadModel(head.data(), head.size(), -1, 17)) << object->GetLastErrorMessage();
    o.last_error = "an earlier failure";
    std::shared_ptr<ov::Core> core = o.core;
    object->ReleaseModel();
    ExpectReleased(o);
    EXPECT_TRUE(o.core == core);
    EXPECT_TRUE(o.precision_code == 17);
    EXPECT_EQ(Shape(*object, true, 0), (std::vector<int64_t>{1, 3, 224, 224, U, 4}));
    EXPECT_EQ(Shape(*object, false, 0), (std::vector<int64_t>{1, 10, U, U, U, 2}));

    // The rank, the dims there are behind dim0 to dim4 (-1 where dynamic,
    // the first five of six), nothing past the ports; null out-arguments
    // skipped.
    const std::vector<char> rank6 = ReadModel("rank6"), two_inputs = ReadModel("two_inputs"),
                            conv = ReadModel("dynamic_conv");
    ASSERT_TRUE(object->LoadModel(rank6.data(), rank6.size(), -1, 3)) << object->GetLastErrorMessage();
    EXPECT_EQ(Shape(*object, true, 0), (std::vector<int64_t>{1, 2, 3, 4, 5, 6}));
    ASSERT_TRUE(object->LoadModel(conv.data(), conv.size(), -1, 3)) << object->GetLastErrorMessage();
    EXPECT_EQ(Shape(*object, false, 0), (std::vector<int64_t>{1, 2, -1, -1, U, 4}));
    ASSERT_TRUE(object->LoadModel(two_inputs.data(), two_inputs.size(), -1, 3)) << object->GetLastErrorMessage();
    const std::vector<int64_t> port = {1, 4, U, U, U, 2}, none = {U, U, U, U, U, 0};
    for (bool input : {true, false})
        EXPECT_EQ((std::vector{Shape(*object, input, 0), Shape(*object, input, 1), Shape(*object, input, 2)}),
                  (std::vector{port, port, none}));
    EXPECT_EQ(o.core, core);  // kept by every load since
    EXPECT_EQ(o.input_names, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(o.output_names, (std::vector<std::string>{"sum", "difference"}));
    int64_t d0 = U, d2 = U, d4 = U;
    EXPECT_EQ(object->GetInputShape(0, &d0, nullptr, &d2, nullptr, &d4), 2u);
    EXPECT_EQ(std::vector<int64_t>({d0, d2, d4}), (std::vector<int64_t>{1, U, U}));
    const std::weak_ptr<ov::Core> kept = o.core;
    core.reset();
    object.reset();  // through ReleaseModule
    EXPECT_TRUE(kept.expired());
}

}  // namespace
