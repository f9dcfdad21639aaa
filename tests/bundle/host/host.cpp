// A host built apart from this project, against the installed package only:
// it opens the module the package names, runs dynamic_conv from memory on one pixel
// through the named-tensor form (std::string and std::vector cross the
// boundary, so a string-ABI mismatch breaks it), then prints every shared
// object the process has mapped, for its caller to check where each came from.
#include <dlfcn.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "image_ai_inference.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s MODEL_FILE\n", argv[0]);
        return 2;
    }
    void* library = dlopen(TESSARINE_MODULE_FILE, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "cannot load the inference module: %s\n", dlerror());
        return 1;
    }
    auto init = reinterpret_cast<IImageAIInference* (*)()>(dlsym(library, "InitModule"));
    auto release = reinterpret_cast<void (*)(IImageAIInference*)>(dlsym(library, "ReleaseModule"));
    if (!init || !release) {
        std::fprintf(stderr, "%s does not export InitModule and ReleaseModule\n", TESSARINE_MODULE_FILE);
        return 1;
    }
    std::ifstream file(argv[1], std::ios::binary);
    const std::vector<char> model{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};

    // map0 = r + g + b, map1 = 2r - b + 0.5
    std::vector<float> pixel = {1, 2, 4}, map(2);
    std::vector<TensorData> inputs(1), outputs(1);
    inputs[0].dims = {1, 3, 1, 1};
    inputs[0].data = pixel.data();
    outputs[0].dims = {1, 2, 1, 1};
    outputs[0].data = map.data();
    IImageAIInference* object = init();
    const bool ran = object->LoadModel(model.data(), model.size(), -1, 3) && object->DoInference(inputs, outputs);
    const std::string error = object->GetLastErrorMessage();

    // Read while the object lives: the runtime may unload its plugins with it.
    std::set<std::string> mapped;
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        const size_t path = line.find('/');
        if (path != std::string::npos && line.find(".so", path) != std::string::npos) mapped.insert(line.substr(path));
    }
    release(object);
    if (!ran || map != std::vector<float>{7, -1.5f}) {
        std::fprintf(stderr, "\ninference failed (%s): map %g %g\n", error.c_str(), map[0], map[1]);
        return 1;
    }
    for (const std::string& path : mapped) std::printf("mapped %s\n", path.c_str());
    return 0;
}
