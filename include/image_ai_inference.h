// Interface between a host image application and an inference module.
//
// The contract, whole:
// - The host loads the module library, finds InitModule and ReleaseModule by
//   their unmangled names, creates objects with InitModule and destroys them
//   only with ReleaseModule, so that memory is freed by the module that
//   allocated it (image_ai_host.h does this for a host).
// - The host binds the operations by their position in the virtual table, so
//   the declaration below is laid out to give the same slot order under the
//   Itanium C++ ABI (GCC, Clang on Linux and MinGW) and the Microsoft one
//   (MSVC, clang-cl); see IMAGE_AI_TENSORS_FORM_FIRST. DoInference has
//   three forms: map (slot 5), detect (slot 4) and tensors (slot 3).
// - std::string and std::vector cross this interface: host and module must be
//   built against the same standard library, with the same string ABI
//   (on Linux the same _GLIBCXX_USE_CXX11_ABI value as the OpenVINO runtime).
// - Ownership: the host owns the model buffer handed to LoadModel and must keep
//   it valid and unchanged while the object may load or rebuild (an inference
//   call may read it again to rebuild for a new input size). The host owns
//   every tensor buffer it passes in; the module wraps them, never copies them
//   (but for an output the model passes straight through from an input, whose
//   values are copied into the host's buffer after the run), and the module's
//   inference request keeps referring to the last buffers it was given after a
//   call returns (until a load, rebuild or release replaces the request). A
//   tensors call whose outputs go back to the runtime after a call into host
//   output buffers takes a fresh request, so the runtime never writes into
//   those earlier host buffers. So that no run touches a buffer the host freed
//   after an earlier call, a tensors call with several input records (or
//   several output records bound to host buffers) must name again every port
//   an earlier call gave a buffer to; it is refused before anything is bound
//   otherwise. Records are bound in order: of a port named twice, the later
//   buffer stands. A host that names every port in every call is never
//   refused for this. Output
//   pointers written back by the tensors form in its runtime-allocated mode
//   point into memory the object owns (for an output passed straight through
//   from an input: into that input's buffer); they stay valid until the object
//   runs, loads, releases or is destroyed again.
// - Records: input records, and output records bound to host buffers, whose
//   element count, or byte count with the element type, overflows 64 bits
//   are refused, as are images and outputs of the map and detect forms that
//   would.
// - Models: a model handed over in memory has no folder, so nothing it names
//   can be read beside it: LoadModel refuses ONNX models with tensors whose
//   data is external, and OpenVINO IR (whose reader would read ".bin" in the
//   process's current directory). No load opens a file the model chooses.
// - Errors: LoadModel and DoInference return false on failure, and a
//   one-line message has been printed on standard output. The text is then
//   available from GetLastErrorMessage, except after a load whose runtime
//   step yielded nothing, which reports on standard output only. DoInference
//   lets no exception out. LoadModel turns the runtime's exceptions and every
//   std::exception into false; an exception of any other type thrown inside
//   the runtime reaches the host. InitModule may throw std::bad_alloc. The
//   text is emptied by every successful DoInference, by ReleaseModel, and by
//   a load of another buffer, size or device (which releases first); a load
//   that repeats the current buffer, size and device keeps it.
// - Threads: one object serves one thread at a time. Distinct objects share
//   nothing and may be used from different threads at once.
#ifndef IMAGE_AI_INFERENCE_H
#define IMAGE_AI_INFERENCE_H

#include <cstdint>
#include <string>
#include <vector>

#if defined(_WIN32)
#if defined(IMAGE_AI_MODULE_BUILD)
#define IMAGE_AI_EXPORT __declspec(dllexport)
#else
#define IMAGE_AI_EXPORT __declspec(dllimport)
#endif
#else
#define IMAGE_AI_EXPORT __attribute__((visibility("default")))
#endif

// Element type codes of TensorData::type.
enum DataType : int32_t {
    DATA_TYPE_BOOL = 0,
    DATA_TYPE_INT8 = 1,
    DATA_TYPE_UINT8 = 2,
    DATA_TYPE_INT16 = 3,
    DATA_TYPE_UINT16 = 4,
    DATA_TYPE_INT32 = 5,
    DATA_TYPE_UINT32 = 6,
    DATA_TYPE_INT64 = 7,
    DATA_TYPE_UINT64 = 8,
    DATA_TYPE_FLOAT16 = 9,
    DATA_TYPE_FLOAT32 = 10,
    DATA_TYPE_FLOAT64 = 11,
};

// One named tensor of the tensors form. With MSVC's standard
// library on x64 the record is 88 bytes (fields at 0, 32, 40, 64, 72, 80);
// elsewhere the offsets after the name shift with sizeof(std::string).
struct TensorData {
    std::string name;           // tensor name; may be empty when the vector holds one record
    int32_t type = DATA_TYPE_FLOAT32;  // a DataType code
    std::vector<int64_t> dims;  // outermost first; a negative output dim lets the run decide
    void* data = nullptr;       // element buffer (host-owned, or the object's for runtime-allocated outputs)
    uint64_t size = 0;          // element count; written only for runtime-allocated outputs
    uint64_t reserved = 0;      // the host's own; the module never reads or writes it
};

