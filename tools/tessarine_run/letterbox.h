// The detect mode's geometry: a picture scaled to fit the model's input with
// its aspect ratio kept, centred on a grey canvas, and boxes found on that
// canvas mapped back to the picture's own pixels.
#ifndef TESSARINE_RUN_LETTERBOX_H
#define TESSARINE_RUN_LETTERBOX_H

#include "picture.h"

struct Box {
    float x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

struct Letterbox {
    int source_width = 0, source_height = 0;
    int target_width = 0, target_height = 0;
    int content_width = 0, content_height = 0;  // the scaled picture on the canvas
    int pad_left = 0, pad_top = 0;
};

// The grey of the padding, as in YOLOX's and YOLOv8's training pipelines.
constexpr uint8_t kLetterboxGrey = 114;

Letterbox FitLetterbox(int source_width, int source_height, int target_width, int target_height);
Picture ApplyLetterbox(const Picture& picture, const Letterbox& letterbox);

// Each axis is scaled by content / source size rather than by the one fitted
// factor, so that a box over the whole content maps onto the whole picture
// although the content's size was rounded to whole pixels. The result is
// clipped to the picture.
Box ToSourcePixels(const Letterbox& letterbox, const Box& canvas_box);

#endif
