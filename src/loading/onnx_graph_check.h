#ifndef TESSARINE_ONNX_GRAPH_CHECK_H
#define TESSARINE_ONNX_GRAPH_CHECK_H

#include <string>

// Throws std::invalid_argument for ONNX bytes that would crash or exhaust the
// runtime's ONNX reader (see the source); returns for everything else, ONNX
// or not, leaving it to the runtime.
void RefuseOnnxGraphsTheReaderCannotSort(const std::string& model_bytes);

#endif
