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
// has fewer inputs than the operator needs, or no outputs; those nodes are
// refused too, inside subgraphs (the bodies of If, Loop and Scan) as well.
//
// The walk that collects the graph refuses tensors with external data on the
// way (onnx_graph_walk.cpp).
#include "model_checks/onnx_graph_check.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "model_checks/onnx_graph_walk.h"

namespace {

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

// The Clip translator (opset 11 on) stands the element type's lowest or
// highest value in for a missing bound; for a type it has none for, the
// value is null and building the node crashes. Inside an If's branches the
// reader gives the If's own condition no element type (found by the load
// fuzzer).
bool ClipsAConditionUnbounded(const NodeNames& node, uint64_t opset, const std::vector<std::string_view>& conditions) {
    if (node.op_type != "Clip" || opset < 11 || node.inputs.empty()) return false;
    const bool bounded = node.inputs.size() >= 3 && !node.inputs[1].empty() && !node.inputs[2].empty();
    return !bounded && std::find(conditions.begin(), conditions.end(), node.inputs.front()) != conditions.end();
}

// A node without any output is refused whatever its operator (the Conv
// translator with a bias crashes on one, found by the load fuzzer; no operator
// of the default domain allows it). The reader translates the subgraphs of a
// node of any domain, so they are looked into for every node. `conditions`
// are the conditions of the Ifs whose branches enclose the graph.
void RefuseNodesShortOfInputs(const GraphNames& graph, uint64_t opset, std::vector<std::string_view> conditions = {}) {
    for (const NodeNames& node : graph.nodes) {
        if (node.outputs.empty())
            throw std::invalid_argument("an ONNX " + std::string(node.op_type) + " node has no outputs.");
        const bool is_if = node.op_type == "If" && !node.inputs.empty();
        if (is_if) conditions.push_back(node.inputs.front());
        for (const GraphNames& subgraph : node.subgraphs) RefuseNodesShortOfInputs(subgraph, opset, conditions);
        if (is_if) conditions.pop_back();
        if (!node.domain.empty() && node.domain != "ai.onnx") continue;
        if (ClipsAConditionUnbounded(node, opset, conditions))
            throw std::invalid_argument("an ONNX Clip node without both bounds clips the condition of an If around it.");
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
    GraphNames graph;
    uint64_t opset = 0;
    if (!WalkOnnxModel(model_bytes, graph, opset)) return;
    // Without a readable import of the default set the reader still
    // translates the nodes; every need then applies.
    RefuseNodesShortOfInputs(graph, opset ? opset : UINT64_MAX);
    if (!InTopologicalOrder(graph)) RefuseWhatTheSortCannotTake(graph);
}
