#include "module_host.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

std::vector<char> ReadWhole(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot open the model file " + path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

template <class Query>
void CollectShapes(Query query, std::vector<std::vector<int64_t>>& shapes, std::vector<uint32_t>& ranks) {
    // The first index the module does not know reports rank 0.
    for (uint32_t index = 0;; ++index) {
        int64_t d[5] = {};
        const uint32_t rank = query(index, d);
        if (rank == 0) return;
        shapes.emplace_back(d, d + (rank < 5 ? rank : 5));
        ranks.push_back(rank);
    }
}

}  // namespace

std::string ShapeText(const std::vector<int64_t>& dims, uint32_t rank) {
    std::string text = "[";
    for (size_t k = 0; k < dims.size(); ++k) text += (k ? ", " : "") + std::to_string(dims[k]);
    if (rank > dims.size()) text += ", ...";
    return text + "]";
}

ModuleHost::ModuleHost(const std::string& library_path)
    : library_(library_path), object_(library_.NewObject()) {}

void ModuleHost::Load(const std::string& model_path, int32_t device_index, uint32_t precision_code) {
    model_ = ReadWhole(model_path);
    // Only the MULTI choices print on success (when they rebuild for a size).
    console_may_print_ = device_index == -2 || device_index == -3;
    const auto start = std::chrono::steady_clock::now();
    const bool loaded = object_->LoadModel(model_.data(), model_.size(), device_index, precision_code);
    const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
    Check(loaded, "LoadModel(" + model_path + ")");
    std::printf("model: %s\nloaded on device %d, precision code %u, in %.1f ms\n", model_path.c_str(), device_index,
                precision_code, elapsed.count());
    ReadShapes();
}

void ModuleHost::ReadShapes() {
    shapes_ = ModelShapes{};
    CollectShapes([&](uint32_t i, int64_t* d) { return object_->GetInputShape(i, d, d + 1, d + 2, d + 3, d + 4); },
                  shapes_.inputs, shapes_.input_ranks);
    CollectShapes([&](uint32_t i, int64_t* d) { return object_->GetOutputShape(i, d, d + 1, d + 2, d + 3, d + 4); },
                  shapes_.outputs, shapes_.output_ranks);
    for (size_t i = 0; i < shapes_.inputs.size(); ++i)
        std::printf("input %zu: %s\n", i, ShapeText(shapes_.inputs[i], shapes_.input_ranks[i]).c_str());
    for (size_t i = 0; i < shapes_.outputs.size(); ++i)
        std::printf("output %zu: %s\n", i, ShapeText(shapes_.outputs[i], shapes_.output_ranks[i]).c_str());
}

void ModuleHost::Check(bool succeeded, const std::string& call) {
    if (!succeeded || console_may_print_) {
        std::printf("\n");
        std::fflush(stdout);
    }
    if (!succeeded) throw std::runtime_error(call + " failed: " + object_->GetLastErrorMessage());
}
