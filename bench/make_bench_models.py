#!/usr/bin/env python3
"""Writes the benchmark's detection-sized ONNX models with seeded random weights: cost models, whose results mean
nothing. detector [1,3,640,640] -> [1,84,8400] is YOLO-like (about 4.8 GFLOPs); dense_map [1,3,640,640] ->
[1,2,640,640] is its stem with a map head. Usage: make_bench_models.py OUTPUT_DIR
"""
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper


class Graph:
    def __init__(self, seed):
        self.rng, self.nodes, self.initializers = np.random.default_rng(seed), [], []

    def add(self, op, inputs, out=None, **attrs):
        out = out or f"{op}_{len(self.nodes)}"
        self.nodes.append(helper.make_node(op, inputs, [out], **attrs))
        return out

    def const(self, array):
        self.initializers.append(numpy_helper.from_array(np.asarray(array), f"c_{len(self.initializers)}"))
        return self.initializers[-1].name

    def conv(self, x, c_in, c_out, k=3, stride=1):
        # He scaling keeps the activations in range through the stages.
        w = self.rng.standard_normal((c_out, c_in, k, k)) * np.sqrt(2.0 / (c_in * k * k))
        b = self.rng.uniform(-0.1, 0.1, c_out)
        return self.add("Conv", [x, self.const(w.astype(np.float32)), self.const(b.astype(np.float32))],
                        kernel_shape=[k, k], strides=[stride, stride], pads=[k // 2] * 4)

    def conv_silu(self, x, c_in, c_out, stride=1):
        y = self.conv(x, c_in, c_out, stride=stride)
        return self.add("Mul", [y, self.add("Sigmoid", [y])])

    def cells(self, x):
        return self.add("Reshape", [x, self.const(np.array([1, 84, -1], np.int64))])

    def save(self, path, output, output_dims):
        inputs = [helper.make_tensor_value_info("images", TensorProto.FLOAT, [1, 3, 640, 640])]
        outputs = [helper.make_tensor_value_info(output, TensorProto.FLOAT, output_dims)]
        graph = helper.make_graph(self.nodes, "bench", inputs, outputs, self.initializers)
        model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 17)])
        model.ir_version = 8
        onnx.checker.check_model(model)
        onnx.save(model, path)


def stride8_features(g):
    """640 -> 80x80x64: the stem and first stage of both 640 models."""
    x = "images"
    for c_in, c_out, stride in ((3, 16, 2), (16, 32, 2), (32, 32, 1), (32, 64, 2), (64, 64, 1), (64, 64, 1)):
        x = g.conv_silu(x, c_in, c_out, stride)
    return x


def detector(g):
    p3 = stride8_features(g)
    p4 = g.conv_silu(g.conv_silu(g.conv_silu(p3, 64, 128, 2), 128, 128), 128, 128)
    p5 = g.conv_silu(g.conv_silu(p4, 128, 256, 2), 256, 256)
    heads = [g.cells(g.conv(g.conv_silu(p, c, 64), 64, 84, k=1)) for p, c in ((p3, 64), (p4, 128), (p5, 256))]
    g.add("Sigmoid", [g.add("Concat", heads, axis=2)], "output0")
    return "output0", [1, 84, 8400]


def dense_map(g):
    x = g.conv(g.conv_silu(stride8_features(g), 64, 64), 64, 2, k=1)
    g.add("Resize", [x, "", g.const(np.array([1, 1, 8, 8], np.float32))], "map", mode="linear")
    return "map", [1, 2, 640, 640]


def main():
    os.makedirs(sys.argv[1], exist_ok=True)
    for seed, build in enumerate((detector, dense_map), start=2):
        g = Graph(5_640_640 + seed)
        g.save(os.path.join(sys.argv[1], build.__name__ + ".onnx"), *build(g))


if __name__ == "__main__":
    main()
