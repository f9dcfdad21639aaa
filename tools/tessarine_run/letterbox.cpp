#include "letterbox.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

Letterbox FitLetterbox(int source_width, int source_height, int target_width, int target_height) {
    if (source_width <= 0 || source_height <= 0 || target_width <= 0 || target_height <= 0)
        throw std::invalid_argument("cannot letterbox " + std::to_string(source_width) + "x" +
                                    std::to_string(source_height) + " into " + std::to_string(target_width) + "x" +
                                    std::to_string(target_height));
    Letterbox box;
    box.source_width = source_width;
    box.source_height = source_height;
    box.target_width = target_width;
    box.target_height = target_height;
    const double scale =
        std::min(static_cast<double>(target_width) / source_width, static_cast<double>(target_height) / source_height);
    box.content_width = std::clamp(static_cast<int>(std::lround(source_width * scale)), 1, target_width);
    box.content_height = std::clamp(static_cast<int>(std::lround(source_height * scale)), 1, target_height);
    box.pad_left = (target_width - box.content_width) / 2;
    box.pad_top = (target_height - box.content_height) / 2;
    return box;
}

Picture ApplyLetterbox(const Picture& picture, const Letterbox& letterbox) {
    const Picture content = Resize(picture, letterbox.content_width, letterbox.content_height);
    Picture canvas(letterbox.target_width, letterbox.target_height, kLetterboxGrey);
    const size_t row_bytes = static_cast<size_t>(content.width) * 3;
    for (int y = 0; y < content.height; ++y)
        std::copy_n(content.At(0, y), row_bytes, canvas.At(letterbox.pad_left, letterbox.pad_top + y));
    return canvas;
}

Box ToSourcePixels(const Letterbox& letterbox, const Box& canvas_box) {
    const double sx = static_cast<double>(letterbox.source_width) / letterbox.content_width;
    const double sy = static_cast<double>(letterbox.source_height) / letterbox.content_height;
    auto x = [&](float v) {
        return static_cast<float>(std::clamp((v - letterbox.pad_left) * sx, 0.0, double(letterbox.source_width)));
    };
    auto y = [&](float v) {
        return static_cast<float>(std::clamp((v - letterbox.pad_top) * sy, 0.0, double(letterbox.source_height)));
    };
    return Box{x(canvas_box.x1), y(canvas_box.y1), x(canvas_box.x2), y(canvas_box.y2)};
}
