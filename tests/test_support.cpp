#include "test_support.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "npu_double/core_with_npu_double.h"

std::vector<char> ReadFileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("missing test file " + path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<char> ReadModel(const std::string& name) {
    return ReadFileBytes(std::string(TESSARINE_MODEL_DIR) + "/" + name + (name.find('.') == name.npos ? ".onnx" : ""));
}

ObjectPtr NewHostObject() {
    static const image_ai::ModuleLibrary library(TESSARINE_MODULE_FILE);
    return library.NewObject();
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

void ModuleTest::Load(const std::string& name, int32_t device, std::shared_ptr<ov::Core> core) {
    model_ = ReadModel(name);
    if (core) O().core = std::move(core);
    ASSERT_TRUE(object_->LoadModel(model_.data(), model_.size(), device, 3)) << object_->GetLastErrorMessage();
}

Outcome ModuleTest::Map(uint32_t width, uint32_t height, float offset) {
    std::vector<float> image = Image(width, height, offset), map(2 * width * height, NAN);
    const auto desc = Descriptor(2);
    const Outcome outcome =
        Run([&] { return object_->DoInference(width, height, image.data(), desc.data(), width, height, map.data()); });
    if (outcome.ok) EXPECT_EQ(map, DynamicConvMap(image));
    return outcome;
}

std::shared_ptr<ov::Core> CoreWithNpuDouble(bool gpu_double_too) {
    return CoreWithNpuDoubleAt(TESSARINE_NPU_DOUBLE_FILE, gpu_double_too ? TESSARINE_GPU_DOUBLE_FILE : "");
}

void RefuseNewGpuDoubles(bool refuse) {
    // The handle the core opened the library with; the library stays loaded.
    static void* const library = dlopen(TESSARINE_GPU_DOUBLE_FILE, RTLD_NOW | RTLD_LOCAL);
    if (!library) throw std::runtime_error(std::string("cannot open the GPU double: ") + dlerror());
    reinterpret_cast<void (*)(bool)>(dlsym(library, "tessarine_double_refuse"))(refuse);
}
