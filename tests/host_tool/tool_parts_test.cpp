// The tool's own parts, exact, on cases small enough to work out by hand: the
// letterbox, and the decoding and suppression of the detection head.
// (tool_checks.py sees the letterboxed canvas, the boxes in the photos' pixels
// and the .npy files through the tool.)
#include <gtest/gtest.h>

#include <array>

#include "detections.h"
#include "letterbox.h"

namespace {

std::array<float, 4> Corners(const Box& b) { return {b.x1, b.y1, b.x2, b.y2}; }

TEST(Letterbox, CentresThePictureScaledToFit) {
    // source, target, then content size and padding on the left and top
    const std::array<int, 8> cases[] = {{100, 400, 640, 640, 160, 640, 240, 0}, {1280, 960, 640, 640, 640, 480, 0, 80},
                                        {300, 100, 320, 320, 320, 107, 0, 106}, {100, 100, 640, 320, 320, 320, 160, 0}};
    for (const auto& c : cases) {
        const Letterbox box = FitLetterbox(c[0], c[1], c[2], c[3]);
        EXPECT_EQ((std::array<int, 4>{box.content_width, box.content_height, box.pad_left, box.pad_top}),
                  (std::array<int, 4>{c[4], c[5], c[6], c[7]}))
            << c[0] << "x" << c[1] << " on " << c[2] << "x" << c[3];
    }
    EXPECT_THROW(FitLetterbox(0, 10, 640, 640), std::invalid_argument);
}

TEST(Detections, EachCellProposesItsBestClassAtOrAboveTheThreshold) {
    // 3 classes, 4 cells, rows of cells: cx, cy, w, h, then the class scores
    const float head[7][4] = {{100, 10, 30, 5},   {50, 10, 40, 5},      {20, 4, 10, 2},   {10, 4, 30, 2},
                              {0.1f, 0.2f, 0.5f, 0}, {0.9f, 0.1f, 0.5f, 0}, {0.3f, 0.24f, 0.25f, 0.25f}};
    const std::vector<Detection> found = DecodeHead(&head[0][0], 7, 4, 0.25f);
    ASSERT_EQ(found.size(), 3u);  // the second cell's best, 0.24, is below
    EXPECT_EQ(std::make_pair(found[0].class_id, found[0].score), std::make_pair(1, 0.9f));
    EXPECT_EQ(Corners(found[0].box), (std::array<float, 4>{90, 45, 110, 55}));
    EXPECT_EQ(found[1].class_id, 0);  // a tie goes to the lower class
    EXPECT_EQ(Corners(found[1].box), (std::array<float, 4>{25, 25, 35, 55}));
    EXPECT_EQ(std::make_pair(found[2].class_id, found[2].score), std::make_pair(2, 0.25f));  // equal to the threshold
}

TEST(Detections, SuppressionDropsOverlapsOfOneClassBestFirstUpToTheCount) {
    using Kept = std::vector<std::pair<int, float>>;
    const struct {
        std::vector<Detection> proposals;
        float max_iou;
        size_t max_count;
        Kept kept;
    } cases[] = {
        {{{0, 0.6f, {0, 0, 10, 10}}, {0, 0.9f, {1, 0, 11, 10}}, {1, 0.7f, {0, 0, 10, 10}}, {0, 0.5f, {50, 50, 60, 60}}},
         0.45f, 10, {{0, 0.9f}, {1, 0.7f}, {0, 0.5f}}},  // another class's overlap stays
        {{{0, 0.9f, {0, 0, 10, 10}}, {0, 0.8f, {5, 0, 15, 10}}}, 50.f / 150.f, 10, {{0, 0.9f}, {0, 0.8f}}},  // IoU 1/3
        {{{2, 0.3f, {0, 0, 1, 1}}, {3, 0.8f, {10, 0, 11, 1}}, {4, 0.3f, {20, 0, 21, 1}}}, 0.45f, 2,
         {{3, 0.8f}, {2, 0.3f}}},  // equal scores keep their cell order
    };
    for (const auto& c : cases) {
        Kept kept;
        for (const Detection& d : SuppressOverlaps(c.proposals, c.max_iou, c.max_count))
            kept.emplace_back(d.class_id, d.score);
        EXPECT_EQ(kept, c.kept);
    }
}

}  // namespace
