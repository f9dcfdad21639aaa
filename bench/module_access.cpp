#include "module_access.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "npu_double/core_with_npu_double.h"

ObjectPtr NewObject() { return ObjectPtr(InitModule(), ReleaseModule); }

void LoadOrThrow(IImageAIInference& object, const std::vector<char>& model, int32_t device_index) {
    if (!object.LoadModel(model.data(), model.size(), device_index, 3))
        throw std::runtime_error("LoadModel failed: " + object.GetLastErrorMessage());
}

ov::CompiledModel& CompiledModelOf(IImageAIInference& object) {
    return TessarineTestAccess::Compiled(static_cast<Tessarine&>(object));
}

std::vector<char> ReadFileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::shared_ptr<ov::Core> CoreWithNpuDouble() { return CoreWithNpuDoubleAt(TESSARINE_NPU_DOUBLE_FILE); }

ov::AnyMap CpuConfig() {
    return {ov::hint::execution_mode(ov::hint::ExecutionMode::PERFORMANCE),
            ov::hint::inference_precision(ov::element::f32),
            ov::hint::scheduling_core_type(ov::hint::SchedulingCoreType::ANY_CORE), ov::hint::enable_cpu_pinning(true)};
}

QuietStdout::QuietStdout() {
    std::fflush(stdout);
    saved_fd_ = dup(STDOUT_FILENO);
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, STDOUT_FILENO);
    close(null_fd);
}

QuietStdout::~QuietStdout() {
    std::fflush(stdout);
    dup2(saved_fd_, STDOUT_FILENO);
    close(saved_fd_);
}
