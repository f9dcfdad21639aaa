#include "test_support.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>

std::vector<char> ReadFileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("missing test file " + path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<char> ReadModel(const std::string& name) {
    return ReadFileBytes(std::string(TESSARINE_MODEL_DIR) + "/" + name + (name.find('.') == name.npos ? ".onnx" : ""));
}

ObjectPtr NewHostObject(const char* library) {
    static std::map<std::string, image_ai::ModuleLibrary> opened;
    return opened.try_emplace(library, library).first->second.NewObject();
}

std::vector<float> Image(uint32_t width, uint32_t height, float offset, uint32_t channels) {
    std::vector<float> image(size_t{channels} * width * height);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<float>(i % 97) * 0.25f - 3.0f + offset;
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
    const size_t plane = size_t{width} * height;
    std::vector<float> out;
    for (size_t c = 0; c < 84; ++c)
        for (size_t s : {8, 16, 32})
            for (size_t y = 0; y < (height + s - 1) / s; ++y)
                for (size_t x = 0; x < (width + s - 1) / s; ++x) {
                    const float* pixel = &image[y * s * width + x * s];
                    out.push_back((c + 1) / 100.f * (pixel[0] - 2 * pixel[plane] + 3 * pixel[2 * plane]) + c / 100.f);
                }
    return out;
}

StdoutCapture::StdoutCapture() {
    std::fflush(stdout);
    std::FILE* file = std::tmpfile();
    if (!file) throw std::runtime_error("tmpfile failed");
    capture_fd_ = dup(fileno(file));
    std::fclose(file);
    saved_fd_ = dup(STDOUT_FILENO);
    dup2(capture_fd_, STDOUT_FILENO);
}

std::string StdoutCapture::Text() {
    if (saved_fd_ < 0) return text_;
    std::fflush(stdout);
    dup2(saved_fd_, STDOUT_FILENO);
    close(saved_fd_);
    saved_fd_ = -1;
    lseek(capture_fd_, 0, SEEK_SET);
    char buffer[4096];
    for (ssize_t n; (n = read(capture_fd_, buffer, sizeof buffer)) > 0;) text_.append(buffer, static_cast<size_t>(n));
    close(capture_fd_);
    return text_;
}

namespace {
TraceRecorder* recording = nullptr;  // the innermost
}  // namespace

TraceRecorder::TraceRecorder() : outer_(recording) {
    recording = this;
    SetTraceObserver([](const std::string& text) {
        for (TraceRecorder* recorder = recording; recorder; recorder = recorder->outer_)
            recorder->texts.push_back(text);
    });
}

TraceRecorder::~TraceRecorder() {
    recording = outer_;
    if (!recording) SetTraceObserver(nullptr);
}

size_t Outcome::Traced(const std::string& prefix) const {
    return std::count_if(traces.begin(), traces.end(),
                         [&](const std::string& text) { return text.rfind(prefix, 0) == 0; });
}

// Plugins named in a core's plugin file are registered before the runtime's
// own. The file is this process's own, gone once the core has read it.
std::shared_ptr<ov::Core> CoreWithNpuDouble(bool gpu_double_too) {
    static std::atomic<int> made{0};
    const std::string path =
        "/tmp/tessarine-plugins-" + std::to_string(getpid()) + "-" + std::to_string(made++) + ".xml";
    std::ofstream(path) << "<ie><plugins><plugin name=\"NPU\" location=\"" TESSARINE_NPU_DOUBLE_FILE "\"/>"
                        << (gpu_double_too ? "<plugin name=\"GPU\" location=\"" TESSARINE_GPU_DOUBLE_FILE "\"/>" : "")
                        << "</plugins></ie>";
    auto core = std::make_shared<ov::Core>(path);
    std::remove(path.c_str());
    return core;
}
