#!/usr/bin/env python3
"""Writes every model the tests and the fuzz targets load. Usage: make_test_models.py OUTPUT_DIR

The plain models have fixed, simple weights, so that every result can be
worked out by hand (each builder's docstring says how). The others are the
bytes of hazards: invalid ONNX graphs the runtime's reader crashes or loops
on (the shapes the load fuzzer found), and models that make the runtime open
files when they are read from memory.
"""
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

OPSETS = [helper.make_opsetid("", 17)]
node = helper.make_node


def tensor(name, dims, elem=TensorProto.FLOAT):
    return helper.make_tensor_value_info(name, elem, dims)


def f32(name, dims=(1, 4)):
    return tensor(name, list(dims))


def write(out_dir, name, data):
    with open(os.path.join(out_dir, name if "." in name else name + ".onnx"), "wb") as f:
        f.write(data)


def serialized(graph, producer="tessarine-tests", ir_version=8, opsets=OPSETS, checked=False, training_info=(),
               **model):
    made = helper.make_model(graph, opset_imports=opsets, **model)
    made.training_info.extend(training_info)
    if producer:
        made.producer_name = producer
    if ir_version is None:
        made.ClearField("ir_version")
    else:
        made.ir_version = ir_version
    if checked:
        onnx.checker.check_model(made)
    return made.SerializeToString()


def save(out_dir, name, nodes, inputs, outputs, initializers=(), checked=True, trailer=b"", graph_name=None,
         sparse_initializer=(), **model):
    """A model of one graph; checked=False for the invalid ones the checker would refuse."""
    graph = helper.make_graph(nodes, graph_name or name, inputs, outputs, list(initializers),
                              sparse_initializer=list(sparse_initializer))
    write(out_dir, name, serialized(graph, checked=checked, **model) + trailer)


def plain_models(out):
    """dynamic_conv: image [1,3,H,W] -> map [1,2,H,W], map0 = r+g+b, map1 = 2r - b + 0.5.
    static_head: pixels [1,3,224,224] -> scores [1,10], score k = (k+1) * mean(channel k % 3).
    two_inputs: a, b [1,4] -> sum = a + b, difference = a - b (which tells the inputs apart).
    any_batch: x [N,3,H,W] -> y = relu(x). rank6: x [1,2,3,4,5,6] -> y = -x.
    planar3d: image [3,H,W] -> y = relu(image). ragged_output: values [1,L] -> doubled = 2 * values.
    identity_image: image [1,C,H,W] -> copy = image, an output that is the input.
    wide_matmul: x [1,512] -> y = x @ I; its 1 MiB of weights makes a leak per load show.
    """
    w = numpy_helper.from_array(np.array([[1, 1, 1], [2, 0, -1]], np.float32).reshape(2, 3, 1, 1), "w")
    b = numpy_helper.from_array(np.array([0, 0.5], np.float32), "b")
    save(out, "dynamic_conv", [node("Conv", ["image", "w", "b"], ["map"])], [f32("image", [1, 3, "height", "width"])],
         [f32("map", [1, 2, "height", "width"])], [w, b])
    weights = np.zeros((3, 10), np.float32)
    for k in range(10):
        weights[k % 3, k] = k + 1
    save(out, "static_head", [node("ReduceMean", ["pixels"], ["means"], axes=[2, 3], keepdims=0),
                              node("MatMul", ["means", "weights"], ["scores"])],
         [f32("pixels", [1, 3, 224, 224])], [f32("scores", [1, 10])], [numpy_helper.from_array(weights, "weights")])
    save(out, "two_inputs", [node("Add", ["a", "b"], ["sum"]), node("Sub", ["a", "b"], ["difference"])],
         [f32("a"), f32("b")], [f32("sum"), f32("difference")])
    image = ["batch", 3, "height", "width"]
    save(out, "any_batch", [node("Relu", ["x"], ["y"])], [f32("x", image)], [f32("y", image)])
    save(out, "rank6", [node("Neg", ["x"], ["y"])], [f32("x", range(1, 7))], [f32("y", range(1, 7))])
    save(out, "planar3d", [node("Relu", ["image"], ["y"])], [f32("image", [3, "height", "width"])],
         [f32("y", [3, "height", "width"])])
    save(out, "ragged_output", [node("Mul", ["values", "two"], ["doubled"])], [f32("values", [1, "length"])],
         [f32("doubled", [1, "length"])], [numpy_helper.from_array(np.array(2, np.float32), "two")])
    image = [1, "channels", "height", "width"]
    save(out, "identity_image", [node("Identity", ["image"], ["copy"])], [f32("image", image)], [f32("copy", image)])
    save(out, "wide_matmul", [node("MatMul", ["x", "identity"], ["y"])], [f32("x", [1, 512])], [f32("y", [1, 512])],
         [numpy_helper.from_array(np.eye(512, dtype=np.float32), "identity")])


