// A host built apart from this project, against the installed package only:
// it opens the module the package names (or the module file given), runs dynamic_conv from memory on one
// pixel through the tensors form (std::string and std::vector cross the
// boundary, so a string-ABI mismatch breaks it), then prints every shared
// object the process has mapped, for its caller to check where each came from.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "image_ai_host.h"

int main(int argc, char** argv) try {
    if (argc != 2 && argc != 3) throw std::runtime_error("usage: bundle_host MODEL_FILE [MODULE_FILE]");
    const image_ai::ModuleLibrary library(argc == 3 ? argv[2] : TESSARINE_MODULE_FILE);
    const std::vector<char> model{std::istreambuf_iterator<char>(std::ifstream(argv[1], std::ios::binary).rdbuf()), {}};
    std::vector<float> pixel = {1, 2, 4}, map(2);  // map0 = r + g + b, map1 = 2r - b + 0.5
    std::vector<TensorData> inputs{{"", DATA_TYPE_FLOAT32, {1, 3, 1, 1}, pixel.data()}};
    std::vector<TensorData> outputs{{"", DATA_TYPE_FLOAT32, {1, 2, 1, 1}, map.data()}};
    image_ai::ObjectPtr object = library.NewObject();
    if (!object->LoadModel(model.data(), model.size(), -1, 3) || !object->DoInference(inputs, outputs) ||
        map != std::vector<float>{7, -1.5f})
        throw std::runtime_error("inference failed (" + object->GetLastErrorMessage() + ")");
    // Read while the object lives: the runtime may unload its plugins with it.
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
        if (line.find('/') != std::string::npos && line.find(".so") != std::string::npos)
            std::printf("mapped %s\n", line.c_str() + line.find('/'));
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
}
