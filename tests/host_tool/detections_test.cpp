// Decoding of the 84-row head and the per-class suppression, on heads small
// enough to write out by hand.
#include "detections.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// rows x cells, row-major, as the module returns the head.
struct HeadBuilder {
    size_t rows, cells;
    std::vector<float> values;
    HeadBuilder(size_t classes, size_t cells) : rows(4 + classes), cells(cells), values(rows * cells, 0.f) {}
    void Cell(size_t cell, float cx, float cy, float w, float h, std::vector<float> scores) {
        const float box[4] = {cx, cy, w, h};
        for (size_t r = 0; r < 4; ++r) values[r * cells + cell] = box[r];
        for (size_t k = 0; k < scores.size(); ++k) values[(4 + k) * cells + cell] = scores[k];
    }
};

TEST(HeadDecoding, TakesEachCellsBestClassAndCorners) {
    HeadBuilder head(3, 3);
    head.Cell(0, 100, 50, 20, 10, {0.1f, 0.9f, 0.3f});
    head.Cell(1, 10, 10, 4, 4, {0.2f, 0.1f, 0.24f});    // below the threshold
    head.Cell(2, 30, 40, 10, 30, {0.5f, 0.5f, 0.25f});  // a tie goes to the lower class
    const std::vector<Detection> found = DecodeHead(head.values.data(), head.rows, head.cells, 0.25f);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].class_id, 1);
    EXPECT_EQ(found[0].score, 0.9f);
    EXPECT_EQ(found[0].box.x1, 90.f);
    EXPECT_EQ(found[0].box.y1, 45.f);
    EXPECT_EQ(found[0].box.x2, 110.f);
    EXPECT_EQ(found[0].box.y2, 55.f);
    EXPECT_EQ(found[1].class_id, 0);
    EXPECT_EQ(found[1].box.y1, 25.f);
    EXPECT_EQ(found[1].box.y2, 55.f);
}

TEST(HeadDecoding, KeepsAScoreEqualToTheThreshold) {
    HeadBuilder head(2, 1);
    head.Cell(0, 5, 5, 2, 2, {0.f, 0.25f});
    EXPECT_EQ(DecodeHead(head.values.data(), head.rows, head.cells, 0.25f).size(), 1u);
}

TEST(Overlap, IsIntersectionOverUnion) {
    EXPECT_FLOAT_EQ(IntersectionOverUnion(Box{0, 0, 10, 10}, Box{5, 0, 15, 10}), 50.f / 150.f);
    EXPECT_EQ(IntersectionOverUnion(Box{0, 0, 10, 10}, Box{20, 20, 30, 30}), 0.f);
    EXPECT_EQ(IntersectionOverUnion(Box{0, 0, 10, 10}, Box{0, 0, 10, 10}), 1.f);
}

Detection Make(int class_id, float score, Box box) { return Detection{class_id, score, box}; }

TEST(Suppression, DropsOverlapsOfOneClassOnly) {
    const std::vector<Detection> kept =
        SuppressOverlaps({Make(0, 0.6f, {0, 0, 10, 10}), Make(0, 0.9f, {1, 0, 11, 10}), Make(1, 0.7f, {0, 0, 10, 10}),
                          Make(0, 0.5f, {50, 50, 60, 60})},
                         0.45f, 10);
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0].score, 0.9f);
    EXPECT_EQ(kept[1].class_id, 1);
    EXPECT_EQ(kept[2].score, 0.5f);
}

TEST(Suppression, KeepsOverlapsAtOrBelowTheLimit) {
    // IoU 1/3 exactly.
    const std::vector<Detection> kept =
        SuppressOverlaps({Make(0, 0.9f, {0, 0, 10, 10}), Make(0, 0.8f, {5, 0, 15, 10})}, 50.f / 150.f, 10);
    EXPECT_EQ(kept.size(), 2u);
}

TEST(Suppression, StopsAtTheCountBestFirstInCellOrderOnTies) {
    const std::vector<Detection> kept = SuppressOverlaps(
        {Make(2, 0.3f, {0, 0, 1, 1}), Make(3, 0.8f, {10, 0, 11, 1}), Make(4, 0.3f, {20, 0, 21, 1})}, 0.45f, 2);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].class_id, 3);
    EXPECT_EQ(kept[1].class_id, 2);
}

}  // namespace
