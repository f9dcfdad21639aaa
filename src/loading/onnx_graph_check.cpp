// The one look the module takes at model bytes before the runtime reads them.
//
// OpenVINO 2024.5's ONNX reader first puts the graph's nodes in topological
// order, unless they already are (every node input a graph input, output or
// initializer, or an earlier node's output). Its sort starts from the node
// producing each graph output: for an output that no node produces (one
// produced by nothing, or a graph input or initializer) it dereferences a null
// pointer, and nodes that feed each other in a cycle make it push them
// forever, until memory runs out. Either takes the host process down.
// Graphs already in order never reach the sort, so they are left alone, as
// is anything that is not ONNX; the rest are refused here with a text.
//
// The same reader's translators of a few operators index a node's inputs
// without counting them, and read past the end (a crash again) when the node
// has fewer inputs than the operator needs; those nodes are refused too,
// inside subgraphs (the bodies of If, Loop and Scan) as well.
#include "loading/onnx_graph_check.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "loading/protobuf_wire.h"

namespace {

// Field numbers of onnx.proto.
constexpr uint32_t kModelGraph = 7, kModelOpsetImport = 8, kOpsetDomain = 1, kOpsetVersion = 2;
constexpr uint32_t kGraphNode = 1, kGraphInitializer = 5, kGraphInput = 11, kGraphOutput = 12;
constexpr uint32_t kNodeInput = 1, kNodeOutput = 2, kNodeOpType = 4, kNodeAttribute = 5, kNodeDomain = 7;
constexpr uint32_t kAttributeGraph = 6, kAttributeGraphs = 11;
constexpr uint32_t kValueInfoName = 1, kTensorName = 8;

// The operators whose translators crash on too few inputs (found by trying
// each operator of the default domain with one input fewer than it needs),
// from the opset version where the need begins.
struct InputNeed {
    std::string_view op_type;
    uint64_t from_opset;
    size_t inputs;
    bool first_named;  // an empty first input name crashes it as well
};

constexpr InputNeed kInputNeeds[] = {
    {"Conv", 1, 2, false},      {"Pad", 1, 1, false},  {"Pad", 11, 2, false}, {"GlobalAveragePool", 1, 1, false},
    {"GlobalMaxPool", 1, 1, false}, {"LogSoftmax", 1, 1, false}, {"Max", 1, 1, false}, {"Mean", 1, 1, false},
    {"Min", 1, 1, false},       {"Sum", 1, 1, false},  {"Clip", 1, 1, true},
};

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

// Protobuf's own parser refuses messages nested deeper than 100, so the
// runtime would not read such a model: the look stops there as well, and the
// depth of the recursion stays bounded whatever the bytes.
constexpr int kMaxNesting = 100;

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

// The graphs an attribute carries (an If's branches, a Loop's body).
bool CollectSubgraphs(std::string_view attribute, NodeNames& node, int depth) {
    WireReader reader(attribute);
    for (WireField field; reader.Next(field);) {
        if (field.wire_type != 2 || (field.number != kAttributeGraph && field.number != kAttributeGraphs)) continue;
        node.subgraphs.emplace_back();
        if (!CollectGraph(field.bytes, node.subgraphs.back(), depth + 1)) return false;
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
        if (field.number == kNodeAttribute && !CollectSubgraphs(field.bytes, node, depth)) return false;
    }
    return !reader.failed;
}

// Repeated graph fields accumulate, as protobuf merges a graph field that
// appears more than once.
bool CollectGraph(std::string_view message, GraphNames& graph, int depth) {
    if (depth > kMaxNesting) return false;
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
                parsed = StringField(field.bytes, kTensorName, name);
                graph.initializers.push_back(name);
                break;
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

// The reader's own test, graph outputs counted as known as it counts them.
bool InTopologicalOrder(const GraphNames& graph) {
    std::unordered_set<std::string_view> known(graph.inputs.begin(), graph.inputs.end());
    known.insert(graph.outputs.begin(), graph.outputs.end());
    known.insert(graph.initializers.begin(), graph.initializers.end());
    for (const NodeNames& node : graph.nodes) {
        for (std::string_view input : node.inputs)
            if (!input.empty() && !known.count(input)) return false;
        known.insert(node.outputs.begin(), node.outputs.end());
    }
    return true;
}

[[noreturn]] void Refuse(const char* before, std::string_view name, const char* after) {
    throw std::invalid_argument("the ONNX graph is not in topological order and " + std::string(before) + "\"" +
                                std::string(name) + "\"" + after);
}

// Walks from each output's producer to the producers of its inputs, as the
// sort does, and refuses the first output without a producer or the first
// name on a cycle.
void RefuseWhatTheSortCannotTake(const GraphNames& graph) {
    std::unordered_map<std::string_view, size_t> producer;  // the first node producing each name
    for (size_t i = 0; i < graph.nodes.size(); ++i)
        for (std::string_view output : graph.nodes[i].outputs) producer.emplace(output, i);
    for (std::string_view output : graph.outputs)
        if (!producer.count(output)) Refuse("its output ", output, " is produced by no node.");

    enum class Mark { kNew, kOnPath, kDone };
    std::vector<Mark> marks(graph.nodes.size(), Mark::kNew);
    std::vector<std::pair<size_t, size_t>> path;  // node, index of its next input
    for (std::string_view output : graph.outputs) {
        const size_t root = producer.at(output);
        if (marks[root] != Mark::kNew) continue;
        marks[root] = Mark::kOnPath;
        path.emplace_back(root, 0);
        while (!path.empty()) {
            auto& [node, next] = path.back();
            if (next == graph.nodes[node].inputs.size()) {
                marks[node] = Mark::kDone;
                path.pop_back();
                continue;
            }
            const std::string_view input = graph.nodes[node].inputs[next++];
            const auto found = producer.find(input);
            if (found == producer.end() || marks[found->second] == Mark::kDone) continue;
            if (marks[found->second] == Mark::kOnPath) Refuse("its nodes form a cycle through ", input, ".");
            marks[found->second] = Mark::kOnPath;
            path.emplace_back(found->second, 0);
        }
    }
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

void RefuseNodesShortOfInputs(const GraphNames& graph, uint64_t opset) {
    for (const NodeNames& node : graph.nodes) {
        // The reader translates the graphs a node carries whatever the node's
        // own domain.
        for (const GraphNames& subgraph : node.subgraphs) RefuseNodesShortOfInputs(subgraph, opset);
        if (!node.domain.empty() && node.domain != "ai.onnx") continue;
        for (const InputNeed& need : kInputNeeds) {
            if (need.op_type != node.op_type || need.from_opset > opset) continue;
            if (node.inputs.size() < need.inputs)
                throw std::invalid_argument("an ONNX " + std::string(node.op_type) + " node has " +
                                            std::to_string(node.inputs.size()) + " input(s); the operator needs " +
                                            std::to_string(need.inputs) + ".");
            if (need.first_named && node.inputs.front().empty())
                throw std::invalid_argument("an ONNX " + std::string(node.op_type) +
                                            " node's first input has no name.");
        }
    }
}

}  // namespace

void RefuseOnnxTheReaderCannotTake(const std::string& model_bytes) {
    WireReader reader(model_bytes);
    GraphNames graph;
    bool has_graph = false;
    uint64_t opset = 0;
    for (WireField field; reader.Next(field);) {
        if (field.number == kModelOpsetImport && field.wire_type == 2) opset = std::max(opset, DefaultOpset(field.bytes));
        if (field.number != kModelGraph || field.wire_type != 2) continue;
        has_graph = true;
        if (!CollectGraph(field.bytes, graph, 1)) return;
    }
    if (reader.failed || !has_graph) return;
    // Without a readable import of the default set the reader still
    // translates the nodes; every need then applies.
    RefuseNodesShortOfInputs(graph, opset ? opset : UINT64_MAX);
    if (!InTopologicalOrder(graph)) RefuseWhatTheSortCannotTake(graph);
}
