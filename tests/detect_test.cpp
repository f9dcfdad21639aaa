// DoInference(1): an f32 image in, an f32 [1, 84, N] detection head out, N
// counting the cells of the 8-, 16- and 32-pixel grids over the image.
#include <gtest/gtest.h>

#include <cmath>


#include "test_support.h"

namespace {

struct GridCase {
    uint32_t width;
    uint32_t height;
    uint64_t cells;
};

class GridCells : public ::testing::TestWithParam<GridCase> {};

TEST_P(GridCells, CountEachGridRoundedUp) {
    EXPECT_EQ(image_ai::DetectionCells(GetParam().width, GetParam().height), GetParam().cells);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, GridCells,
    ::testing::Values(GridCase{640, 640, 80 * 80 + 40 * 40 + 20 * 20}, GridCase{100, 50, 127},
                      GridCase{650, 650, 82 * 82 + 41 * 41 + 21 * 21}, GridCase{0, 0, 3}, GridCase{1, 1, 3},
                      GridCase{0, 640, 80 + 40 + 20}, GridCase{33, 17, 5 * 3 + 3 * 2 + 2 * 1},
                      // The host counts in 32 bits: products and their sum wrap.
                      GridCase{1u << 20, 1u << 20, 1u << 30},
                      GridCase{480000, 480000, 60000ull * 60000 + 30000 * 30000 + 15000 * 15000 - (1ull << 32)}));

TEST(GridCellCount, EqualsCeilingDivisionUpToTwoToTheTwentyFour) {
    auto ceil_div = [](uint64_t d, uint64_t s) { return (d + s - 1) / s; };
    for (uint64_t width = 1; width <= (1u << 24); width += 9973) {
        for (uint64_t height : {1u, 7u, 641u}) {
            uint64_t expected = 0;
            for (uint64_t s : {8, 16, 32}) expected += ceil_div(width, s) * ceil_div(height, s);
            ASSERT_EQ(image_ai::DetectionCells(static_cast<uint32_t>(width), static_cast<uint32_t>(height)), expected)
                << width << "x" << height;
        }
    }
}

constexpr uint64_t kUntouched = 0xDEADBEEF;

class DetectHeadOnCpu : public ::testing::Test {
protected:
    void SetUp() override { Load("detect_head"); }
    void Load(const std::string& name) {
        model_ = ReadModel(name);
        ASSERT_TRUE(object_->LoadModel(model_.data(), model_.size(), -1, 3)) << object_->GetLastErrorMessage();
    }
    bool Infer(uint32_t width, uint32_t height, std::vector<float>& image, std::vector<float>& output,
             std::string& console) {
        StdoutCapture capture;
        const bool ran = object_->DoInference(width, height, image.data(), output.data(), &count_, &dim2_, &dim1_);
        console = capture.Text();
        return ran;
    }
    std::vector<int64_t> OutputShape() {
        std::vector<int64_t> dims(5, -7);
        dims.resize(object_->GetOutputShape(0, &dims[0], &dims[1], &dims[2], &dims[3], &dims[4]));
        return dims;
    }

