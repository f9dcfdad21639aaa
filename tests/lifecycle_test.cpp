// Creation, release and destruction: what each leaves behind, and that a
// release is safe whatever the object holds.
#include <gtest/gtest.h>

#include <algorithm>

#include "test_support.h"

namespace {

constexpr int64_t kUntouched = 0x7e57;

// Fails an inference without touching the model, so that last_error holds a
// text the release must clear.
void FailAnInference(IImageAIInference& object) {
    const std::vector<TensorData> inputs;
    std::vector<TensorData> outputs;
    StdoutCapture quiet;
    ASSERT_FALSE(object.DoInference(inputs, outputs));
    ASSERT_EQ(object.GetLastErrorMessage(), "inputs is empty.");
}

std::vector<int64_t> InputDims(IImageAIInference& object, uint32_t& count) {
    std::vector<int64_t> d(5, kUntouched);
    count = object.GetInputShape(0, &d[0], &d[1], &d[2], &d[3], &d[4]);
    return d;
}

// Everything but the core, the precision and the recorded ports is dropped.
void ExpectReleased(const Tessarine& object) {
    EXPECT_EQ(TessarineTestAccess::Model(object), nullptr);
    EXPECT_EQ(TessarineTestAccess::Compiled(object), nullptr);
    EXPECT_EQ(TessarineTestAccess::Request(object), nullptr);
    EXPECT_EQ(TessarineTestAccess::ModelString(object), "");
    EXPECT_EQ(TessarineTestAccess::ModelData(object), nullptr);
    EXPECT_EQ(TessarineTestAccess::DeviceIndex(object), -1);
    EXPECT_EQ(TessarineTestAccess::InputWidth(object), -1);
    EXPECT_EQ(TessarineTestAccess::InputHeight(object), -1);
}

class Lifecycle : public ::testing::Test {
protected:
    void Load(const std::string& name) {
        model_ = ReadModel(name);
        ASSERT_TRUE(object_->LoadModel(model_.data(), model_.size(), -1, 3)) << object_->GetLastErrorMessage();
    }
    Tessarine& Object() { return AsTessarine(object_); }

    std::vector<char> model_;
    ObjectPtr object_ = NewObject();
};

TEST_F(Lifecycle, NewObjectHoldsNoCoreNoErrorAndNoShapes) {
    EXPECT_EQ(TessarineTestAccess::Core(Object()), nullptr);
    EXPECT_EQ(object_->GetLastErrorMessage(), "");
    uint32_t count = 99;
    EXPECT_EQ(InputDims(*object_, count), std::vector<int64_t>(5, kUntouched));
    EXPECT_EQ(count, 0u);
    int64_t out = kUntouched;
    EXPECT_EQ(object_->GetOutputShape(0, &out, &out, &out, &out, &out), 0u);
    EXPECT_EQ(out, kUntouched);
}

TEST_F(Lifecycle, ReleaseOnANewObjectCreatesNothing) {
    object_->ReleaseModel();
    object_->ReleaseModel();
    EXPECT_EQ(TessarineTestAccess::Core(Object()), nullptr);
    ExpectReleased(Object());
    uint32_t count = 99;
    InputDims(*object_, count);
    EXPECT_EQ(count, 0u);
}

TEST_F(Lifecycle, ReleaseKeepsShapesAndClearsTheError) {
    Load("static_head");
    FailAnInference(*object_);
    object_->ReleaseModel();
    ExpectReleased(Object());
    EXPECT_EQ(object_->GetLastErrorMessage(), "");
    uint32_t count = 0;
    EXPECT_EQ(InputDims(*object_, count), (std::vector<int64_t>{1, 3, 224, 224, kUntouched}));
    EXPECT_EQ(count, 4u);
    int64_t d[2] = {0, 0};
    EXPECT_EQ(object_->GetOutputShape(0, &d[0], &d[1], nullptr, nullptr, nullptr), 2u);
    EXPECT_EQ(std::vector<int64_t>(d, d + 2), (std::vector<int64_t>{1, 10}));
}

// The core is made once per object: a release, a second release and the next
// load all keep the same one.
TEST_F(Lifecycle, ReleaseAndReloadKeepTheCore) {
    Load("dynamic_conv");
    const std::shared_ptr<ov::Core> core = TessarineTestAccess::Core(Object());
    ASSERT_NE(core, nullptr);
    object_->ReleaseModel();
    object_->ReleaseModel();
    EXPECT_EQ(TessarineTestAccess::Core(Object()), core);
    ExpectReleased(Object());
    Load("static_head");
    EXPECT_EQ(TessarineTestAccess::Core(Object()), core);
}

TEST_F(Lifecycle, DestroyingALoadedObjectReleasesEverything) {
    Load("dynamic_conv");
    const std::weak_ptr<ov::Core> core = TessarineTestAccess::Core(Object());
    const std::weak_ptr<ov::CompiledModel> compiled = TessarineTestAccess::Compiled(Object());
    const std::weak_ptr<ov::InferRequest> request = TessarineTestAccess::Request(Object());
    TraceRecorder traces;
    object_.reset();
    const std::vector<std::string>& texts = traces.Texts();
    const auto destructor = std::find(texts.begin(), texts.end(), "Tessarine::~Tessarine()");
    ASSERT_NE(destructor, texts.end());
    ASSERT_NE(destructor + 1, texts.end());
    EXPECT_EQ(*(destructor + 1), "Tessarine::ReleaseModel()");
    EXPECT_TRUE(core.expired());
    EXPECT_TRUE(compiled.expired());
    EXPECT_TRUE(request.expired());
}

}  // namespace
