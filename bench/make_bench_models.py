#!/usr/bin/env python3
"""Writes the ONNX models the benchmark runs, with seeded random weights.

- tiny_map: image [1,3,H,W] -> map [1,2,H,W], one 1x1 convolution. So little
  work that the cost of a call is mostly the cost of getting to the runtime.
- tiny_head: image [1,3,H,W] -> [1,84,N], N the cells of the 8-, 16- and
  32-pixel grids: three strided 1x1 convolutions, the layout of a detection
  head without the network in front of it.
- detector: images [1,3,640,640] -> output0 [1,84,8400], a YOLO-like network
  of about 4.8 GFLOPs (strided 3x3 Conv-SiLU stages, one head per grid).
- dense_map: images [1,3,640,640] -> map [1,2,640,640], the same stem and
  stride-8 stage with a map head upsampled to the input size (2.4 GFLOPs).

The results mean nothing; only the amount and shape of the work matter.
Usage: make_bench_models.py OUTPUT_DIR
"""
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

SEED = 5_640_640
OPSET = 17
IR_VERSION = 8


class Graph:
    """Collects nodes and initializers; every weight comes from one generator."""

    def __init__(self, seed):
        self.rng = np.random.default_rng(seed)
        self.nodes = []
        self.initializers = []
        self.count = 0

    def name(self, kind):
        self.count += 1
        return f"{kind}_{self.count}"

    def const(self, array, kind="c"):
        name = self.name(kind)
        self.initializers.append(numpy_helper.from_array(np.asarray(array), name))
        return name

    def node(self, op, inputs, **attrs):
        out = self.name(op.lower())
        self.nodes.append(helper.make_node(op, inputs, [out], **attrs))
        return out

    def conv(self, x, c_in, c_out, k=3, stride=1):
        # He scaling keeps the activations in range through the stages.
        w = self.rng.standard_normal((c_out, c_in, k, k)) * np.sqrt(2.0 / (c_in * k * k))
        b = self.rng.uniform(-0.1, 0.1, c_out).astype(np.float32)
        return self.node("Conv", [x, self.const(w.astype(np.float32), "w"), self.const(b, "b")], kernel_shape=[k, k],
                         strides=[stride, stride], pads=[k // 2] * 4)

    def conv_silu(self, x, c_in, c_out, k=3, stride=1):
        y = self.conv(x, c_in, c_out, k, stride)
        return self.node("Mul", [y, self.node("Sigmoid", [y])])

    def to_cells(self, x):
        return self.node("Reshape", [x, self.const(np.array([1, 84, -1], np.int64), "shape")])

    def save(self, path, inputs, outputs):
        graph = helper.make_graph(self.nodes, os.path.basename(path)[:-5], inputs, outputs, self.initializers)
        model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)],
                                  producer_name="tessarine-bench")
        model.ir_version = IR_VERSION
        onnx.checker.check_model(model)
        onnx.save(model, path)


def f32(name, dims):
    return helper.make_tensor_value_info(name, TensorProto.FLOAT, dims)


def tiny_map(path):
    g = Graph(SEED)
    g.conv("image", 3, 2, k=1)
    g.nodes[-1].output[0] = "map"
    g.save(path, [f32("image", [1, 3, "height", "width"])], [f32("map", [1, 2, "height", "width"])])


def tiny_head(path):
    g = Graph(SEED + 1)
    cells = [g.to_cells(g.conv("image", 3, 84, k=1, stride=s)) for s in (8, 16, 32)]
    g.nodes.append(helper.make_node("Concat", cells, ["output0"], axis=2))
    g.save(path, [f32("image", [1, 3, "height", "width"])], [f32("output0", [1, 84, "cells"])])


def stride8_features(g):
    """640 -> 80x80x64: the stem and the first stage the two 640 models share."""
    x = g.conv_silu("images", 3, 16, stride=2)
    x = g.conv_silu(x, 16, 32, stride=2)
    x = g.conv_silu(x, 32, 32)
    x = g.conv_silu(x, 32, 64, stride=2)
    for _ in range(2):
        x = g.conv_silu(x, 64, 64)
    return x


def stage(g, x, c_in, c_out, repeats):
    x = g.conv_silu(x, c_in, c_out, stride=2)
    for _ in range(repeats):
        x = g.conv_silu(x, c_out, c_out)
    return x


def detector(path):
    g = Graph(SEED + 2)
    p3 = stride8_features(g)
    p4 = stage(g, p3, 64, 128, 2)
    p5 = stage(g, p4, 128, 256, 1)
    cells = [g.to_cells(g.conv(g.conv_silu(p, c, 64), 64, 84, k=1)) for p, c in ((p3, 64), (p4, 128), (p5, 256))]
    joined = g.node("Concat", cells, axis=2)
    g.nodes.append(helper.make_node("Sigmoid", [joined], ["output0"]))
    g.save(path, [f32("images", [1, 3, 640, 640])], [f32("output0", [1, 84, 8400])])


def dense_map(path):
    g = Graph(SEED + 3)
    x = g.conv(g.conv_silu(stride8_features(g), 64, 64), 64, 2, k=1)
    scales = g.const(np.array([1, 1, 8, 8], np.float32), "scales")
    g.nodes.append(helper.make_node("Resize", [x, "", scales], ["map"], mode="linear"))
    g.save(path, [f32("images", [1, 3, 640, 640])], [f32("map", [1, 2, 640, 640])])


def main():
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    for build in (tiny_map, tiny_head, detector, dense_map):
        build(os.path.join(out_dir, build.__name__ + ".onnx"))


if __name__ == "__main__":
    main()
