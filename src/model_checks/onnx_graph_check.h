#ifndef TESSARINE_ONNX_GRAPH_CHECK_H
#define TESSARINE_ONNX_GRAPH_CHECK_H

#include <string>

// Throws std::invalid_argument for ONNX bytes on which the runtime's ONNX
// reader would crash or exhaust memory (see the source for which); returns
// for everything else, ONNX or not, leaving it to the runtime.
void RefuseOnnxTheReaderCannotTake(const std::string& model_bytes);

#endif
