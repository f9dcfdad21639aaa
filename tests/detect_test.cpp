// The detect form: an f32 image in, an f32 [1, 84, N] head out, N the cells
// of the 8-, 16- and 32-pixel grids over the image.
#include <cmath>
#include <tuple>

#include "test_support.h"

namespace {

// The header's count, which host and module share: each grid rounded up, an
// empty side one cell, in 32-bit arithmetic as a host computes it.
TEST(DetectionCells, CountTheThreeGridsRoundedUp) {
    const std::tuple<uint32_t, uint32_t, uint64_t> cases[] = {
        {650, 650, 82 * 82 + 41 * 41 + 21 * 21},
        {33, 17, 5 * 3 + 3 * 2 + 2 * 1},
        {0, 0, 3},
        {1, 1, 3},
        {0, 640, 80 + 40 + 20},
        {1u << 20, 1u << 20, 1u << 30},
        {480000, 480000, 60000ull * 60000 + 30000 * 30000 + 15000 * 15000 - (1ull << 32)}};
    for (const auto& [width, height, cells] : cases)
        EXPECT_EQ(image_ai::DetectionCells(width, height), cells) << width << "x" << height;
}

// An empty image, which the runtime refuses, leaves the out-pointers and the
// shape as the last success gave them.
using DetectOnCpu = ModuleTest;

TEST_F(DetectOnCpu, FillsTheHostsBufferWithTheHeadAndReportsItsShape) {
    Load("detect_head");
    auto output_shape = [&] {
        std::vector<int64_t> dims(5, -7);
        dims.resize(object_->GetOutputShape(0, &dims[0], &dims[1], &dims[2], &dims[3], &dims[4]));
        return dims;
    };
    uint64_t count = 0, dim2 = 0, dim1 = 0;
    auto detect = [&](uint32_t width, uint32_t height, std::vector<float>& image, std::vector<float>& output) {
        return Run(
            [&] { return object_->DoInference(width, height, image.data(), output.data(), &count, &dim2, &dim1); });
    };
    for (const auto& [width, height, cells] : {std::tuple{100u, 50u, 127ull}, {650u, 650u, 8846ull}}) {
        std::vector<float> image = Image(width, height), output(84 * cells, NAN);
        const Outcome outcome = detect(width, height, image, output);
        ASSERT_TRUE(outcome.ok && outcome.console.empty()) << outcome.error;
        EXPECT_EQ(std::vector<uint64_t>({count, dim2, dim1}), (std::vector<uint64_t>{84 * cells, cells, 84}));
        EXPECT_EQ(output_shape(), (std::vector<int64_t>{1, 84, static_cast<int64_t>(cells)}));
        const std::vector<float> expected = DetectHead(image, width, height);
        for (size_t i = 0; i < output.size(); ++i)
            ASSERT_NEAR(output[i], expected[i], 1e-4) << "row " << i / cells << " cell " << i % cells;
    }
    count = dim2 = dim1 = 0xDEADBEEF;
    std::vector<float> image(1), output(84 * 3);
    EXPECT_FALSE(detect(0, 0, image, output).ok);
    EXPECT_EQ(std::vector<uint64_t>({count, dim2, dim1}), std::vector<uint64_t>(3, 0xDEADBEEF));
    EXPECT_EQ(output_shape(), (std::vector<int64_t>{1, 84, 8846}));
}

}  // namespace
