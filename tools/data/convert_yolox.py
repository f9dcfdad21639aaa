#!/usr/bin/env python3
"""Turns YOLOX's own ONNX export into the detect mode's form.

YOLOX takes BGR samples of 0 to 255 and returns [1, N, 85] per cell: dx, dy,
log w, log h in grid units, objectness, then 80 class probabilities. The
converted model takes RGB samples of 0 to 1, as the host tool feeds every
detector, and returns [1, 84, N]: box cx, cy, w, h in input pixels, then the
80 class scores (objectness x class probability). N counts the cells of the
8-, 16- and 32-pixel grids, row by row, in that order. The weights are
unchanged but for the first convolution's, which absorb the input convention.

Usage: convert_yolox.py YOLOX.onnx OUTPUT.onnx
"""
import sys

import numpy as np
import onnx
from onnx import helper, numpy_helper

STRIDES = (8, 16, 32)
CLASSES = 80


def consumers(graph, name):
    return [n for n in graph.node if name in n.input]


def initializer(graph, name):
    return next((i for i in graph.initializer if i.name == name), None)


def first_convolution(graph, image):
    """YOLOX's Focus stem: strided Slices of the image over H and W only, one
    Concat of their 3-channel results, one Conv. Returns the Conv and the
    Concat's inputs, in channel order."""
    slices, ends, frontier = set(), {}, [image]
    while frontier:
        for node in consumers(graph, frontier.pop()):
            if node.op_type != "Slice":
                ends[node.output[0]] = node
                continue
            axes = initializer(graph, node.input[3]) if len(node.input) > 3 else None
            if axes is None or not set(numpy_helper.to_array(axes).tolist()) <= {2, 3}:
                sys.exit(f"{node.output[0]} may slice the image over its channels; expected YOLOX's Focus stem")
            slices.add(node.output[0])
            frontier.append(node.output[0])
    concat = next(iter(ends.values()), None)
    if len(ends) != 1 or concat.op_type != "Concat" or not set(concat.input) <= slices:
        sys.exit("the image does not reach one Concat through Slices only; expected YOLOX's Focus stem")
    (conv,) = consumers(graph, concat.output[0])
    if conv.op_type != "Conv" or any(a.name == "group" and a.i != 1 for a in conv.attribute):
        sys.exit("the Focus stem does not end in one plain convolution")
    return conv, list(concat.input)


def fold_rgb_unit_range(graph, image):
    """BGR channel c at 0..255 is 255 x RGB channel 2 - c at 0..1: each group
    of three input channels of the first convolution is reversed and scaled."""
    conv, pieces = first_convolution(graph, image)
    weight = initializer(graph, conv.input[1])
    w = numpy_helper.to_array(weight)
    if w.shape[1] != 3 * len(pieces) or len(consumers(graph, weight.name)) != 1:
        sys.exit(f"the first convolution's weights {w.shape} are not one slice per group of three channels")
    folded = w.reshape(w.shape[0], len(pieces), 3, *w.shape[2:])[:, :, ::-1] * np.float32(255)
    weight.CopyFrom(numpy_helper.from_array(folded.reshape(w.shape).astype(np.float32), weight.name))


def grids(height, width):
    """Per cell: its grid x and y, and its stride."""
    xy, stride = [], []
    for s in STRIDES:
        rows, cols = -(-height // s), -(-width // s)
        ys, xs = np.meshgrid(np.arange(rows), np.arange(cols), indexing="ij")
        xy.append(np.stack([xs.ravel(), ys.ravel()]))
        stride.append(np.full(rows * cols, s))
    return (np.concatenate(xy, 1)[None].astype(np.float32), np.concatenate(stride)[None, None].astype(np.float32))


def decode(graph, height, width):
    """Replaces the [1, N, 85] output by the decoded [1, 84, N] head."""
    (output,) = graph.output
    last = next(n for n in graph.node if output.name in n.output)
    if last.op_type != "Transpose" or [list(a.ints) for a in last.attribute] != [[0, 2, 1]]:
        sys.exit("the output is not YOLOX's transpose of its [1, 85, N] rows")
    graph.node.remove(last)
    rows = last.input[0]
    cell_xy, cell_stride = grids(height, width)
    consts = {"yolox_grid": cell_xy, "yolox_stride": cell_stride}
    for n, (start, end) in enumerate([(0, 2), (2, 4), (4, 5), (5, 5 + CLASSES)]):
        consts[f"yolox_start{n}"], consts[f"yolox_end{n}"] = np.array([start]), np.array([end])
    consts["yolox_axis"] = np.array([1])
    graph.initializer.extend(numpy_helper.from_array(v, k) for k, v in consts.items())
    part = [f"yolox_part{n}" for n in range(4)]
    graph.node.extend(
        [helper.make_node("Slice", [rows, f"yolox_start{n}", f"yolox_end{n}", "yolox_axis"], [part[n]])
         for n in range(4)] + [
            helper.make_node("Add", [part[0], "yolox_grid"], ["yolox_cell_xy"]),
            helper.make_node("Exp", [part[1]], ["yolox_cell_wh"]),
            helper.make_node("Concat", ["yolox_cell_xy", "yolox_cell_wh"], ["yolox_cell_box"], axis=1),
            helper.make_node("Mul", ["yolox_cell_box", "yolox_stride"], ["yolox_box"]),
            helper.make_node("Mul", [part[3], part[2]], ["yolox_scores"]),
            helper.make_node("Concat", ["yolox_box", "yolox_scores"], ["output"], axis=1)])
    graph.output.remove(output)
    graph.output.append(helper.make_tensor_value_info("output", onnx.TensorProto.FLOAT,
                                                      [1, 4 + CLASSES, cell_xy.shape[2]]))


def convert(model):
    graph = model.graph
    (image,) = graph.input
    _, _, height, width = (d.dim_value for d in image.type.tensor_type.shape.dim)
    fold_rgb_unit_range(graph, image.name)
    decode(graph, height, width)
    del graph.value_info[:]
    graph.doc_string = ("YOLOX-Nano (Megvii, Apache-2.0), modified by tools/data/convert_yolox.py: RGB input of 0 to 1 "
                        "folded into the first convolution; boxes and scores decoded into [1, 84, N]")
    onnx.checker.check_model(model, full_check=True)
    return model


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    onnx.save(convert(onnx.load(sys.argv[1])), sys.argv[2])