namespace image_ai {

// The map form's output descriptor: a 64-byte block of the host's, of which
// the module reads one field, the output channel count, an unsigned 64-bit
// little-endian value at byte 40. A null descriptor means three channels.
const uint64_t kOutputDescriptorBytes = 64;
const uint64_t kOutputDescriptorChannelsAt = 40;

// The detect form's output, f32 [1, 84, N]: 84 rows (a box's centre x and y,
// width and height in input pixels, then 80 class scores) of N values, one
// per cell of three grids laid over the image at 8, 16 and 32 pixels, each
// rounded up (an empty side counts one cell). N is computed as a host
// computes it: in 32-bit arithmetic, width and height taken as signed.
const uint64_t kDetectionRows = 84;
inline uint64_t DetectionCells(uint32_t width, uint32_t height) {
    uint32_t cells = 0;
    int64_t w = static_cast<int32_t>(width), h = static_cast<int32_t>(height);
    for (int halvings = 1; halvings <= 5; ++halvings) {
        w = (w - 1) / 2 + 1;  // one halving, rounding up; 0 and 1 both give 1
        h = (h - 1) / 2 + 1;
        if (halvings >= 3) cells += static_cast<uint32_t>(w) * static_cast<uint32_t>(h);
    }
    return cells;
}

}  // namespace image_ai

// The Microsoft C++ ABI groups the overloads of one name at the first one's
// position and lays them out in reverse declaration order; the Itanium ABI
// keeps declaration order. The order follows the ABI, not the compiler:
// Clang targeting the Microsoft ABI (clang-cl, *-windows-msvc) lays them out
// as MSVC does. Compilers define _MSC_VER when, and only when, they target
// that ABI (Clang unless told -fno-ms-extensions); MinGW's do not.
#if defined(_MSC_VER)
#define IMAGE_AI_TENSORS_FORM_FIRST 0
#else
#define IMAGE_AI_TENSORS_FORM_FIRST 1
#endif

class IImageAIInference {
public:
    // Slot 0.
    virtual ~IImageAIInference() = default;

    // Slot 1. Compiles the model file in model_data for a device:
    // -1 CPU, 0 or more GPU, -2 NPU (MULTI), -3 NPU then GPU then CPU (MULTI).
    virtual bool LoadModel(const void* model_data, uint64_t model_size, int32_t device_index,
                           uint32_t precision_code) = 0;

    // Slot 2. Drops the model; the recorded shapes stay readable.
    virtual void ReleaseModel() = 0;

#if IMAGE_AI_TENSORS_FORM_FIRST
    // Slot 3, the tensors form: any model on named, typed tensors.
    virtual bool DoInference(const std::vector<TensorData>& inputs, std::vector<TensorData>& outputs) = 0;
    // Slot 4, the detect form: f32 [1, 3, height, width] in, f32
    // [1, image_ai::kDetectionRows, image_ai::DetectionCells(width, height)] out.
    virtual bool DoInference(uint32_t width, uint32_t height, void* input_data, void* output_data,
                             uint64_t* output_count, uint64_t* output_dim2, uint64_t* output_dim1) = 0;
    // Slot 5, the map form: f32 [1, 3, height, width] in, f32 [1, channels,
    // output_height, output_width] out, channels from the output descriptor.
    virtual bool DoInference(uint32_t width, uint32_t height, void* input_data, const void* output_desc,
                             uint32_t output_width, uint32_t output_height, void* output_data) = 0;
#else
    virtual bool DoInference(uint32_t width, uint32_t height, void* input_data, const void* output_desc,
                             uint32_t output_width, uint32_t output_height, void* output_data) = 0;
    virtual bool DoInference(uint32_t width, uint32_t height, void* input_data, void* output_data,
                             uint64_t* output_count, uint64_t* output_dim2, uint64_t* output_dim1) = 0;
    virtual bool DoInference(const std::vector<TensorData>& inputs, std::vector<TensorData>& outputs) = 0;
#endif

    // Slots 6 and 7. Store up to five dimensions through the non-null
    // out-arguments and return the full number of dimensions (-1 = dynamic).
    // An index beyond the recorded inputs or outputs returns 0.
    virtual uint32_t GetInputShape(uint32_t index, int64_t* dim0, int64_t* dim1, int64_t* dim2, int64_t* dim3,
                                   int64_t* dim4) = 0;
    virtual uint32_t GetOutputShape(uint32_t index, int64_t* dim0, int64_t* dim1, int64_t* dim2, int64_t* dim3,
                                    int64_t* dim4) = 0;

    // Slot 8. The text of the last failure (see "Errors" above for when it is emptied).
    virtual std::string GetLastErrorMessage() = 0;
};

extern "C" {
IMAGE_AI_EXPORT IImageAIInference* InitModule();
IMAGE_AI_EXPORT void ReleaseModule(IImageAIInference* object);
}

#endif