def detect_head(out):
    """images [1,3,H,W] -> output0 [1,84,N], N = cells of the stride 8, 16 and 32 grids.

    Three 1x1 convolutions sample the image at each grid cell's top-left pixel:
    row c of cell (y, x) at stride s is sum_k w[c,k] * image[k, y*s, x*s] + c/100,
    with w[c,k] = (c+1)/100 * (k+1) * (1, -1, 1)[k]. The grids follow each other
    along the last axis, stride 8 first, each row-major.
    """
    c = np.arange(84, dtype=np.float32)[:, None]
    k = np.arange(3, dtype=np.float32)[None, :]
    w = ((c + 1) / 100 * (k + 1) * np.array([1, -1, 1], np.float32)).astype(np.float32).reshape(84, 3, 1, 1)
    inits = [numpy_helper.from_array(w, "w"), numpy_helper.from_array(np.arange(84, dtype=np.float32) / 100, "b"),
             numpy_helper.from_array(np.array([1, 84, -1], np.int64), "flat")]
    nodes = []
    for s in (8, 16, 32):
        nodes += [node("Conv", ["images", "w", "b"], [f"grid{s}"], strides=[s, s]),
                  node("Reshape", [f"grid{s}", "flat"], [f"cells{s}"])]
    nodes.append(node("Concat", ["cells8", "cells16", "cells32"], ["output0"], axis=2))
    save(out, "detect_head", nodes, [f32("images", [1, 3, "height", "width"])], [f32("output0", [1, 84, "cells"])],
         inits)


def passing_through(out):
    """passthrough: x [1,4], n [2] (i64) -> y = x + 1, z = x, m = max(x) (one input), k = n; the runtime
    compiles z, m and k into outputs fed straight by an input.
    typed_*: x [2,3] -> y, not x for booleans, x + x otherwise; one model per element type.
    passthrough_outputs: x -> y = relu(x), x itself under its own name, and the constant c = 3.
    """
    i64 = lambda name: tensor(name, [2], TensorProto.INT64)
    save(out, "passthrough", [node("Add", ["x", "one"], ["y"]), node("Identity", ["x"], ["z"]),
                              node("Max", ["x"], ["m"]), node("Identity", ["n"], ["k"])],
         [f32("x"), i64("n")], [f32("y"), f32("z"), f32("m"), i64("k")],
         [numpy_helper.from_array(np.array(1, np.float32), "one")])
    types = {"bool": TensorProto.BOOL, "i8": TensorProto.INT8, "u8": TensorProto.UINT8, "i16": TensorProto.INT16,
             "u16": TensorProto.UINT16, "i32": TensorProto.INT32, "u32": TensorProto.UINT32,
             "i64": TensorProto.INT64, "u64": TensorProto.UINT64, "f16": TensorProto.FLOAT16,
             "f32": TensorProto.FLOAT, "f64": TensorProto.DOUBLE}
    for suffix, elem in types.items():
        op = node("Not", ["x"], ["y"]) if elem == TensorProto.BOOL else node("Add", ["x", "x"], ["y"])
        save(out, "typed_" + suffix, [op], [tensor("x", [2, 3], elem)], [tensor("y", [2, 3], elem)])
    save(out, "passthrough_outputs", [node("Relu", ["x"], ["y"])], [f32("x")], [f32("y"), f32("x"), f32("c")],
         [numpy_helper.from_array(np.full((1, 4), 3, np.float32), "c")], checked=False)


def if_node(then_node, output="y"):
    """An If on c whose then-branch is then_node (output t) and whose else-branch negates x."""
    branch = lambda nodes, result: helper.make_graph(nodes, "branch", [], [f32(result)])
    return node("If", ["c"], [output], then_branch=branch([then_node], then_node.output[0]),
                else_branch=branch([node("Neg", ["x"], ["e"])], "e"))


