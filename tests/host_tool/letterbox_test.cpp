// The letterbox and the way back: where a picture lands on the model's
// canvas, and where a box found on the canvas lands on the picture. Every
// expected value here is worked out by hand and compared exactly.
#include "letterbox.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

struct FitCase {
    const char* name;
    int source_w, source_h, target_w, target_h;
    int content_w, content_h, pad_left, pad_top;
};

// Test listings name the case instead of dumping its bytes.
void PrintTo(const FitCase& c, std::ostream* os) { *os << c.name; }

class LetterboxFit : public testing::TestWithParam<FitCase> {};

TEST_P(LetterboxFit, PlacesTheScaledPictureInTheMiddle) {
    const FitCase& c = GetParam();
    const Letterbox box = FitLetterbox(c.source_w, c.source_h, c.target_w, c.target_h);
    EXPECT_EQ(box.content_width, c.content_w);
    EXPECT_EQ(box.content_height, c.content_h);
    EXPECT_EQ(box.pad_left, c.pad_left);
    EXPECT_EQ(box.pad_top, c.pad_top);
}

INSTANTIATE_TEST_SUITE_P(Cases, LetterboxFit,
                         testing::Values(FitCase{"wide", 200, 100, 640, 640, 640, 320, 0, 160},
                                         FitCase{"tall", 100, 400, 640, 640, 160, 640, 240, 0},
                                         FitCase{"exact", 640, 640, 640, 640, 640, 640, 0, 0},
                                         FitCase{"shrunk", 1280, 960, 640, 640, 640, 480, 0, 80},
                                         FitCase{"rounded", 640, 427, 640, 640, 640, 427, 0, 106},
                                         FitCase{"odd_padding", 300, 100, 320, 320, 320, 107, 0, 106},
                                         FitCase{"wide_target", 100, 100, 640, 320, 320, 320, 160, 0}),
                         [](const testing::TestParamInfo<FitCase>& info) { return std::string(info.param.name); });

TEST(LetterboxFit, RejectsAnEmptyPicture) { EXPECT_THROW(FitLetterbox(0, 10, 640, 640), std::invalid_argument); }

TEST(LetterboxMapping, BringsACanvasBoxBackToPicturePixels) {
    // 200 x 100 on 640 x 640: 3.2 times, 160 rows of padding above.
    const Letterbox letterbox = FitLetterbox(200, 100, 640, 640);
    const Box back = ToSourcePixels(letterbox, Box{288, 304, 352, 336});
    EXPECT_EQ(back.x1, 90.f);
    EXPECT_EQ(back.y1, 45.f);
    EXPECT_EQ(back.x2, 110.f);
    EXPECT_EQ(back.y2, 55.f);
}

TEST(LetterboxMapping, MapsTheWholeContentOntoTheWholePicture) {
    // 640 x 427 keeps its width; the content's rows are not a whole multiple.
    const Letterbox letterbox = FitLetterbox(640, 427, 640, 640);
    const Box back = ToSourcePixels(letterbox, Box{0, 106, 640, 533});
    EXPECT_EQ(back.x1, 0.f);
    EXPECT_EQ(back.y1, 0.f);
    EXPECT_EQ(back.x2, 640.f);
    EXPECT_EQ(back.y2, 427.f);
}

TEST(LetterboxMapping, ClipsToThePicture) {
    const Letterbox letterbox = FitLetterbox(100, 400, 640, 640);  // 160 wide, 240 columns each side
    const Box back = ToSourcePixels(letterbox, Box{200, -20, 420, 700});
    EXPECT_EQ(back.x1, 0.f);
    EXPECT_EQ(back.y1, 0.f);
    EXPECT_EQ(back.x2, 100.f);
    EXPECT_EQ(back.y2, 400.f);
}

TEST(LetterboxCanvas, HoldsThePictureAndGreyPadding) {
    // A picture at its target scale is copied, not resampled: every pixel
    // can be checked.
    Picture picture(4, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) {
            uint8_t* p = picture.At(x, y);
            p[0] = static_cast<uint8_t>(10 * x);
            p[1] = static_cast<uint8_t>(100 + y);
            p[2] = 7;
        }
    const Letterbox letterbox = FitLetterbox(4, 2, 4, 6);  // two grey rows above, two below
    const Picture canvas = ApplyLetterbox(picture, letterbox);
    ASSERT_EQ(canvas.width, 4);
    ASSERT_EQ(canvas.height, 6);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 4; ++x) {
            const uint8_t* p = canvas.At(x, y);
            const bool inside = y == 2 || y == 3;
            EXPECT_EQ(p[0], inside ? 10 * x : kLetterboxGrey) << x << "," << y;
            EXPECT_EQ(p[1], inside ? 100 + (y - 2) : kLetterboxGrey) << x << "," << y;
            EXPECT_EQ(p[2], inside ? 7 : kLetterboxGrey) << x << "," << y;
        }
}

}  // namespace
