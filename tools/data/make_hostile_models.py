#!/usr/bin/env python3
"""Writes the hostile models only the isolated module's tests load.
Usage: make_hostile_models.py OUTPUT_DIR [--verify]

Each is a small ONNX file that harms the process whose runtime reads or runs
it: the reader or the CPU plugin's compiler crashes at load, an inference
reads or writes far outside its tensors, or an inference never ends. The
file names say which (load_crash_*, run_reads_*, run_writes_*, run_hangs_*).

--verify loads and runs each model with the runtime in a throwaway child
process of its own, and reports how that process ended; it is how the
catalogue was chosen (every load_crash_ and run_ model here ends its process
by a signal, or never ends), and never runs inside a test process.
"""
import os
import subprocess
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

node = helper.make_node


def f32(name, dims):
    return helper.make_tensor_value_info(name, TensorProto.FLOAT, list(dims))


def model(name, nodes, inputs, outputs, initializers=(), opsets=(("", 17),)):
    graph = helper.make_graph(nodes, name, inputs, outputs, list(initializers))
    made = helper.make_model(graph, opset_imports=[helper.make_opsetid(d, v) for d, v in opsets])
    made.ir_version = 8
    return made.SerializeToString()


def int64s(name, values, dims=None):
    values = np.array(values, dtype=np.int64)
    return numpy_helper.from_array(values.reshape(dims) if dims else values, name)


def load_crashes():
    """Graphs the reader or the compiler crashes on, in several domains."""
    yield "load_crash_identity_of_two_inputs", model(
        "identity", [node("Identity", ["x", "x"], ["y"])], [f32("x", [1, 4])], [f32("y", [1, 4])])
    body = helper.make_graph([node("Identity", ["s"], ["t"])], "body", [f32("s", [4])], [f32("t", [4])])
    yield "load_crash_scan_past_its_inputs", model(
        "scan", [node("Scan", ["x"], ["y"], body=body, num_scan_inputs=3)], [f32("x", [2, 4])], [f32("y", [2, 4])])
    yield "load_crash_detection_output_short_of_inputs", model(
        "detection", [node("DetectionOutput", ["x"], ["y"], domain="org.openvinotoolkit")], [f32("x", [1, 8])],
        [f32("y", [1, 1, 1, 7])], opsets=(("", 17), ("org.openvinotoolkit", 1)))
    yield "load_crash_attention_short_of_inputs", model(
        "attention", [node("Attention", ["x"], ["y"], domain="com.microsoft", num_heads=1)], [f32("x", [1, 2, 4])],
        [f32("y", [1, 2, 4])], opsets=(("", 17), ("com.microsoft", 1)))
    yield "load_crash_gather_of_an_empty_index", model(
        "gather", [node("Gather", ["x", "i"], ["y"])], [f32("x", [4, 3])], [f32("y", [2, 2, 0, 3])],
        [int64s("i", np.zeros((2, 2, 0)), None)])


def run_hazards():
    """Graphs that load, and whose first run leaves its tensors or never ends."""
    far = 0x7FFFFFF0  # elements past the tensor: gigabytes away, in no mapping
    yield "run_reads_far_gather_elements", model(
        "gather_elements", [node("GatherElements", ["x", "i"], ["y"], axis=1)], [f32("x", [1, 4])],
        [f32("y", [1, 4])], [int64s("i", [[0, far, 2 * far, 3 * far]])])
    yield "run_reads_far_gather_nd", model(
        "gather_nd", [node("GatherND", ["x", "i"], ["y"])], [f32("x", [1, 4])], [f32("y", [1, 4])],
        [int64s("i", [[[0, far], [0, far - 1], [0, far - 2], [0, far - 3]]])])
    yield "run_writes_far_scatter_nd", model(
        "scatter_nd", [node("ScatterND", ["x", "i", "u"], ["y"])], [f32("x", [1, 4])], [f32("y", [1, 4])],
        [int64s("i", [[0, far], [0, 2 * far]]), numpy_helper.from_array(np.full((2,), 7, np.float32), "u")])
    # The trip count is computed from the input, so nothing folds the loop at load.
    body = helper.make_graph(
        [node("Identity", ["cond_in"], ["cond_out"]), node("Add", ["v_in", "v_in"], ["v_out"])], "body",
        [helper.make_tensor_value_info("i", TensorProto.INT64, []),
         helper.make_tensor_value_info("cond_in", TensorProto.BOOL, []), f32("v_in", [1, 4])],
        [helper.make_tensor_value_info("cond_out", TensorProto.BOOL, []), f32("v_out", [1, 4])])
    yield "run_hangs_loop", model(
        "loop", [node("ReduceMax", ["x"], ["top"], keepdims=0), node("Add", ["top", "big"], ["count"]),
                 node("Cast", ["count"], ["trips"], to=TensorProto.INT64),
                 node("Loop", ["trips", "cond", "x"], ["y"], body=body)],
        [f32("x", [1, 4])], [f32("y", [1, 4])],
        [numpy_helper.from_array(np.array(True), "cond"), numpy_helper.from_array(np.array(4e18, np.float32), "big")])


CHILD = """
import sys, numpy as np, openvino as ov
data = open(sys.argv[1], 'rb').read()
core = ov.Core()
compiled = core.compile_model(core.read_model(data, ov.Tensor(np.empty(0, np.uint8))), 'CPU')
feeds = {p.get_any_name(): np.ones(p.get_shape(), np.float32) for p in compiled.inputs}
compiled.create_infer_request().infer(feeds)
print('ran')
"""


def verify(path):
    try:
        done = subprocess.run([sys.executable, "-c", CHILD, path], capture_output=True, timeout=20)
    except subprocess.TimeoutExpired:
        return "did not end within 20 s"
    if done.returncode < 0:
        return "ended by signal %d" % -done.returncode
    return "exited with %d: %s" % (done.returncode, (done.stdout + done.stderr).decode()[-200:].strip())


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, data in list(load_crashes()) + list(run_hazards()):
        path = os.path.join(out, name + ".onnx")
        with open(path, "wb") as f:
            f.write(data)
        if "--verify" in sys.argv:
            print("%-45s %s" % (name, verify(path)))


if __name__ == "__main__":
    main()
