#include "detections.h"

#include <algorithm>

std::vector<Detection> DecodeHead(const float* head, size_t rows, size_t cells, float min_score) {
    std::vector<Detection> found;
    if (rows <= 4) return found;
    for (size_t cell = 0; cell < cells; ++cell) {
        size_t best = 4;
        for (size_t row = 5; row < rows; ++row)
            if (head[row * cells + cell] > head[best * cells + cell]) best = row;
        const float score = head[best * cells + cell];
        if (!(score >= min_score)) continue;
        const float cx = head[cell], cy = head[cells + cell];
        const float half_w = head[2 * cells + cell] / 2, half_h = head[3 * cells + cell] / 2;
        found.push_back(
            Detection{static_cast<int>(best - 4), score, Box{cx - half_w, cy - half_h, cx + half_w, cy + half_h}});
    }
    return found;
}

float IntersectionOverUnion(const Box& a, const Box& b) {
    const float w = std::max(0.f, std::min(a.x2, b.x2) - std::max(a.x1, b.x1));
    const float h = std::max(0.f, std::min(a.y2, b.y2) - std::max(a.y1, b.y1));
    const float inter = w * h;
    const float area_a = std::max(0.f, a.x2 - a.x1) * std::max(0.f, a.y2 - a.y1);
    const float area_b = std::max(0.f, b.x2 - b.x1) * std::max(0.f, b.y2 - b.y1);
    const float uni = area_a + area_b - inter;
    return uni > 0 ? inter / uni : 0.f;
}

std::vector<Detection> SuppressOverlaps(std::vector<Detection> proposals, float max_iou, size_t max_count) {
    std::stable_sort(proposals.begin(), proposals.end(),
                     [](const Detection& a, const Detection& b) { return a.score > b.score; });
    std::vector<Detection> kept;
    for (const Detection& candidate : proposals) {
        if (kept.size() == max_count) break;
        const bool overlaps = std::any_of(kept.begin(), kept.end(), [&](const Detection& k) {
            return k.class_id == candidate.class_id && IntersectionOverUnion(k.box, candidate.box) > max_iou;
        });
        if (!overlaps) kept.push_back(candidate);
    }
    return kept;
}
