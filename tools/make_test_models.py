#!/usr/bin/env python3
"""Writes the small ONNX models the tests and the shape tool load.

Weights are fixed and simple, so that every result can be worked out by hand:
see the docstring of each builder. Usage: make_test_models.py OUTPUT_DIR
"""
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

OPSET = 17
IR_VERSION = 8


def save(out_dir, name, nodes, inputs, outputs, initializers=()):
    graph = helper.make_graph(nodes, name, inputs, outputs, list(initializers))
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)], producer_name="tessarine-tests")
    model.ir_version = IR_VERSION
    onnx.checker.check_model(model)
    onnx.save(model, os.path.join(out_dir, name + ".onnx"))


def f32(name, dims):
    return helper.make_tensor_value_info(name, TensorProto.FLOAT, dims)


def dynamic_conv(out_dir):
    """image [1,3,H,W] -> map [1,2,H,W]: map0 = r+g+b, map1 = 2r - b + 0.5."""
    w = numpy_helper.from_array(np.array([[1, 1, 1], [2, 0, -1]], np.float32).reshape(2, 3, 1, 1), "w")
    b = numpy_helper.from_array(np.array([0, 0.5], np.float32), "b")
    save(out_dir, "dynamic_conv", [helper.make_node("Conv", ["image", "w", "b"], ["map"])],
         [f32("image", [1, 3, "height", "width"])], [f32("map", [1, 2, "height", "width"])], [w, b])


def static_head(out_dir):
    """pixels [1,3,224,224] -> scores [1,10]: score k = (k+1) * mean(channel k % 3)."""
    weights = np.zeros((3, 10), np.float32)
    for k in range(10):
        weights[k % 3, k] = k + 1
    save(out_dir, "static_head",
         [helper.make_node("ReduceMean", ["pixels"], ["means"], axes=[2, 3], keepdims=0),
          helper.make_node("MatMul", ["means", "weights"], ["scores"])],
         [f32("pixels", [1, 3, 224, 224])], [f32("scores", [1, 10])], [numpy_helper.from_array(weights, "weights")])


def two_inputs(out_dir):
    """a [1,4], b [1,4] -> sum = a + b, difference = a - b (which tells the inputs apart)."""
    save(out_dir, "two_inputs",
         [helper.make_node("Add", ["a", "b"], ["sum"]), helper.make_node("Sub", ["a", "b"], ["difference"])],
         [f32("a", [1, 4]), f32("b", [1, 4])], [f32("sum", [1, 4]), f32("difference", [1, 4])])


def any_batch(out_dir):
    """x [N,3,H,W] -> y = relu(x)."""
    save(out_dir, "any_batch", [helper.make_node("Relu", ["x"], ["y"])],
         [f32("x", ["batch", 3, "height", "width"])], [f32("y", ["batch", 3, "height", "width"])])


def rank6(out_dir):
    """x [1,2,3,4,5,6] -> y = -x."""
    dims = [1, 2, 3, 4, 5, 6]
    save(out_dir, "rank6", [helper.make_node("Neg", ["x"], ["y"])], [f32("x", dims)], [f32("y", dims)])


def planar3d(out_dir):
    """image [3,H,W] -> y = relu(image): an input of three dimensions."""
    save(out_dir, "planar3d", [helper.make_node("Relu", ["image"], ["y"])],
         [f32("image", [3, "height", "width"])], [f32("y", [3, "height", "width"])])


def ragged_output(out_dir):
    """values [1,L] -> doubled [1,L] = 2 * values: the output's length is the input's."""
    two = numpy_helper.from_array(np.array(2, np.float32), "two")
    save(out_dir, "ragged_output", [helper.make_node("Mul", ["values", "two"], ["doubled"])],
         [f32("values", [1, "length"])], [f32("doubled", [1, "length"])], [two])


def detect_head(out_dir):
    """images [1,3,H,W] -> output0 [1,84,N], N = cells of the stride 8, 16 and 32 grids.

    Three 1x1 convolutions sample the image at each grid cell's top-left pixel:
    row c of cell (y, x) at stride s is sum_k w[c,k] * image[k, y*s, x*s] + c/100,
    with w[c,k] = (c+1)/100 * (k+1) * (1, -1, 1)[k]. The grids follow each other
    along the last axis, stride 8 first, each row-major.
    """
    c = np.arange(84, dtype=np.float32)[:, None]
    k = np.arange(3, dtype=np.float32)[None, :]
    w = ((c + 1) / 100 * (k + 1) * np.array([1, -1, 1], np.float32)).astype(np.float32).reshape(84, 3, 1, 1)
    b = (np.arange(84, dtype=np.float32) / 100).astype(np.float32)
    inits = [numpy_helper.from_array(w, "w"), numpy_helper.from_array(b, "b"),
             numpy_helper.from_array(np.array([1, 84, -1], np.int64), "flat")]
    nodes, parts = [], []
    for s in (8, 16, 32):
        nodes.append(helper.make_node("Conv", ["images", "w", "b"], [f"grid{s}"], strides=[s, s]))
        nodes.append(helper.make_node("Reshape", [f"grid{s}", "flat"], [f"cells{s}"]))
        parts.append(f"cells{s}")
    nodes.append(helper.make_node("Concat", parts, ["output0"], axis=2))
    save(out_dir, "detect_head", nodes, [f32("images", [1, 3, "height", "width"])],
         [f32("output0", [1, 84, "cells"])], inits)


def passthrough(out_dir):
    """x [1,4], n [2] (i64) -> y = x + 1, z = x, m = max(x) (one input), k = n.

    The runtime compiles z, m and k into outputs fed straight by an input.
    """
    one = numpy_helper.from_array(np.array(1, np.float32), "one")
    save(out_dir, "passthrough",
         [helper.make_node("Add", ["x", "one"], ["y"]), helper.make_node("Identity", ["x"], ["z"]),
          helper.make_node("Max", ["x"], ["m"]), helper.make_node("Identity", ["n"], ["k"])],
         [f32("x", [1, 4]), helper.make_tensor_value_info("n", TensorProto.INT64, [2])],
         [f32("y", [1, 4]), f32("z", [1, 4]), f32("m", [1, 4]), helper.make_tensor_value_info("k", TensorProto.INT64, [2])],
         [one])


def identity_image(out_dir):
    """image [1,C,H,W] -> copy = image: the only output is the input."""
    dims = [1, "channels", "height", "width"]
    save(out_dir, "identity_image", [helper.make_node("Identity", ["image"], ["copy"])], [f32("image", dims)],
         [f32("copy", dims)])


PASSTHROUGH = {
    "bool": TensorProto.BOOL, "u8": TensorProto.UINT8, "i8": TensorProto.INT8, "i32": TensorProto.INT32,
    "i64": TensorProto.INT64, "f16": TensorProto.FLOAT16, "f32": TensorProto.FLOAT, "f64": TensorProto.DOUBLE,
}


def typed(out_dir):
    """x [2,3] -> y: not x for booleans, x + x otherwise; one model per element type."""
    for suffix, elem in PASSTHROUGH.items():
        op = helper.make_node("Not", ["x"], ["y"]) if elem == TensorProto.BOOL else helper.make_node(
            "Add", ["x", "x"], ["y"])
        save(out_dir, "typed_" + suffix, [op], [helper.make_tensor_value_info("x", elem, [2, 3])],
             [helper.make_tensor_value_info("y", elem, [2, 3])])


def main():
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    for build in (dynamic_conv, static_head, two_inputs, any_batch, rank6, planar3d, ragged_output, detect_head,
                  typed, passthrough, identity_image):
        build(out_dir)


if __name__ == "__main__":
    main()
