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
