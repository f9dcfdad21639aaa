// The module as the host application sees it: a library opened by name at
// run time, InitModule and ReleaseModule looked up by name, one object, and a
// model file read whole into memory that stays with the object.
#ifndef TESSARINE_RUN_MODULE_HOST_H
#define TESSARINE_RUN_MODULE_HOST_H

#include <cstdint>
#include <string>
#include <vector>

#include "image_ai_host.h"

struct ModelShapes {
    std::vector<std::vector<int64_t>> inputs;  // -1 for a dynamic axis
    std::vector<std::vector<int64_t>> outputs;
    std::vector<uint32_t> input_ranks, output_ranks;  // may exceed the five dims reported
};

class ModuleHost {
public:
    explicit ModuleHost(const std::string& library_path);
    ModuleHost(const ModuleHost&) = delete;
    ModuleHost& operator=(const ModuleHost&) = delete;

    // Reads the file, loads it, prints the load time and the shapes.
    void Load(const std::string& model_path, int32_t device_index, uint32_t precision_code);

    IImageAIInference& Inference() { return *object_; }
    const ModelShapes& Shapes() const { return shapes_; }

    // After a call into the module: ends the line the module may have printed
    // without a newline, and on failure throws with the module's error text.
    void Check(bool succeeded, const std::string& call);

private:
    void ReadShapes();

    image_ai::ModuleLibrary library_;
    std::vector<char> model_;  // must outlive the object's use of it
    image_ai::ObjectPtr object_;
    ModelShapes shapes_;
    bool console_may_print_ = false;
};

std::string ShapeText(const std::vector<int64_t>& dims, uint32_t rank);

#endif
