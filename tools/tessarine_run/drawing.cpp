#include "drawing.h"

#include <stb_easy_font.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

void FillRect(Picture& picture, int x1, int y1, int x2, int y2, const Colour& colour) {
    x1 = std::max(x1, 0);
    y1 = std::max(y1, 0);
    x2 = std::min(x2, picture.width);
    y2 = std::min(y2, picture.height);
    for (int y = y1; y < y2; ++y)
        for (int x = x1; x < x2; ++x) std::copy(colour.begin(), colour.end(), picture.At(x, y));
}

// stb_easy_font's vertices: x, y, z as floats, then four colour bytes.
struct FontVertex {
    float x, y, z;
    unsigned char rgba[4];
};

}  // namespace

Colour ClassColour(int class_id) {
    // Hues spread by the golden angle, so that neighbouring ids differ.
    const double hue = std::fmod(class_id * 137.508, 360.0) / 60.0;
    const double x = 1.0 - std::fabs(std::fmod(hue, 2.0) - 1.0);
    const double rgb[6][3] = {{1, x, 0}, {x, 1, 0}, {0, 1, x}, {0, x, 1}, {x, 0, 1}, {1, 0, x}};
    const double* c = rgb[static_cast<int>(hue) % 6];
    return {static_cast<uint8_t>(55 + 200 * c[0]), static_cast<uint8_t>(55 + 200 * c[1]),
            static_cast<uint8_t>(55 + 200 * c[2])};
}

void DrawBox(Picture& picture, const Box& box, const Colour& colour, int thickness) {
    const int x1 = static_cast<int>(std::lround(box.x1)), y1 = static_cast<int>(std::lround(box.y1));
    const int x2 = static_cast<int>(std::lround(box.x2)), y2 = static_cast<int>(std::lround(box.y2));
    FillRect(picture, x1, y1, x2, y1 + thickness, colour);
    FillRect(picture, x1, y2 - thickness, x2, y2, colour);
    FillRect(picture, x1, y1, x1 + thickness, y2, colour);
    FillRect(picture, x2 - thickness, y1, x2, y2, colour);
}

void DrawLabel(Picture& picture, int x, int y, const std::string& text, const Colour& colour, int scale) {
    std::vector<char> chars(text.begin(), text.end());
    chars.push_back('\0');
    const int width = (stb_easy_font_width(chars.data()) + 2) * scale;
    const int height = 10 * scale;
    x = std::clamp(x, 0, std::max(0, picture.width - width));
    y = std::clamp(y, height, std::max(height, picture.height));
    FillRect(picture, x, y - height, x + width, y, colour);

    std::vector<FontVertex> vertices(text.size() * 64);
    const int quads = stb_easy_font_print(1, 1.5f, chars.data(), nullptr, vertices.data(),
                                          static_cast<int>(vertices.size() * sizeof(FontVertex)));
    const bool light = colour[0] * 299 + colour[1] * 587 + colour[2] * 114 > 128000;
    const Colour ink = light ? Colour{0, 0, 0} : Colour{255, 255, 255};
    for (int q = 0; q < quads; ++q) {
        const FontVertex& a = vertices[q * 4];
        const FontVertex& c = vertices[q * 4 + 2];
        FillRect(picture, x + static_cast<int>(a.x * scale), y - height + static_cast<int>(a.y * scale),
                 x + static_cast<int>(c.x * scale), y - height + static_cast<int>(c.y * scale), ink);
    }
}
