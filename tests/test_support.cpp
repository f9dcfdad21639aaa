#include "test_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

std::string ModelPath(const std::string& name) { return std::string(TESSARINE_MODEL_DIR) + "/" + name + ".onnx"; }

std::vector<char> ReadModel(const std::string& name) {
    std::ifstream file(ModelPath(name), std::ios::binary);
    if (!file) throw std::runtime_error("missing test model " + ModelPath(name));
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

ObjectPtr NewObject() { return ObjectPtr(InitModule(), ReleaseModule); }

Tessarine& AsTessarine(const ObjectPtr& object) { return *static_cast<Tessarine*>(object.get()); }

StdoutCapture::StdoutCapture() {
    std::fflush(stdout);
    std::FILE* file = std::tmpfile();
    if (!file) throw std::runtime_error("tmpfile failed");
    capture_fd_ = dup(fileno(file));
    std::fclose(file);
    saved_fd_ = dup(STDOUT_FILENO);
    dup2(capture_fd_, STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture() { Text(); }

std::string StdoutCapture::Text() {
    if (done_) return text_;
    done_ = true;
    std::fflush(stdout);
    dup2(saved_fd_, STDOUT_FILENO);
    close(saved_fd_);
    lseek(capture_fd_, 0, SEEK_SET);
    char buffer[4096];
    for (ssize_t n; (n = read(capture_fd_, buffer, sizeof buffer)) > 0;) text_.append(buffer, static_cast<size_t>(n));
    close(capture_fd_);
    return text_;
}

namespace {
std::vector<std::string> recorded_traces;
void RecordTrace(const std::string& text) { recorded_traces.push_back(text); }
}  // namespace

TraceRecorder::TraceRecorder() {
    recorded_traces.clear();
    SetTraceObserver(RecordTrace);
}

TraceRecorder::~TraceRecorder() { SetTraceObserver(nullptr); }

const std::vector<std::string>& TraceRecorder::Texts() const { return recorded_traces; }

bool TraceRecorder::Contains(const std::string& text) const { return Count(text) > 0; }

size_t TraceRecorder::Count(const std::string& text) const {
    return static_cast<size_t>(std::count(recorded_traces.begin(), recorded_traces.end(), text));
}

std::shared_ptr<ov::Core> CoreWithNpuDouble() {
    // Plugins named in this file are registered before the runtime's own, so
    // "NPU" here is the double, not the runtime's NPU plugin.
    char path[] = "/tmp/tessarine-plugins-XXXXXX.xml";
    const int fd = mkstemps(path, 4);
    if (fd < 0) throw std::runtime_error("mkstemps failed");
    const std::string xml = std::string("<ie><plugins><plugin name=\"NPU\" location=\"") + TESSARINE_NPU_DOUBLE_FILE +
                            "\"/></plugins></ie>";
    if (write(fd, xml.data(), xml.size()) != static_cast<ssize_t>(xml.size())) throw std::runtime_error("write failed");
    close(fd);
    auto core = std::make_shared<ov::Core>(path);
    unlink(path);
    return core;
}
