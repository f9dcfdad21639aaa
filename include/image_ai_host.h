// What a host needs beside the interface, header-only: the map form's output
// descriptor, and a loader that opens the module library and finds its two
// exports by name, as the host application does.
#ifndef IMAGE_AI_HOST_H
#define IMAGE_AI_HOST_H

#include <array>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "image_ai_inference.h"

namespace image_ai {

using OutputDescriptor = std::array<unsigned char, kOutputDescriptorBytes>;

// A descriptor for `channels` output channels; every other byte is the host's.
inline OutputDescriptor DescriptorFor(uint64_t channels, unsigned char fill = 0) {
    OutputDescriptor descriptor;
    descriptor.fill(fill);
    std::memcpy(descriptor.data() + kOutputDescriptorChannelsAt, &channels, sizeof channels);
    return descriptor;
}

using ObjectPtr = std::unique_ptr<IImageAIInference, void (*)(IImageAIInference*)>;

// The module library, opened on construction and never closed: the objects
// it made, and the runtime's worker threads, must not outlive its code.
class ModuleLibrary {
public:
    // Throws std::runtime_error saying why the library cannot serve as a module.
    explicit ModuleLibrary(const std::string& path) {
#if defined(_WIN32)
        // The runtime's DLLs are looked for beside the module first; that
        // search needs the module's full path.
        char full_path[MAX_PATH];
        const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full_path, nullptr);
        HMODULE library = length > 0 && length < MAX_PATH
                              ? LoadLibraryExA(full_path, nullptr,
                                               LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)
                              : nullptr;
        if (!library)
            throw std::runtime_error("cannot load the inference module: " + path + ": error " +
                                     std::to_string(GetLastError()));
        init_ = reinterpret_cast<InitFn>(GetProcAddress(library, "InitModule"));
        release_ = reinterpret_cast<ReleaseFn>(GetProcAddress(library, "ReleaseModule"));
#else
        void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) throw std::runtime_error("cannot load the inference module: " + std::string(dlerror()));
        init_ = reinterpret_cast<InitFn>(dlsym(library, "InitModule"));
        release_ = reinterpret_cast<ReleaseFn>(dlsym(library, "ReleaseModule"));
#endif
        if (!init_ || !release_)
            throw std::runtime_error(path + " is not an inference module: it does not export InitModule and " +
                                     "ReleaseModule");
    }

    ObjectPtr NewObject() const {
        ObjectPtr object(init_(), release_);
        if (!object) throw std::runtime_error("InitModule returned no object");
        return object;
    }

    using InitFn = IImageAIInference* (*)();
    using ReleaseFn = void (*)(IImageAIInference*);

private:
    InitFn init_ = nullptr;
    ReleaseFn release_ = nullptr;
};

}  // namespace image_ai

#endif
