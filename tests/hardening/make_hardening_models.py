#!/usr/bin/env python3
"""Writes the models only the hardening tests load. Usage: make_hardening_models.py OUTPUT_DIR

wide_matmul: x [1,512] -> y = x @ I (so y == x). Its 1 MiB of weights is what
every load copies, reads and compiles, so a load that leaves any of those
behind grows resident memory by a mebibyte or more per cycle, far above the
allocator's noise.

conv_without_weights and clip_of_an_unnamed_input are nodes with fewer inputs
than their operators need, on which the runtime's ONNX reader crashes too, as
it does on conv_without_outputs (a Conv with a bias and no outputs); the
*_branch models hold such nodes inside If subgraphs.

The external_data_* models keep a tensor of 16 bytes in the file
tessarine_secret.bin, relative to the model's folder; read from memory, the
runtime looks for it in the current directory. ir_with_a_constant.xml and
onnx_read_as_ir.onnx are read by the runtime's IR reader, which reads ".bin"
in the current directory as their weights. no_inputs has a constant output.

The unsortable_* models are invalid ONNX of the shapes the load fuzzer found:
out of topological order, with an output that no node produces, or with a
cycle. The runtime's ONNX reader crashes on the first kind and allocates until
memory runs out on the second. The others are loadable or refused by the
runtime itself, and the module's check must leave them to it.
"""
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper


def wide_matmul(out_dir):
    identity = numpy_helper.from_array(np.eye(512, dtype=np.float32), "identity")
    graph = helper.make_graph([helper.make_node("MatMul", ["x", "identity"], ["y"])], "wide_matmul",
                              [helper.make_tensor_value_info("x", TensorProto.FLOAT, [1, 512])],
                              [helper.make_tensor_value_info("y", TensorProto.FLOAT, [1, 512])], [identity])
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 17)], producer_name="tessarine-tests")
    model.ir_version = 8
    onnx.checker.check_model(model)
    onnx.save(model, os.path.join(out_dir, "wide_matmul.onnx"))


OPSETS = [helper.make_opsetid("", 17)]


def save_model(out_dir, name, model):
    if not isinstance(model, bytes):
        model.ir_version = 8
        model = model.SerializeToString()
    with open(os.path.join(out_dir, name + ".onnx"), "wb") as f:
        f.write(model)


def f32(name):
    return helper.make_tensor_value_info(name, TensorProto.FLOAT, [1, 4])


# Unknown fields that protobuf's C++ parser skips: a group (field 100, with a
# varint inside) and a fixed32 under a five-byte tag whose field number only
# fits once the tag is cut to 32 bits.
UNKNOWN_FIELDS = bytes([0xA3, 0x06, 0x08, 0x01, 0xA4, 0x06]) + bytes([0xA5, 0xEC, 0xF5, 0xFE, 0x78, 1, 2, 3, 4])


def save_unchecked(out_dir, name, nodes, inputs, outputs, initializers=(), ir_version=8, trailer=b""):
    graph = helper.make_graph(nodes, name, inputs, outputs, list(initializers))
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 17)], producer_name="tessarine-tests")
    if ir_version is None:
        model.ClearField("ir_version")
    else:
        model.ir_version = ir_version
    with open(os.path.join(out_dir, name + ".onnx"), "wb") as f:
        f.write(model.SerializeToString() + trailer)


def condition():
    return helper.make_tensor_value_info("c", TensorProto.BOOL, [])


def if_node(then_node, output="y"):
    """An If on c whose then-branch is then_node (output t) and whose else-branch negates x."""
    branch = lambda nodes, out: helper.make_graph(nodes, "branch", [], [f32(out)])
    return helper.make_node("If", ["c"], [output], then_branch=branch([then_node], then_node.output[0]),
                            else_branch=branch([helper.make_node("Neg", ["x"], ["e"])], "e"))


def ifs_nested(depth, innermost=None):
    """depth Ifs each in the then-branch of the next, innermost a Relu (or the
    node given, with output t), written field by field: protobuf's Python API
    refuses to build a message nested that deep."""
    def varint(n):
        out = b""
        while True:
            out += bytes([(n & 0x7F) | (0x80 if n > 0x7F else 0)])
            n >>= 7
            if not n:
                return out

    def field(number, payload):
        return varint(number << 3 | 2) + varint(len(payload)) + payload

    def node(op, inputs, output, *attributes):
        return (b"".join(field(1, name.encode()) for name in inputs) + field(2, output.encode()) +
                field(4, op.encode()) + b"".join(field(5, a) for a in attributes))

    def graph_attribute(name, nodes_bytes, output):
        graph = field(1, nodes_bytes) + field(2, b"branch") + field(12, field(1, output.encode()))
        return field(1, name.encode()) + field(6, graph) + varint(20 << 3) + varint(5)  # type GRAPH

    current = innermost or node("Relu", ["x"], "t")
    for _ in range(depth):
        current = node("If", ["c"], "t", graph_attribute("then_branch", current, "t"),
                       graph_attribute("else_branch", node("Neg", ["x"], "e"), "e"))
    graph = (field(1, current) + field(2, b"deep") + field(11, field(1, b"x")) + field(11, field(1, b"c")) +
             field(12, field(1, b"t")))
    return varint(1 << 3) + varint(8) + field(7, graph) + field(8, varint(2 << 3) + varint(17))


