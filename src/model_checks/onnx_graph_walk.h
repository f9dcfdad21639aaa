// One walk through ONNX bytes as protobuf reads them, for the module's look
// at a model before the runtime reads it (onnx_graph_check.cpp): it collects
// the names the checks need, and refuses tensors with external data on the
// way (onnx_external_data.cpp), wherever the reader may meet them.
#ifndef TESSARINE_ONNX_GRAPH_WALK_H
#define TESSARINE_ONNX_GRAPH_WALK_H

#include <cstdint>
#include <string_view>
#include <vector>

struct GraphNames;

struct NodeNames {
    std::string_view op_type, domain;
    std::vector<std::string_view> inputs, outputs;
    std::vector<GraphNames> subgraphs;
};

struct GraphNames {
    std::vector<std::string_view> inputs, outputs, initializers;
    std::vector<NodeNames> nodes;
};

// Collects the model's graph (views into model_bytes) and the highest version
// of the default operator set it imports (0 when none can be read). False
// for bytes that are not an ONNX model with a graph as protobuf reads them,
// which are the runtime's to refuse. Throws std::invalid_argument for a
// tensor with external data.
bool WalkOnnxModel(std::string_view model_bytes, GraphNames& graph, uint64_t& default_opset);

#endif
