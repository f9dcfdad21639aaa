// Pictures as the tool handles them: 8-bit RGB, rows top to bottom, read and
// written with stb, and turned into the planar float tensors models take.
#ifndef TESSARINE_RUN_PICTURE_H
#define TESSARINE_RUN_PICTURE_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // width * height * 3, interleaved

    Picture() = default;
    Picture(int width, int height, uint8_t fill = 0);
    uint8_t* At(int x, int y) { return rgb.data() + (static_cast<size_t>(y) * width + x) * 3; }
    const uint8_t* At(int x, int y) const { return rgb.data() + (static_cast<size_t>(y) * width + x) * 3; }
};

// How 8-bit samples become model values: (sample - mean[c]) * scale[c], with
// the channels fed in RGB or in BGR order. The mean and scale are given in the
// order of the channels as fed.
struct Normalisation {
    std::array<float, 3> mean{0.f, 0.f, 0.f};
    std::array<float, 3> scale{1.f / 255.f, 1.f / 255.f, 1.f / 255.f};
    bool bgr = false;
};

// Grey and grey-with-alpha pictures are read as RGB; alpha is dropped.
Picture ReadPicture(const std::string& path);
void WritePng(const std::string& path, const Picture& picture);

// The same picture when width and height do not change.
Picture Resize(const Picture& picture, int width, int height);

// f32 [1, 3, height, width], channel planes one after the other.
std::vector<float> ToPlanar(const Picture& picture, const Normalisation& norm);

#endif
