// Decoding of a YOLOv8-style detection head: f32 [rows, cells], rows 0-3 the
// box centre x, centre y, width and height in input pixels, the other rows one
// score per class. Each cell proposes its best class; overlapping proposals of
// one class are suppressed greedily, best score first.
#ifndef TESSARINE_RUN_DETECTIONS_H
#define TESSARINE_RUN_DETECTIONS_H

#include <cstddef>
#include <vector>

#include "letterbox.h"

struct Detection {
    int class_id = 0;
    float score = 0;
    Box box;  // corners
};

// Cells whose best score is at least min_score, in cell order.
std::vector<Detection> DecodeHead(const float* head, size_t rows, size_t cells, float min_score);

float IntersectionOverUnion(const Box& a, const Box& b);

// Per class: a proposal is dropped when it overlaps a kept one of its class by
// more than max_iou. Returns at most max_count, best score first; equal scores
// keep their cell order.
std::vector<Detection> SuppressOverlaps(std::vector<Detection> proposals, float max_iou, size_t max_count);

#endif
