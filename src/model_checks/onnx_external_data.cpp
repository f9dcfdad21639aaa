// An ONNX tensor may keep its data in a file, named by a `location` entry,
// relative to the folder of the model file. A model loaded from memory has no
// folder: OpenVINO 2024.5's ONNX reader then takes the location relative to
// the host process's current directory (with a leading "/" or "../" cut off,
// which still reaches any file when that directory is "/"), opens the file
// and makes its bytes the tensor's values, which the model can hand back as
// an output. So a model the host did not make could read any file the host
// can read; every tensor that refers to external data is refused instead.
#include "model_checks/onnx_external_data.h"

#include <stdexcept>
#include <string>

#include "model_checks/protobuf_wire.h"

namespace {

// Field numbers of onnx.proto.
constexpr uint32_t kTensorName = 8, kTensorExternalData = 13, kTensorDataLocation = 14;
constexpr uint32_t kSparseValues = 1, kSparseIndices = 2;

}  // namespace

bool ReadTensor(std::string_view tensor, std::string_view& name) {
    WireReader reader(tensor);
    name = {};
    bool external = false;
    for (WireField field; reader.Next(field);) {
        if (field.number == kTensorName && field.wire_type == 2) name = field.bytes;
        // The reader follows data_location alone (protobuf keeps the last
        // valid one it reads); any entry, or any location other than the
        // default 0 in any encoding, is taken as a reference here.
        if (field.number == kTensorExternalData) external = true;
        if (field.number == kTensorDataLocation && (field.wire_type != 0 || static_cast<uint32_t>(field.varint) != 0))
            external = true;
    }
    if (reader.failed) return false;
    if (external)
        throw std::invalid_argument("the ONNX tensor \"" + std::string(name) +
                                    "\" refers to external data; a model loaded from memory may not name files.");
    return true;
}

bool ReadSparseTensor(std::string_view sparse_tensor) {
    WireReader reader(sparse_tensor);
    std::string_view name;
    for (WireField field; reader.Next(field);)
        if (field.wire_type == 2 && (field.number == kSparseValues || field.number == kSparseIndices) &&
            !ReadTensor(field.bytes, name))
            return false;
    return !reader.failed;
}
