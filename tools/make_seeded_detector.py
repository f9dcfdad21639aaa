#!/usr/bin/env python3
"""Writes a detector with the YOLOv8n architecture and fixed, seeded weights.

No package of the registries this project may use (Debian, PyPI) was found
to ship a pretrained YOLOv8-style COCO detector under a licence that allows
it, so the detect mode's default model is this one: the real layer structure (Conv-SiLU
with batch norm folded in, C2f blocks, SPPF, the PAN neck, the decoupled head
with distribution focal loss decoding) and the real output layout
[1, 84, 8400] for a [1, 3, 640, 640] input (box cx, cy, w, h in input pixels,
then 80 class scores), but weights drawn from a seeded generator.
ITS DETECTIONS ARE MEANINGLESS: they exercise the decoding, not vision.

Usage: make_seeded_detector.py OUTPUT.onnx [INPUT_SIZE]
"""
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

SEED = 20240805
CLASSES = 80
REG_MAX = 16
STRIDES = (8, 16, 32)
# Class logits are spread around CLASS_BIAS by CLASS_GAIN, so that on the
# default picture only a few cells pass a 0.25 score; untrained as they are,
# other pictures may light up many more.
CLASS_BIAS = -7.0
CLASS_GAIN = 1.5


def conv_np(x, w, b, stride):
    k = w.shape[-1]
    x = np.pad(x, ((0, 0), (0, 0), (k // 2, k // 2), (k // 2, k // 2)))
    win = np.lib.stride_tricks.sliding_window_view(x, (k, k), axis=(2, 3))[:, :, ::stride, ::stride]
    return np.einsum("nchwij,ocij->nohw", win, w, optimize=True) + b[None, :, None, None]


def maxpool_np(x):
    x = np.pad(x, ((0, 0), (0, 0), (2, 2), (2, 2)), constant_values=-np.inf)
    return np.lib.stride_tricks.sliding_window_view(x, (5, 5), axis=(2, 3)).max(axis=(4, 5))


# The layers are evaluated eagerly on a calibration picture as they are added,
# so that each convolution can be normalised as a folded batch norm would be.
KERNELS = {
    "Sigmoid": lambda a, x: [1 / (1 + np.exp(-x[0]))],
    "Mul": lambda a, x: [x[0] * x[1]],
    "Add": lambda a, x: [x[0] + x[1]],
    "Concat": lambda a, x: [np.concatenate(x, axis=1)],
    "Split": lambda a, x: np.split(x[0], np.cumsum(x[1])[:-1], axis=1),
    "MaxPool": lambda a, x: [maxpool_np(x[0])],
    "Resize": lambda a, x: [x[0].repeat(2, axis=2).repeat(2, axis=3)],
}


class Graph:
    def __init__(self, seed, calibration):
        self.rng = np.random.default_rng(seed)
        self.nodes, self.inits, self.count = [], [], 0
        self.values = {"images": calibration}

    def name(self, prefix):
        self.count += 1
        return f"{prefix}_{self.count}"

    def const(self, array, prefix="c"):
        tensor = numpy_helper.from_array(np.asarray(array), self.name(prefix))
        self.inits.append(tensor)
        self.values[tensor.name] = np.asarray(array)
        return tensor.name

    def op(self, op_type, inputs, n_out=1, **attrs):
        outs = [self.name(op_type.lower()) for _ in range(n_out)]
        self.nodes.append(helper.make_node(op_type, inputs, outs, **attrs))
        args = [self.values.get(i) for i in inputs if i]
        if op_type in KERNELS and all(a is not None for a in args):
            self.values.update(zip(outs, KERNELS[op_type](attrs, args)))
        return outs[0] if n_out == 1 else outs

    def conv2d(self, x, c_in, c_out, k, stride=1, gain=1.0, bias=0.0):
        """A convolution whose output has, on the calibration picture, mean
        `bias` and standard deviation `gain` in every channel."""
        w = self.rng.normal(0, 1, (c_out, c_in, k, k))
        y = conv_np(self.values[x], w, np.zeros(c_out), stride)
        mean, std = y.mean(axis=(0, 2, 3)), y.std(axis=(0, 2, 3)) + 1e-6
        w = (w * (gain / std)[:, None, None, None]).astype(np.float32)
        b = (bias - mean * gain / std).astype(np.float32)
        out = self.op("Conv", [x, self.const(w, "w"), self.const(b, "b")], kernel_shape=[k, k],
                      strides=[stride, stride], pads=[k // 2] * 4)
        self.values[out] = conv_np(self.values[x], w, b, stride)
        return out

    def conv(self, x, c_in, c_out, k=1, stride=1):
        y = self.conv2d(x, c_in, c_out, k, stride)
        return self.op("Mul", [y, self.op("Sigmoid", [y])])


def c2f(g, x, c_in, c_out, n, shortcut):
    c = c_out // 2
    y = g.conv(x, c_in, 2 * c)
    parts = list(g.op("Split", [y, g.const(np.array([c, c], np.int64))], n_out=2, axis=1))
    for _ in range(n):
        h = g.conv(g.conv(parts[-1], c, c, 3), c, c, 3)
        parts.append(g.op("Add", [parts[-1], h]) if shortcut else h)
    return g.conv(g.op("Concat", parts, axis=1), (2 + n) * c, c_out)


def sppf(g, x, c_in, c_out):
    c = c_in // 2
    y = [g.conv(x, c_in, c)]
    for _ in range(3):
        y.append(g.op("MaxPool", [y[-1]], kernel_shape=[5, 5], strides=[1, 1], pads=[2] * 4))
    return g.conv(g.op("Concat", y, axis=1), 4 * c, c_out)


def upsample(g, x):
    scales = g.const(np.array([1, 1, 2, 2], np.float32))
    return g.op("Resize", [x, "", scales], mode="nearest")


def backbone_and_neck(g, image):
    """YOLOv8n: depth 0.33, width 0.25. Returns the P3, P4, P5 feature maps."""
    x = g.conv(g.conv(image, 3, 16, 3, 2), 16, 32, 3, 2)
    x = c2f(g, x, 32, 32, 1, True)
    p3 = c2f(g, g.conv(x, 32, 64, 3, 2), 64, 64, 2, True)
    p4 = c2f(g, g.conv(p3, 64, 128, 3, 2), 128, 128, 2, True)
    p5 = c2f(g, g.conv(p4, 128, 256, 3, 2), 256, 256, 1, True)
    p5 = sppf(g, p5, 256, 256)
    n4 = c2f(g, g.op("Concat", [upsample(g, p5), p4], axis=1), 384, 128, 1, False)
    n3 = c2f(g, g.op("Concat", [upsample(g, n4), p3], axis=1), 192, 64, 1, False)
    m4 = c2f(g, g.op("Concat", [g.conv(n3, 64, 64, 3, 2), n4], axis=1), 192, 128, 1, False)
    m5 = c2f(g, g.op("Concat", [g.conv(m4, 128, 128, 3, 2), p5], axis=1), 384, 256, 1, False)
    return [(n3, 64), (m4, 128), (m5, 256)]


def head_level(g, x, c_in):
    """Decoupled head of one level: [1, 64 + 80, h * w]."""
    c_box, c_cls = 64, 80
    # Peaks each distance distribution near 2.5 grid cells, so boxes have a
    # plausible size instead of spanning the picture.
    bins = np.tile((-0.5 * (np.arange(REG_MAX) - 2.5) ** 2).astype(np.float32), 4)
    box = g.conv(g.conv(x, c_in, c_box, 3), c_box, c_box, 3)
    box = g.conv2d(box, c_box, 4 * REG_MAX, 1, bias=bins)
    cls = g.conv(g.conv(x, c_in, c_cls, 3), c_cls, c_cls, 3)
    cls = g.conv2d(cls, c_cls, CLASSES, 1, gain=CLASS_GAIN, bias=CLASS_BIAS)
    out = g.op("Concat", [box, cls], axis=1)
    return g.op("Reshape", [out, g.const(np.array([1, 4 * REG_MAX + CLASSES, -1], np.int64))])


def anchors(size):
    points, strides = [], []
    for s in STRIDES:
        n = -(-size // s)
        ys, xs = np.meshgrid(np.arange(n) + 0.5, np.arange(n) + 0.5, indexing="ij")
        points.append(np.stack([xs.ravel(), ys.ravel()]))
        strides.append(np.full((1, n * n), s))
    return np.concatenate(points, 1)[None].astype(np.float32), np.concatenate(strides, 1)[None].astype(np.float32)


def decode(g, raw, size):
    """Distribution focal loss to distances, distances to cx, cy, w, h in pixels."""
    box, cls = g.op("Split", [raw, g.const(np.array([4 * REG_MAX, CLASSES], np.int64))], n_out=2, axis=1)
    box = g.op("Reshape", [box, g.const(np.array([1, 4, REG_MAX, -1], np.int64))])
    prob = g.op("Softmax", [box], axis=2)
    dist = g.op("ReduceSum", [g.op("Mul", [prob, g.const(np.arange(REG_MAX, dtype=np.float32).reshape(1, 1, -1, 1))]),
                              g.const(np.array([2], np.int64))], keepdims=0)
    lt, rb = g.op("Split", [dist, g.const(np.array([2, 2], np.int64))], n_out=2, axis=1)
    points, strides = anchors(size)
    p = g.const(points)
    x1y1, x2y2 = g.op("Sub", [p, lt]), g.op("Add", [p, rb])
    centre = g.op("Div", [g.op("Add", [x1y1, x2y2]), g.const(np.float32(2))])
    wh = g.op("Sub", [x2y2, x1y1])
    boxes = g.op("Mul", [g.op("Concat", [centre, wh], axis=1), g.const(strides)])
    g.nodes.append(helper.make_node("Concat", [boxes, g.op("Sigmoid", [cls])], ["output0"], axis=1))


def calibration_pictures(size=256, shapes=30):
    """Flat coloured rectangles over a grey ground (the statistics of a photo:
    smooth areas, sharp edges), pixel noise and a plain grey picture, so that
    the folded statistics hold for pictures of any of these kinds."""
    rng = np.random.default_rng(SEED)
    shapes_picture = np.full((3, size, size), 0.5)
    for _ in range(shapes):
        x0, y0 = rng.integers(0, size, 2)
        w, h = rng.integers(size // 16, size // 2, 2)
        shapes_picture[:, y0:y0 + h, x0:x0 + w] = rng.uniform(0, 1, (3, 1, 1))
    noise = rng.uniform(0, 1, (3, size, size))
    grey = np.full((3, size, size), 114 / 255)
    return np.stack([shapes_picture + rng.normal(0, 0.02, shapes_picture.shape), noise, grey])


def build(size):
    g = Graph(SEED, calibration_pictures())
    levels = [head_level(g, x, c) for x, c in backbone_and_neck(g, "images")]
    decode(g, g.op("Concat", levels, axis=2), size)
    cells = sum((-(-size // s)) ** 2 for s in STRIDES)
    graph = helper.make_graph(g.nodes, "yolov8n_seeded", [
        helper.make_tensor_value_info("images", TensorProto.FLOAT, [1, 3, size, size])], [
        helper.make_tensor_value_info("output0", TensorProto.FLOAT, [1, 4 + CLASSES, cells])], g.inits)
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 17)],
                              producer_name="tessarine seeded detector (meaningless weights)")
    model.ir_version = 8
    onnx.checker.check_model(model)
    return model


if __name__ == "__main__":
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    onnx.save(build(int(sys.argv[2]) if len(sys.argv) == 3 else 640), sys.argv[1])