    std::vector<char> model_;
    ObjectPtr object_ = NewObject();
    uint64_t count_ = kUntouched, dim2_ = kUntouched, dim1_ = kUntouched;
};

class DetectHeadSizes : public DetectHeadOnCpu, public ::testing::WithParamInterface<GridCase> {};

TEST_P(DetectHeadSizes, FillTheCallersBufferWithTheHead) {
    const auto [width, height, cells] = GetParam();
    std::vector<float> image = Image(width, height), output(84 * cells, NAN);
    std::string console;
    ASSERT_TRUE(Infer(width, height, image, output, console)) << object_->GetLastErrorMessage();
    EXPECT_EQ(console, "");
    EXPECT_EQ(count_, 84 * cells);
    EXPECT_EQ(dim2_, cells);
    EXPECT_EQ(dim1_, 84u);
    EXPECT_EQ(OutputShape(), (std::vector<int64_t>{1, 84, static_cast<int64_t>(cells)}));

    const std::vector<float> expected = DetectHead(image, width, height);
    ASSERT_EQ(expected.size(), output.size());
    for (size_t i = 0; i < output.size(); ++i)
        ASSERT_NEAR(output[i], expected[i], 1e-4) << "row " << i / cells << " cell " << i % cells;
}

INSTANTIATE_TEST_SUITE_P(Sizes, DetectHeadSizes,
                         ::testing::Values(GridCase{640, 640, 8400}, GridCase{100, 50, 127},
                                           GridCase{650, 650, 8846}));

TEST_F(DetectHeadOnCpu, ShapeOfTheLastSuccessSurvivesAFailure) {
    std::string console;
    for (auto [width, height, cells] : {GridCase{640, 640, 8400}, GridCase{100, 50, 127}}) {
        std::vector<float> image = Image(width, height), output(84 * cells);
        ASSERT_TRUE(Infer(width, height, image, output, console)) << object_->GetLastErrorMessage();
    }
    // An empty image: the runtime refuses it, N = 3 notwithstanding.
    count_ = dim2_ = dim1_ = kUntouched;
    std::vector<float> image(1), output(84 * 3);
    ASSERT_FALSE(Infer(0, 0, image, output, console));
    const std::string error = object_->GetLastErrorMessage();
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(console == "[OpenVINOInstance]DoInference ov::Busy error: " + error ||
                console == "[OpenVINOInstance]DoInference ov::Exception error: " + error ||
                console == "[OpenVINOInstance]DoInference std::exception error: " + error)
        << console;
    EXPECT_EQ(count_, kUntouched);
    EXPECT_EQ(dim2_, kUntouched);
    EXPECT_EQ(dim1_, kUntouched);
    EXPECT_EQ(OutputShape(), (std::vector<int64_t>{1, 84, 127}));
}

TEST_F(DetectHeadOnCpu, ModelWithAnotherOutputShapeFailsAndWritesNothing) {
    Load("dynamic_conv");  // [1, 2, H, W] out, not [1, 84, N]
    std::vector<float> image = Image(8, 8), output(84 * 3, NAN);
    std::string console;
    ASSERT_FALSE(Infer(8, 8, image, output, console));
    EXPECT_EQ(console, "[OpenVINOInstance]DoInference ov::Exception error: " + object_->GetLastErrorMessage());
    EXPECT_EQ(count_, kUntouched);
    EXPECT_EQ(dim2_, kUntouched);
    EXPECT_EQ(dim1_, kUntouched);
    EXPECT_EQ(OutputShape(), (std::vector<int64_t>{1, 2, -1, -1}));
    for (float value : output) EXPECT_TRUE(std::isnan(value));
}

TEST_F(DetectHeadOnCpu, RejectsMissingPointersAndAMissingModel) {
    std::vector<float> image = Image(100, 50), output(84 * 127, NAN);
    uint64_t count = kUntouched, dim2 = kUntouched, dim1 = kUntouched;
    auto expect_rejected = [&](void* input, void* out, uint64_t* n, uint64_t* d2, uint64_t* d1,
                               const std::string& message) {
        std::string console;
        bool ran;
        {
            StdoutCapture capture;
            ran = object_->DoInference(100u, 50u, input, out, n, d2, d1);
            console = capture.Text();
        }
        EXPECT_FALSE(ran);
        EXPECT_EQ(console, "[OpenVINOInstance]DoInference error: " + message);
        EXPECT_EQ(object_->GetLastErrorMessage(), message);
        EXPECT_EQ(count, kUntouched);
        EXPECT_EQ(dim2, kUntouched);
        EXPECT_EQ(dim1, kUntouched);
        for (float value : output) ASSERT_TRUE(std::isnan(value));
    };
    const std::string buffers = "input_data or output_data is nullptr.";
    const std::string pointers = "output_count, output_dim2 or output_dim1 is nullptr.";
    expect_rejected(nullptr, output.data(), &count, &dim2, &dim1, buffers);
    expect_rejected(image.data(), nullptr, &count, &dim2, &dim1, buffers);
    expect_rejected(image.data(), output.data(), nullptr, &dim2, &dim1, pointers);
    expect_rejected(image.data(), output.data(), &count, nullptr, &dim1, pointers);
    expect_rejected(image.data(), output.data(), &count, &dim2, nullptr, pointers);

    // The last rejection's text must not outlive a success.
    std::vector<float> result(84 * 127);
    std::string console;
    ASSERT_TRUE(Infer(100, 50, image, result, console));
    EXPECT_EQ(object_->GetLastErrorMessage(), "");

    object_->ReleaseModel();
    expect_rejected(image.data(), output.data(), &count, &dim2, &dim1, "no model is loaded.");
}

}  // namespace
