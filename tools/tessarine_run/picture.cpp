#include "picture.h"

#include <stb_image.h>
#include <stb_image_resize.h>
#include <stb_image_write.h>

#include <memory>
#include <stdexcept>

Picture::Picture(int width, int height, uint8_t fill)
    : width(width), height(height), rgb(static_cast<size_t>(width) * height * 3, fill) {}

Picture ReadPicture(const std::string& path) {
    int width = 0, height = 0, channels = 0;
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(stbi_load(path.c_str(), &width, &height, &channels, 3),
                                                     stbi_image_free);
    if (!pixels) throw std::runtime_error("cannot read the picture " + path + ": " + stbi_failure_reason());
    Picture picture(width, height);
    picture.rgb.assign(pixels.get(), pixels.get() + picture.rgb.size());
    return picture;
}

void WritePng(const std::string& path, const Picture& picture) {
    if (!stbi_write_png(path.c_str(), picture.width, picture.height, 3, picture.rgb.data(), picture.width * 3))
        throw std::runtime_error("cannot write " + path);
}

Picture Resize(const Picture& picture, int width, int height) {
    if (width == picture.width && height == picture.height) return picture;
    Picture resized(width, height);
    if (!stbir_resize_uint8(picture.rgb.data(), picture.width, picture.height, 0, resized.rgb.data(), width, height, 0,
                            3))
        throw std::runtime_error("cannot resize the picture to " + std::to_string(width) + "x" +
                                 std::to_string(height));
    return resized;
}

std::vector<float> ToPlanar(const Picture& picture, const Normalisation& norm) {
    const size_t plane = static_cast<size_t>(picture.width) * picture.height;
    std::vector<float> planar(plane * 3);
    for (int c = 0; c < 3; ++c) {
        const int source = norm.bgr ? 2 - c : c;
        float* out = planar.data() + plane * c;
        for (size_t i = 0; i < plane; ++i) out[i] = (picture.rgb[i * 3 + source] - norm.mean[c]) * norm.scale[c];
    }
    return planar;
}
