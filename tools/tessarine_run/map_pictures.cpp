#include "map_pictures.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

struct Range {
    float low = 0, high = 1;
};

Range DisplayRange(const float* values, size_t count) {
    const auto [low, high] = std::minmax_element(values, values + count);
    if (count == 0 || (*low >= 0.f && *high <= 1.f)) return Range{};
    return Range{*low, *high > *low ? *high : *low + 1.f};
}

uint8_t ToByte(float v, const Range& range) {
    const float unit = (v - range.low) / (range.high - range.low);
    return static_cast<uint8_t>(std::lround(std::clamp(unit, 0.f, 1.f) * 255.f));
}

}  // namespace

Picture MapToPicture(const MapView& map, int channel) {
    const size_t plane = static_cast<size_t>(map.width) * map.height;
    const bool rgb = map.channels == 3;
    if (!rgb && (channel < 0 || channel >= map.channels))
        throw std::invalid_argument("the map has no channel " + std::to_string(channel));
    const float* first = map.values + (rgb ? 0 : plane * channel);
    const Range range = DisplayRange(first, plane * (rgb ? 3 : 1));
    Picture picture(map.width, map.height);
    for (size_t i = 0; i < plane; ++i)
        for (int c = 0; c < 3; ++c) picture.rgb[i * 3 + c] = ToByte(first[(rgb ? plane * c : 0) + i], range);
    return picture;
}

Picture OverlayMap(const Picture& picture, const Picture& map_picture, bool grey_map) {
    const Picture map = Resize(map_picture, picture.width, picture.height);
    Picture blended = picture;
    for (size_t i = 0; i < blended.rgb.size(); i += 3) {
        if (!grey_map) {
            for (int c = 0; c < 3; ++c)
                blended.rgb[i + c] = static_cast<uint8_t>((picture.rgb[i + c] + map.rgb[i + c] + 1) / 2);
            continue;
        }
        const float alpha = 0.7f * map.rgb[i] / 255.f;
        const float red[3] = {255.f, 0.f, 0.f};
        for (int c = 0; c < 3; ++c)
            blended.rgb[i + c] = static_cast<uint8_t>(std::lround(picture.rgb[i + c] * (1 - alpha) + red[c] * alpha));
    }
    return blended;
}
