#include "host.h"

#include <dlfcn.h>
#include <malloc.h>

#include <cstring>
#include <fstream>
#include <stdexcept>

namespace {

using InitFn = IImageAIInference* (*)();
using ReleaseFn = void (*)(IImageAIInference*);

void* ProductionLibrary() {
    static void* const handle = dlopen(TESSARINE_MODULE_FILE, RTLD_NOW | RTLD_LOCAL);
    if (!handle) throw std::runtime_error(std::string("dlopen failed: ") + dlerror());
    return handle;
}

}  // namespace

ObjectPtr NewHostObject() {
    static const auto init = reinterpret_cast<InitFn>(dlsym(ProductionLibrary(), "InitModule"));
    static const auto release = reinterpret_cast<ReleaseFn>(dlsym(ProductionLibrary(), "ReleaseModule"));
    if (!init || !release) throw std::runtime_error("the library lacks InitModule or ReleaseModule");
    return ObjectPtr(init(), release);
}

long ResidentKiB() {
    malloc_trim(0);
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    throw std::runtime_error("no VmRSS in /proc/self/status");
}

TensorData Record(std::string name, std::vector<int64_t> dims, void* data, int32_t type) {
    TensorData record;
    record.name = std::move(name);
    record.type = type;
    record.dims = std::move(dims);
    record.data = data;
    return record;
}

std::array<unsigned char, 64> Descriptor(uint64_t channels) {
    std::array<unsigned char, 64> desc;
    desc.fill(0xA5);
    std::memcpy(desc.data() + 40, &channels, sizeof channels);
    return desc;
}

std::vector<float> Image(uint32_t width, uint32_t height, float offset) {
    std::vector<float> image(3 * size_t{width} * height);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<float>(i % 97) * 0.25f - 3.0f + offset;
    return image;
}

std::vector<float> DynamicConvMap(const std::vector<float>& image) {
    const size_t plane = image.size() / 3;
    std::vector<float> map(2 * plane);
    for (size_t p = 0; p < plane; ++p) {
        const float r = image[p], g = image[plane + p], b = image[2 * plane + p];
        map[p] = r + g + b;
        map[plane + p] = 2 * r - b + 0.5f;
    }
    return map;
}

std::vector<float> DetectHead(const std::vector<float>& image, uint32_t width, uint32_t height) {
    const float sign[3] = {1, -1, 1};
    std::vector<std::array<size_t, 3>> cells;  // stride, y, x in output order
    for (size_t s : {8, 16, 32})
        for (size_t y = 0; y < (height + s - 1) / s; ++y)
            for (size_t x = 0; x < (width + s - 1) / s; ++x) cells.push_back({s, y, x});
    std::vector<float> out(84 * cells.size());
    for (size_t c = 0; c < 84; ++c)
        for (size_t n = 0; n < cells.size(); ++n) {
            const auto [s, y, x] = cells[n];
            float value = static_cast<float>(c) / 100;
            for (size_t k = 0; k < 3; ++k)
                value += static_cast<float>(c + 1) / 100 * static_cast<float>(k + 1) * sign[k] *
                         image[(k * height + y * s) * width + x * s];
            out[c * cells.size() + n] = value;
        }
    return out;
}