def graph_orders(out_dir):
    relu = helper.make_node
    three = [numpy_helper.from_array(np.full((1, 4), 3, np.float32), "c")]
    # Relu reads q, which nothing defines; the output z is produced by nothing.
    save_unchecked(out_dir, "unsortable_output_produced_by_nothing",
                   [relu("Relu", ["q"], ["y"]), relu("Relu", ["x"], ["w"])], [f32("x")], [f32("w"), f32("z")])
    # The first node reads y0 before the second defines it; the output is the initializer c.
    save_unchecked(out_dir, "unsortable_output_is_an_initializer",
                   [relu("Relu", ["y0"], ["y"]), relu("Relu", ["x"], ["y0"])], [f32("x")], [f32("c")], three)
    # As the first, without an ir_version, which the reader does not need.
    save_unchecked(out_dir, "unsortable_without_ir_version",
                   [relu("Relu", ["q"], ["y"]), relu("Relu", ["x"], ["w"])], [f32("x")], [f32("w"), f32("z")],
                   ir_version=None)
    # As the first, followed by unknown fields the runtime's reader skips.
    save_unchecked(out_dir, "unsortable_after_unknown_fields",
                   [relu("Relu", ["q"], ["y"]), relu("Relu", ["x"], ["w"])], [f32("x")], [f32("w"), f32("z")],
                   trailer=UNKNOWN_FIELDS)
    # a and b feed each other.
    save_unchecked(out_dir, "unsortable_cycle", [relu("Relu", ["b"], ["a"]), relu("Relu", ["a"], ["b"])],
                   [f32("x")], [f32("a")])
    # In order, with an output produced by nothing: the runtime refuses it itself.
    save_unchecked(out_dir, "ordered_output_produced_by_nothing", [relu("Relu", ["x"], ["y"])], [f32("x")],
                   [f32("y"), f32("z")])
    # Out of order with every output a node's: the runtime sorts it and loads it.
    save_unchecked(out_dir, "unordered_nodes", [relu("Relu", ["y0"], ["y"]), relu("Neg", ["x"], ["y0"])],
                   [f32("x")], [f32("y")])
    # Operators whose translators read past the inputs a node has.
    save_unchecked(out_dir, "conv_without_weights", [relu("Conv", ["image"], ["map"])],
                   [helper.make_tensor_value_info("image", TensorProto.FLOAT, [1, 3, 4, 4])],
                   [helper.make_tensor_value_info("map", TensorProto.FLOAT, [1, 2, 4, 4])])
    save_unchecked(out_dir, "clip_of_an_unnamed_input", [relu("Clip", [""], ["y"])], [f32("x")], [f32("y")])
    weights = [numpy_helper.from_array(np.ones((1, 1, 1, 1), np.float32), "w"),
               numpy_helper.from_array(np.ones(1, np.float32), "b")]
    save_unchecked(out_dir, "conv_without_outputs", [relu("Conv", ["image", "w", "b"], []), relu("Relu", ["x"], ["y"])],
                   [helper.make_tensor_value_info("image", TensorProto.FLOAT, [1, 1, 4, 4]), f32("x")], [f32("y")],
                   weights)
    # The same inside subgraphs: a Conv without weights in an If's branch, a
    # Clip of an unnamed input in a branch of an If nested in another.
    save_unchecked(out_dir, "conv_without_weights_in_a_branch", [if_node(relu("Conv", ["image"], ["t"]))],
                   [helper.make_tensor_value_info("image", TensorProto.FLOAT, [1, 3, 4, 4]), condition()],
                   [f32("y")])
    inner = if_node(relu("Clip", [""], ["t"]), output="t")
    save_unchecked(out_dir, "clip_in_a_nested_branch", [if_node(inner)], [f32("x"), condition()], [f32("y")])
    # Valid branches load; so does a graph nested deeper than protobuf reads,
    # which the runtime refuses itself.
    save_unchecked(out_dir, "if_of_two_branches", [if_node(relu("Relu", ["x"], ["t"]))], [f32("x"), condition()],
                   [f32("y")])
    with open(os.path.join(out_dir, "ifs_nested_too_deep.onnx"), "wb") as f:
        f.write(ifs_nested(150))
    # In order; x passes straight through and c is a constant output.
    save_unchecked(out_dir, "passthrough_outputs", [relu("Relu", ["x"], ["y"])], [f32("x")],
                   [f32("y"), f32("x"), f32("c")], three)


SECRET_FILE, SECRET_LENGTH = "tessarine_secret.bin", 16