def ifs_nested(depth, innermost=None):
    """depth Ifs each in the then-branch of the next, innermost a Relu (or the node given, with output t),
    written field by field: protobuf's Python API refuses to build a message nested that deep."""
    def varint(n):
        out = b""
        while True:
            out += bytes([(n & 0x7F) | (0x80 if n > 0x7F else 0)])
            n >>= 7
            if not n:
                return out

    def field(number, payload):
        return varint(number << 3 | 2) + varint(len(payload)) + payload

    def node_bytes(op, inputs, output, *attributes):
        return (b"".join(field(1, name.encode()) for name in inputs) + field(2, output.encode()) +
                field(4, op.encode()) + b"".join(field(5, a) for a in attributes))

    def graph_attribute(name, nodes_bytes, output):
        graph = field(1, nodes_bytes) + field(2, b"branch") + field(12, field(1, output.encode()))
        return field(1, name.encode()) + field(6, graph) + varint(20 << 3) + varint(5)  # type GRAPH

    current = innermost or node_bytes("Relu", ["x"], "t")
    for _ in range(depth):
        current = node_bytes("If", ["c"], "t", graph_attribute("then_branch", current, "t"),
                             graph_attribute("else_branch", node_bytes("Neg", ["x"], "e"), "e"))
    graph = (field(1, current) + field(2, b"deep") + field(11, field(1, b"x")) + field(11, field(1, b"c")) +
             field(12, field(1, b"t")))
    return varint(1 << 3) + varint(8) + field(7, graph) + field(8, varint(2 << 3) + varint(17))


# Unknown fields that protobuf's C++ parser skips: a group (field 100, with a varint inside) and a fixed32
# under a five-byte tag whose field number only fits once the tag is cut to 32 bits.
UNKNOWN_FIELDS = bytes([0xA3, 0x06, 0x08, 0x01, 0xA4, 0x06]) + bytes([0xA5, 0xEC, 0xF5, 0xFE, 0x78, 1, 2, 3, 4])


def graph_hazards(out):
    """Graphs out of topological order with an output no node produces (the reader dereferences null) or
    with a cycle (it allocates until memory runs out); nodes short of inputs or without outputs, whose
    translators read past the inputs, at the top and in If branches. The rest are graphs the module
    must leave to the runtime: sortable, in order, valid branches, nesting deeper than protobuf reads."""
    unchecked = lambda name, nodes, inputs, outputs, *rest, **kw: save(out, name, nodes, inputs, outputs, *rest,
                                                                       checked=False, **kw)
    three = [numpy_helper.from_array(np.full((1, 4), 3, np.float32), "c")]
    by_nothing = ([node("Relu", ["q"], ["y"]), node("Relu", ["x"], ["w"])], [f32("x")], [f32("w"), f32("z")])
    unchecked("unsortable_output_produced_by_nothing", *by_nothing)
    unchecked("unsortable_without_ir_version", *by_nothing, ir_version=None)
    unchecked("unsortable_after_unknown_fields", *by_nothing, trailer=UNKNOWN_FIELDS)
    unchecked("unsortable_output_is_an_initializer", [node("Relu", ["y0"], ["y"]), node("Relu", ["x"], ["y0"])],
              [f32("x")], [f32("c")], three)
    unchecked("unsortable_cycle", [node("Relu", ["b"], ["a"]), node("Relu", ["a"], ["b"])], [f32("x")], [f32("a")])
    unchecked("ordered_output_produced_by_nothing", [node("Relu", ["x"], ["y"])], [f32("x")], [f32("y"), f32("z")])
    unchecked("unordered_nodes", [node("Relu", ["y0"], ["y"]), node("Neg", ["x"], ["y0"])], [f32("x")], [f32("y")])
    image = lambda channels: f32("image", [1, channels, 4, 4])
    unchecked("conv_without_weights", [node("Conv", ["image"], ["map"])], [image(3)], [f32("map", [1, 2, 4, 4])])
    unchecked("clip_of_an_unnamed_input", [node("Clip", [""], ["y"])], [f32("x")], [f32("y")])
    unchecked("conv_without_outputs", [node("Conv", ["image", "w", "b"], []), node("Relu", ["x"], ["y"])],
              [image(1), f32("x")], [f32("y")], [numpy_helper.from_array(np.ones((1, 1, 1, 1), np.float32), "w"),
                                                 numpy_helper.from_array(np.ones(1, np.float32), "b")])
    condition = tensor("c", [], TensorProto.BOOL)
    unchecked("conv_without_weights_in_a_branch", [if_node(node("Conv", ["image"], ["t"]))], [image(3), condition],
              [f32("y")])
    unchecked("clip_in_a_nested_branch", [if_node(if_node(node("Clip", [""], ["t"]), output="t"))],
              [f32("x"), condition], [f32("y")])
    unchecked("clip_of_its_ifs_condition", [if_node(node("Clip", ["c"], ["t"]))], [f32("x"), condition], [f32("y")])
    unchecked("if_of_two_branches", [if_node(node("Relu", ["x"], ["t"]))], [f32("x"), condition], [f32("y")])
    write(out, "ifs_nested_too_deep", ifs_nested(150))


