#ifndef TESSARINE_RUN_OUTPUT_FILES_H
#define TESSARINE_RUN_OUTPUT_FILES_H

#include <string>
#include <vector>

// DIR/NAME, creating DIR when it is missing.
std::string OutputPath(const std::string& dir, const std::string& name);

// The file name without folder and extension.
std::string Stem(const std::string& path);

// "WxH", both positive.
struct Size {
    int width = 0;
    int height = 0;
};
Size ParseSize(const std::string& text, const char* option);

// An f32 tensor as .npy, when a path was asked for.
void SaveF32(const std::string& path, const std::vector<int64_t>& shape, const float* data);

#endif
