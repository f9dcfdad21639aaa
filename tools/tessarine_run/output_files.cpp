#include "output_files.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "npy.h"

std::string OutputPath(const std::string& dir, const std::string& name) {
    std::filesystem::create_directories(dir);
    return (std::filesystem::path(dir) / name).string();
}

std::string Stem(const std::string& path) { return std::filesystem::path(path).stem().string(); }

Size ParseSize(const std::string& text, const char* option) {
    Size size;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%dx%d%c", &size.width, &size.height, &tail) != 2 || size.width <= 0 ||
        size.height <= 0)
        throw std::invalid_argument(std::string(option) + " takes WIDTHxHEIGHT, for example 640x480, not " + text);
    return size;
}

void SaveF32(const std::string& path, const std::vector<int64_t>& shape, const float* data) {
    if (path.empty()) return;
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent);
    WriteNpy(path, KindByName("f32"), shape, data);
    std::printf("wrote %s\n", path.c_str());
}
