// The map and detect forms of the isolated object: the image is copied into
// the shared memory, the worker's module runs on it there, and the result is
// copied out into the host's buffer once the call has succeeded. What the
// module would refuse before reading (a null buffer or out-pointer, a size
// that does not fit in 64 bits) is not copied; the worker refuses it.
#include <cstring>

#include "isolated/console_lines.h"
#include "isolated/isolated_tessarine.h"
#include "isolated/tensor_bytes.h"

namespace {

// Where the call's two tensors lie in the shared memory.
struct ImageLayout {
    bool copied = false;
    uint64_t input_bytes = 0, output_offset = 0, output_bytes = 0;
};

ImageLayout LayOut(bool buffers, uint32_t width, uint32_t height, uint64_t output_channels,
                   uint64_t output_height, uint64_t output_width) {
    ImageLayout layout;
    const std::optional<uint64_t> input = TensorBytes({1, 3, height, width}, sizeof(float));
    const std::optional<uint64_t> output = TensorBytes(
        {1, static_cast<int64_t>(output_channels), static_cast<int64_t>(output_height),
         static_cast<int64_t>(output_width)},
        sizeof(float));
    // A channel count past int64 reads as negative here, and the module's
    // own shape check refuses its byte count anyway.
    if (!buffers || !input || !output) return layout;
    layout = {true, *input, wire::Aligned(*input), *output};
    return layout;
}

// Grows the shared memory to hold the output behind the image, and copies
// the image in; false, with the text, when the memory cannot grow.
bool CopyImageIn(WorkerLink& link, const ImageLayout& layout, const void* image, std::string& failure) {
    if (!layout.copied) return true;
    unsigned char* memory = link.Memory(layout.output_offset + layout.output_bytes, failure);
    if (!memory) return false;
    std::memcpy(memory, image, layout.input_bytes);
    return true;
}

}  // namespace

bool IsolatedTessarine::DoInference(uint32_t width, uint32_t height, void* input_data, const void* output_desc,
                                    uint32_t output_width, uint32_t output_height, void* output_data) {
    uint64_t channels = 3;
    if (output_desc)
        std::memcpy(&channels, static_cast<const unsigned char*>(output_desc) + image_ai::kOutputDescriptorChannelsAt,
                    sizeof channels);
    const ImageLayout layout =
        LayOut(input_data && output_data, width, height, channels, output_height, output_width);
    if (std::string failure; !CopyImageIn(link_, layout, input_data, failure)) return Fail(kInferenceFailureLine, failure);
    wire::Writer request;
    for (uint32_t value : {width, height, output_width, output_height}) request.Put(value);
    for (bool null : {input_data == nullptr, output_data == nullptr, output_desc == nullptr})
        request.Put<uint8_t>(null);
    request.Put(channels);
    request.Put(layout.output_offset);
    return Exchange(wire::Kind::kMap, request.bytes, kInferenceFailureLine, [&](wire::Reader&) {
        if (layout.copied) std::memcpy(output_data, link_.MemoryData() + layout.output_offset, layout.output_bytes);
        return std::string();
    });
}

bool IsolatedTessarine::DoInference(uint32_t width, uint32_t height, void* input_data, void* output_data,
                                    uint64_t* output_count, uint64_t* output_dim2, uint64_t* output_dim1) {
    const bool pointers = input_data && output_data && output_count && output_dim2 && output_dim1;
    const ImageLayout layout = LayOut(pointers, width, height, image_ai::kDetectionRows,
                                      image_ai::DetectionCells(width, height), 1);
    if (std::string failure; !CopyImageIn(link_, layout, input_data, failure)) return Fail(kInferenceFailureLine, failure);
    wire::Writer request;
    request.Put(width);
    request.Put(height);
    for (const void* pointer : {input_data, output_data, static_cast<void*>(output_count),
                                static_cast<void*>(output_dim2), static_cast<void*>(output_dim1)})
        request.Put<uint8_t>(pointer == nullptr);
    request.Put(layout.output_offset);
    return Exchange(wire::Kind::kDetect, request.bytes, kInferenceFailureLine, [&](wire::Reader& reply) {
        const uint64_t count = reply.Get<uint64_t>(), dim2 = reply.Get<uint64_t>(), dim1 = reply.Get<uint64_t>();
        if (!layout.copied) throw wire::Broken("a detect result for a call it had to refuse");
        if (count * sizeof(float) > layout.output_bytes) throw wire::Broken("a detect result larger than the head");
        std::memcpy(output_data, link_.MemoryData() + layout.output_offset, layout.output_bytes);
        *output_count = count;
        *output_dim2 = dim2;
        *output_dim1 = dim1;
        return std::string();
    });
}
