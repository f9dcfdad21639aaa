// What an object holds after creation, release and destruction, and the
// shapes it reports: the state is what its fields hold.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

constexpr int64_t U = 0x7e57;  // a value no shape query may write

class Lifecycle : public ::testing::Test {
protected:
    void Load(const std::string& name, uint32_t precision = 3) {
        model_ = ReadModel(name);
        ASSERT_TRUE(object_->LoadModel(model_.data(), model_.size(), -1, precision)) << object_->GetLastErrorMessage();
    }
    std::vector<int64_t> Shape(bool input, uint32_t index, uint32_t& count) {
        std::vector<int64_t> d(5, U);
        count = input ? object_->GetInputShape(index, &d[0], &d[1], &d[2], &d[3], &d[4])
                      : object_->GetOutputShape(index, &d[0], &d[1], &d[2], &d[3], &d[4]);
        return d;
    }
    // Everything but the core, the precision and the recorded ports is dropped.
    void ExpectReleased() {
        const Tessarine& o = AsTessarine(object_);
        EXPECT_TRUE(!o.model && !o.built_model && !o.compiled_model && !o.infer_request && !o.weights);
        EXPECT_TRUE(o.model_string.empty() && o.last_error.empty());
        EXPECT_EQ(o.model_data, nullptr);
        EXPECT_EQ(o.model_size, 0u);
        EXPECT_EQ(std::vector<int32_t>({o.current_gpu_index, o.input_width, o.input_height}),
                  std::vector<int32_t>(3, -1));
    }

    std::vector<char> model_;
    ObjectPtr object_ = NewObject();
};

TEST_F(Lifecycle, NewObjectHoldsNothingAndReleasesNothing) {
    for (int release = 0; release < 3; ++release) {
        EXPECT_EQ(AsTessarine(object_).core, nullptr);
        EXPECT_EQ(AsTessarine(object_).precision_code, 3u);
        ExpectReleased();
        for (bool input : {true, false}) {
            uint32_t count = 9;
            EXPECT_EQ(Shape(input, 0, count), std::vector<int64_t>(5, U));
            EXPECT_EQ(count, 0u);
        }
        object_->ReleaseModel();
    }
}

TEST_F(Lifecycle, ReleaseKeepsTheCoreTheShapesAndThePrecision) {
    Load("static_head", 17);
    EXPECT_EQ(AsTessarine(object_).precision_code, 17u);
    AsTessarine(object_).last_error = "an earlier failure";
    const std::shared_ptr<ov::Core> core = AsTessarine(object_).core;
    object_->ReleaseModel();
    ExpectReleased();
    EXPECT_EQ(AsTessarine(object_).core, core);
    EXPECT_EQ(AsTessarine(object_).precision_code, 17u);
    uint32_t count = 0;
    EXPECT_EQ(Shape(true, 0, count), (std::vector<int64_t>{1, 3, 224, 224, U}));
    EXPECT_EQ(Shape(false, 0, count), (std::vector<int64_t>{1, 10, U, U, U}));
    Load("dynamic_conv");
    EXPECT_EQ(AsTessarine(object_).core, core);
}

TEST_F(Lifecycle, ReleaseModuleDestroysALoadedObject) {
    Load("dynamic_conv");
    const Tessarine& o = AsTessarine(object_);
    const std::weak_ptr<void> held[] = {o.core, o.compiled_model, o.infer_request};
    object_.reset();
    for (const std::weak_ptr<void>& runtime_object : held) EXPECT_TRUE(runtime_object.expired());
}

struct ShapeCase {
    const char* model;
    bool input;
    uint32_t index, count;
    std::vector<int64_t> dims;  // what lands behind dim0 to dim4
};

void PrintTo(const ShapeCase& c, std::ostream* os) { *os << c.model << (c.input ? " input " : " output ") << c.index; }

class RecordedShapes : public Lifecycle, public ::testing::WithParamInterface<ShapeCase> {};

TEST_P(RecordedShapes, GiveTheRankAndStoreOnlyTheDimsThereAre) {
    Load(GetParam().model);
    uint32_t count = 99;
    EXPECT_EQ(Shape(GetParam().input, GetParam().index, count), GetParam().dims);
    EXPECT_EQ(count, GetParam().count);
}

INSTANTIATE_TEST_SUITE_P(Models, RecordedShapes,
                         ::testing::Values(ShapeCase{"static_head", true, 0, 4, {1, 3, 224, 224, U}},
                                           ShapeCase{"static_head", false, 0, 2, {1, 10, U, U, U}},
                                           ShapeCase{"rank6", true, 0, 6, {1, 2, 3, 4, 5}},
                                           ShapeCase{"any_batch", true, 0, 4, {-1, 3, -1, -1, U}},
                                           ShapeCase{"dynamic_conv", false, 0, 4, {1, 2, -1, -1, U}},
                                           ShapeCase{"two_inputs", true, 1, 2, {1, 4, U, U, U}},
                                           ShapeCase{"two_inputs", true, 2, 0, {U, U, U, U, U}},
                                           ShapeCase{"two_inputs", false, 2, 0, {U, U, U, U, U}}));

TEST_F(Lifecycle, NullOutArgumentsAreSkippedAndPortsKeepTheModelsOrder) {
    Load("static_head");
    int64_t d0 = U, d2 = U, d4 = U;
    EXPECT_EQ(object_->GetInputShape(0, &d0, nullptr, &d2, nullptr, &d4), 4u);
    EXPECT_EQ(std::vector<int64_t>({d0, d2, d4}), (std::vector<int64_t>{1, 224, U}));
    Load("two_inputs");
    EXPECT_EQ(AsTessarine(object_).input_names, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(AsTessarine(object_).output_names, (std::vector<std::string>{"sum", "difference"}));
}

}  // namespace
