#include "model_checks/model_bytes.h"

#include "model_checks/ir_from_memory.h"
#include "model_checks/onnx_graph_check.h"

// ONNX first: its check also refuses external data, wherever a tensor sits.
void RefuseModelBytesTheRuntimeMustNotRead(const std::string& model_bytes) {
    RefuseOnnxTheReaderCannotTake(model_bytes);
    RefuseIrFromMemory(model_bytes);
}
