// ONNX tensors that keep their data outside the model bytes.
#ifndef TESSARINE_ONNX_EXTERNAL_DATA_H
#define TESSARINE_ONNX_EXTERNAL_DATA_H

#include <string_view>

// Read a TensorProto's name into `name`; false when the bytes are not a
// message protobuf would read. Throws std::invalid_argument when the tensor
// refers to external data.
bool ReadTensor(std::string_view tensor, std::string_view& name);

// The same for both tensors of a SparseTensorProto.
bool ReadSparseTensor(std::string_view sparse_tensor);

#endif
