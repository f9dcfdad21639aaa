// model_shapes: loads a model file through the module, as the host
// application does, and prints the shapes of its inputs and outputs.
//
//   model_shapes MODEL [DEVICE_INDEX] [PRECISION_CODE] [MODULE_LIBRARY]
#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "image_ai_inference.h"

namespace {

using InitFn = IImageAIInference* (*)();
using ReleaseFn = void (*)(IImageAIInference*);

std::vector<char> ReadWhole(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot open " + path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string ShapeText(uint32_t rank, const int64_t (&dims)[5]) {
    std::string text = "[";
    for (uint32_t k = 0; k < rank && k < 5; ++k) text += (k ? ", " : "") + std::to_string(dims[k]);
    if (rank > 5) text += ", ...";
    return text + "] (" + std::to_string(rank) + " dims)";
}

// Indices past the last input or output report 0 dimensions.
template <class Query>
void PrintShapes(const char* label, Query query) {
    for (uint32_t index = 0;; ++index) {
        int64_t dims[5] = {};
        const uint32_t rank = query(index, dims);
        if (rank == 0) break;
        std::printf("%s %u: %s\n", label, index, ShapeText(rank, dims).c_str());
    }
}

int Run(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s MODEL [DEVICE_INDEX] [PRECISION_CODE] [MODULE_LIBRARY]\n", argv[0]);
        return 2;
    }
    const std::string model_path = argv[1];
    const int32_t device_index = argc > 2 ? std::stoi(argv[2]) : -1;
    const uint32_t precision_code = argc > 3 ? static_cast<uint32_t>(std::stoul(argv[3])) : 3;
    const std::string module_path = argc > 4 ? argv[4] : TESSARINE_MODULE_FILE;

    void* library = dlopen(module_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) throw std::runtime_error(std::string("cannot load the module: ") + dlerror());
    auto init = reinterpret_cast<InitFn>(dlsym(library, "InitModule"));
    auto release = reinterpret_cast<ReleaseFn>(dlsym(library, "ReleaseModule"));
    if (!init || !release) throw std::runtime_error("the module does not export InitModule and ReleaseModule");

    const std::vector<char> model = ReadWhole(model_path);
    std::unique_ptr<IImageAIInference, ReleaseFn> object(init(), release);
    const auto start = std::chrono::steady_clock::now();
    const bool loaded = object->LoadModel(model.data(), model.size(), device_index, precision_code);
    const auto elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start);
    std::printf("\n");  // the module's console lines carry no newline
    if (!loaded) {
        std::fprintf(stderr, "LoadModel failed: %s\n", object->GetLastErrorMessage().c_str());
        return 1;
    }
    std::printf("%s: loaded on device %d in %.1f ms\n", model_path.c_str(), device_index, elapsed.count());
    PrintShapes("input", [&](uint32_t i, int64_t(&d)[5]) { return object->GetInputShape(i, &d[0], &d[1], &d[2], &d[3], &d[4]); });
    PrintShapes("output", [&](uint32_t i, int64_t(&d)[5]) { return object->GetOutputShape(i, &d[0], &d[1], &d[2], &d[3], &d[4]); });
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "model_shapes: %s\n", e.what());
        return 1;
    }
}
