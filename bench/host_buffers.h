// What a host hands the module for one image: the planar input, the output
// buffer, the output descriptor and the named records over the same memory.
#ifndef TESSARINE_BENCH_HOST_BUFFERS_H
#define TESSARINE_BENCH_HOST_BUFFERS_H

#include <array>
#include <cstdint>
#include <vector>

#include "image_ai_inference.h"
#include <openvino/openvino.hpp>

struct HostBuffers {
    // Output of [1, channels, height, width] (a map) or [1, 84, N] (a head).
    HostBuffers(uint32_t width, uint32_t height, const std::vector<int64_t>& output_dims);

    uint32_t width;
    uint32_t height;
    std::vector<float> input;
    std::vector<float> output;
    std::vector<int64_t> output_dims;
    std::array<unsigned char, 64> descriptor{};  // the channel count at byte 40

    std::vector<TensorData> NamedInputs(const std::string& name);
    std::vector<TensorData> NamedOutputs(const std::string& name);
    ov::Tensor InputTensor();
    ov::Tensor OutputTensor();
};

#endif