def external(name):
    """A u8 [16] tensor whose data is the first 16 bytes of SECRET_FILE."""
    tensor = TensorProto(name=name, data_type=TensorProto.UINT8, dims=[SECRET_LENGTH],
                         data_location=TensorProto.EXTERNAL)
    for key, value in (("location", SECRET_FILE), ("length", str(SECRET_LENGTH))):
        tensor.external_data.add(key=key, value=value)
    return tensor


def external_data(out_dir):
    """y = x + the secret, the secret held in each place a tensor can be."""
    u8 = lambda name: helper.make_tensor_value_info(name, TensorProto.UINT8, [SECRET_LENGTH])
    add = helper.make_node("Add", ["x", "w"], ["y"])
    constant = lambda output: helper.make_node("Constant", [], [output], value=external("value"))
    indices = helper.make_tensor("indices", TensorProto.INT64, [SECRET_LENGTH], list(range(SECRET_LENGTH)))
    sparse = lambda name: helper.make_sparse_tensor(external(name), indices, [SECRET_LENGTH])
    cases = {
        "initializer": dict(nodes=[add], initializer=[external("w")]),
        "constant": dict(nodes=[constant("w"), add]),
        "sparse_constant": dict(nodes=[helper.make_node("Constant", [], ["w"], sparse_value=sparse("v")), add]),
        "sparse_initializer": dict(nodes=[add], sparse_initializer=[sparse("w")]),
    }
    for case, parts in cases.items():
        graph = helper.make_graph(parts["nodes"], case, [u8("x")], [u8("y")], parts.get("initializer", []),
                                  sparse_initializer=parts.get("sparse_initializer", []))
        save_model(out_dir, "external_data_" + case, helper.make_model(graph, opset_imports=OPSETS))
    # A Constant in the innermost then-branch of 31 nested Ifs, the deepest
    # protobuf reads (a 32nd If puts the tensor's entries past its limit of 100).
    save_model(out_dir, "external_data_31_ifs_deep", ifs_nested(31, constant("t").SerializeToString()))
    leak = helper.make_function("local", "Leak", ["a"], ["b"],
                                [constant("w"), helper.make_node("Add", ["a", "w"], ["b"])], OPSETS)
    graph = helper.make_graph([helper.make_node("Leak", ["x"], ["y"], domain="local")], "function", [u8("x")],
                              [u8("y")])
    save_model(out_dir, "external_data_in_a_function",
               helper.make_model(graph, opset_imports=OPSETS + [helper.make_opsetid("local", 1)], functions=[leak]))
    model = helper.make_model(helper.make_graph([helper.make_node("Relu", ["x"], ["y"])], "training", [f32("x")],
                                                [f32("y")]), opset_imports=OPSETS)
    model.training_info.add().initialization.CopyFrom(
        helper.make_graph([helper.make_node("Identity", ["w"], ["z"])], "init", [], [u8("z")], [external("w")]))
    save_model(out_dir, "external_data_in_training", model)


IR_WITH_A_CONSTANT = """<?xml version="1.0"?>
<net name="constant" version="11">
<layers>
<layer id="0" name="x" type="Parameter" version="opset1"><data shape="16" element_type="u8"/>
<output><port id="0" precision="U8" names="x"><dim>16</dim></port></output></layer>
<layer id="1" name="w" type="Const" version="opset1"><data element_type="u8" shape="16" offset="0" size="16"/>
<output><port id="0" precision="U8"><dim>16</dim></port></output></layer>
<layer id="2" name="add" type="Add" version="opset1"><input><port id="0" precision="U8"><dim>16</dim></port>
<port id="1" precision="U8"><dim>16</dim></port></input><output><port id="2" precision="U8" names="y"><dim>16</dim>
</port></output></layer>
<layer id="3" name="out" type="Result" version="opset1"><input><port id="0" precision="U8"><dim>16</dim></port>
</input></layer>
</layers>
<edges><edge from-layer="0" from-port="0" to-layer="2" to-port="0"/><edge from-layer="1" from-port="0" to-layer="2"
to-port="1"/><edge from-layer="2" from-port="2" to-layer="3" to-port="0"/></edges>
</net>
"""


def readers_and_constants(out_dir):
    with open(os.path.join(out_dir, "ir_with_a_constant.xml"), "w") as f:
        f.write(IR_WITH_A_CONSTANT)
    # A valid ONNX model that the IR reader claims first, for the XML element
    # its producer name holds.
    graph = helper.make_graph([helper.make_node("Relu", ["x"], ["y"])], "relu", [f32("x")], [f32("y")])
    model = helper.make_model(graph, opset_imports=OPSETS, producer_name='<net version="11"><layers/></net>')
    save_model(out_dir, "onnx_read_as_ir", model)
    graph = helper.make_graph([helper.make_node("Constant", [], ["y"], value=numpy_helper.from_array(
        np.full((1, 4), 3, np.float32)))], "no_inputs", [], [f32("y")])
    save_model(out_dir, "no_inputs", helper.make_model(graph, opset_imports=OPSETS))


def main():
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    wide_matmul(out_dir)
    graph_orders(out_dir)
    external_data(out_dir)
    readers_and_constants(out_dir)


if __name__ == "__main__":
    main()
