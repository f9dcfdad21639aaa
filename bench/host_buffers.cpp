#include "host_buffers.h"

#include <cstring>

HostBuffers::HostBuffers(uint32_t width, uint32_t height, const std::vector<int64_t>& output_dims)
    : width(width), height(height), input(size_t{3} * width * height), output_dims(output_dims) {
    size_t count = 1;
    for (int64_t d : output_dims) count *= static_cast<size_t>(d);
    output.assign(count, 0.0f);
    // Values in [-1, 1) that differ from pixel to pixel, like a normalised image.
    uint32_t state = 12345;
    for (float& value : input) {
        state = state * 1664525u + 1013904223u;
        value = static_cast<float>(state >> 8) / 8388608.0f - 1.0f;
    }
    const uint64_t channels = output_dims.size() == 4 ? static_cast<uint64_t>(output_dims[1]) : 0;
    std::memcpy(descriptor.data() + 40, &channels, sizeof channels);
}

std::vector<TensorData> HostBuffers::NamedInputs(const std::string& name) {
    TensorData record;
    record.name = name;
    record.type = DATA_TYPE_FLOAT32;
    record.dims = {1, 3, height, width};
    record.data = input.data();
    return {record};
}

std::vector<TensorData> HostBuffers::NamedOutputs(const std::string& name) {
    TensorData record;
    record.name = name;
    record.type = DATA_TYPE_FLOAT32;
    record.dims = output_dims;
    record.data = output.data();
    return {record};
}

ov::Tensor HostBuffers::InputTensor() { return ov::Tensor(ov::element::f32, {1, 3, height, width}, input.data()); }

ov::Tensor HostBuffers::OutputTensor() {
    return ov::Tensor(ov::element::f32, ov::Shape(output_dims.begin(), output_dims.end()), output.data());
}
