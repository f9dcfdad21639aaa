// External data is refused in initializers, sparse initializers and tensors
// in node attributes (Constant's value among them), in the graph, in every
// subgraph, in the model's local functions and in its training graphs.
#include "model_checks/onnx_graph_walk.h"

#include <algorithm>

#include "model_checks/onnx_external_data.h"
#include "model_checks/protobuf_wire.h"

namespace {

// Field numbers of onnx.proto.
constexpr uint32_t kModelGraph = 7, kModelOpsetImport = 8, kModelTrainingInfo = 20, kModelFunctions = 25;
constexpr uint32_t kOpsetDomain = 1, kOpsetVersion = 2, kTrainingInitialization = 1, kTrainingAlgorithm = 2;
constexpr uint32_t kFunctionNode = 7, kFunctionAttributeProto = 11;
constexpr uint32_t kGraphNode = 1, kGraphInitializer = 5, kGraphInput = 11, kGraphOutput = 12;
constexpr uint32_t kGraphSparseInitializer = 15;
constexpr uint32_t kNodeInput = 1, kNodeOutput = 2, kNodeOpType = 4, kNodeAttribute = 5, kNodeDomain = 7;
constexpr uint32_t kAttributeTensor = 5, kAttributeGraph = 6, kAttributeTensors = 10, kAttributeGraphs = 11;
constexpr uint32_t kAttributeSparseTensor = 22, kAttributeSparseTensors = 23;
constexpr uint32_t kValueInfoName = 1;

// Protobuf's own parser refuses messages nested deeper than
// kProtobufMaxNesting, so the runtime would not read such a model. The walk
// counts graphs and nodes but not the attributes between them, so it reaches
// deeper than protobuf reads before it stops (and leaves the model to the
// runtime); the depth of the recursion stays bounded whatever the bytes.

bool CollectGraph(std::string_view message, GraphNames& graph, int depth);

// The string field `number` of a message; empty when it is absent, as
// protobuf reads it.
bool StringField(std::string_view message, uint32_t number, std::string_view& value) {
    WireReader reader(message);
    value = {};
    for (WireField field; reader.Next(field);)
        if (field.number == number && field.wire_type == 2) value = field.bytes;  // the last one counts
    return !reader.failed;
}

// The graphs an attribute carries (an If's branches, a Loop's body); its
// tensors are only read.
bool CollectAttribute(std::string_view attribute, NodeNames& node, int depth) {
    WireReader reader(attribute);
    std::string_view name;
    for (WireField field; reader.Next(field);) {
        if (field.wire_type != 2) continue;
        bool parsed = true;
        if (field.number == kAttributeTensor || field.number == kAttributeTensors)
            parsed = ReadTensor(field.bytes, name);
        if (field.number == kAttributeSparseTensor || field.number == kAttributeSparseTensors)
            parsed = ReadSparseTensor(field.bytes);
        if (field.number == kAttributeGraph || field.number == kAttributeGraphs) {
            node.subgraphs.emplace_back();
            parsed = CollectGraph(field.bytes, node.subgraphs.back(), depth + 1);
        }
        if (!parsed) return false;
    }
    return !reader.failed;
}

bool CollectNode(std::string_view message, NodeNames& node, int depth) {
    WireReader reader(message);
    for (WireField field; reader.Next(field);) {
        if (field.wire_type != 2) continue;
        if (field.number == kNodeInput) node.inputs.push_back(field.bytes);
        if (field.number == kNodeOutput) node.outputs.push_back(field.bytes);
        if (field.number == kNodeOpType) node.op_type = field.bytes;
        if (field.number == kNodeDomain) node.domain = field.bytes;
        if (field.number == kNodeAttribute && !CollectAttribute(field.bytes, node, depth)) return false;
    }
    return !reader.failed;
}

// Repeated graph fields accumulate, as protobuf merges a graph field that
// appears more than once.
bool CollectGraph(std::string_view message, GraphNames& graph, int depth) {
    if (depth > kProtobufMaxNesting) return false;
    WireReader reader(message);
    for (WireField field; reader.Next(field);) {
        if (field.wire_type != 2) continue;
        std::string_view name;
        bool parsed = true;
        switch (field.number) {
            case kGraphNode:
                graph.nodes.emplace_back();
                parsed = CollectNode(field.bytes, graph.nodes.back(), depth + 1);
                break;
            case kGraphInitializer:
                parsed = ReadTensor(field.bytes, name);
                graph.initializers.push_back(name);
                break;
            case kGraphSparseInitializer: parsed = ReadSparseTensor(field.bytes); break;
            case kGraphInput:
                parsed = StringField(field.bytes, kValueInfoName, name);
                graph.inputs.push_back(name);
                break;
            case kGraphOutput:
                parsed = StringField(field.bytes, kValueInfoName, name);
                graph.outputs.push_back(name);
                break;
            default: break;
        }
        if (!parsed) return false;
    }
    return !reader.failed;
}

// A local function's nodes and default attributes, or a training graph: read
// only for their tensors, into names that are then dropped.
bool ReadFunctionOrTraining(std::string_view message, bool function) {
    WireReader reader(message);
    GraphNames dropped;
    NodeNames node;
    for (WireField field; reader.Next(field);) {
        if (field.wire_type != 2) continue;
        bool parsed = true;
        if (function && field.number == kFunctionNode) parsed = CollectNode(field.bytes, node, 2);
        if (function && field.number == kFunctionAttributeProto) parsed = CollectAttribute(field.bytes, node, 2);
        if (!function && (field.number == kTrainingInitialization || field.number == kTrainingAlgorithm))
            parsed = CollectGraph(field.bytes, dropped, 2);
        if (!parsed) return false;
    }
    return !reader.failed;
}

// The version of the default operator set the model imports; 0 when the
// import cannot be read.
uint64_t DefaultOpset(std::string_view import) {
    WireReader reader(import);
    std::string_view domain;
    uint64_t version = 0;
    for (WireField field; reader.Next(field);) {
        if (field.number == kOpsetDomain && field.wire_type == 2) domain = field.bytes;
        if (field.number == kOpsetVersion && field.wire_type == 0) version = field.varint;
    }
    return !reader.failed && (domain.empty() || domain == "ai.onnx") ? version : 0;
}

}  // namespace

bool WalkOnnxModel(std::string_view model_bytes, GraphNames& graph, uint64_t& default_opset) {
    WireReader reader(model_bytes);
    bool has_graph = false;
    default_opset = 0;
    for (WireField field; reader.Next(field);) {
        if (field.wire_type != 2) continue;
        if (field.number == kModelOpsetImport) default_opset = std::max(default_opset, DefaultOpset(field.bytes));
        if ((field.number == kModelFunctions || field.number == kModelTrainingInfo) &&
            !ReadFunctionOrTraining(field.bytes, field.number == kModelFunctions))
            return false;
        if (field.number != kModelGraph) continue;
        has_graph = true;
        if (!CollectGraph(field.bytes, graph, 1)) return false;
    }
    return !reader.failed && has_graph;
}