SECRET_FILE, SECRET_LENGTH = "tessarine_secret.bin", 16

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


def files_named(out):
    """external_data_*: y = x + a u8 [16] tensor whose data are the first bytes of SECRET_FILE, beside the
    model file, which the runtime looks for in the current directory for a model from memory; the tensor
    sits in each place a tensor can be. ir_with_a_constant.xml and onnx_read_as_ir (an ONNX model whose
    producer name is an IR <net>) are read by the IR reader, which reads ".bin" in the current directory
    as their weights. no_inputs has a constant output and no input."""
    def external(name, location=TensorProto.EXTERNAL, entries=True):
        ref = TensorProto(name=name, data_type=TensorProto.UINT8, dims=[SECRET_LENGTH], data_location=location)
        for key, value in (("location", SECRET_FILE), ("length", str(SECRET_LENGTH))) if entries else ():
            ref.external_data.add(key=key, value=value)
        return ref

    u8 = lambda name: tensor(name, [SECRET_LENGTH], TensorProto.UINT8)
    add = node("Add", ["x", "w"], ["y"])
    constant = lambda output: node("Constant", [], [output], value=external("value"))
    indices = helper.make_tensor("indices", TensorProto.INT64, [SECRET_LENGTH], list(range(SECRET_LENGTH)))
    sparse = lambda name: helper.make_sparse_tensor(external(name), indices, [SECRET_LENGTH])
    cases = {"initializer": ([add], [external("w")], []), "constant": ([constant("w"), add], [], []),
             "sparse_constant": ([node("Constant", [], ["w"], sparse_value=sparse("v")), add], [], []),
             "sparse_initializer": ([add], [], [sparse("w")]),
             # Either half of a reference alone: the location without entries, the entries without the location.
             "location_only": ([add], [external("w", entries=False)], []),
             "entries_only": ([add], [external("w", location=TensorProto.DEFAULT)], [])}
    for case, (nodes, initializers, sparse_initializers) in cases.items():
        save(out, "external_data_" + case, nodes, [u8("x")], [u8("y")], initializers, checked=False, graph_name=case,
             sparse_initializer=sparse_initializers, producer=None)
    # In the innermost then-branch of 31 nested Ifs, the deepest protobuf reads.
    write(out, "external_data_31_ifs_deep", ifs_nested(31, constant("t").SerializeToString()))
    leak = helper.make_function("local", "Leak", ["a"], ["b"], [constant("w"), node("Add", ["a", "w"], ["b"])],
                                OPSETS)
    save(out, "external_data_in_a_function", [node("Leak", ["x"], ["y"], domain="local")], [u8("x")], [u8("y")],
         checked=False, graph_name="function", producer=None, opsets=OPSETS + [helper.make_opsetid("local", 1)],
         functions=[leak])
    training = onnx.TrainingInfoProto(initialization=helper.make_graph([node("Identity", ["w"], ["z"])], "init", [],
                                                                       [u8("z")], [external("w")]))
    save(out, "external_data_in_training", [node("Relu", ["x"], ["y"])], [f32("x")], [f32("y")], checked=False,
         graph_name="training", producer=None, training_info=[training])
    write(out, "ir_with_a_constant.xml", IR_WITH_A_CONSTANT.encode())
    save(out, "onnx_read_as_ir", [node("Relu", ["x"], ["y"])], [f32("x")], [f32("y")], checked=False, graph_name="relu",
         producer='<net version="11"><layers/></net>')
    save(out, "no_inputs", [node("Constant", [], ["y"], value=numpy_helper.from_array(np.full((1, 4), 3, np.float32)))],
         [], [f32("y")], checked=False, producer=None)


def main():
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    for build in (plain_models, detect_head, passing_through, graph_hazards, files_named):
        build(out_dir)


if __name__ == "__main__":
    main()
