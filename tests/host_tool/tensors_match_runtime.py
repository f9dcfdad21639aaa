#!/usr/bin/env python3
"""tensors mode (DoInference(2)) against the runtime: named, typed inputs
from .npy files, outputs into host buffers and outputs allocated by the
runtime. The small models are written here, so their names and types are
this test's own.

Tolerance: outputs within 1e-5 of the runtime's (integer outputs exact).
"""
import unittest

import numpy as np
import onnx
from onnx import TensorProto, helper

import tool_harness as h


def save(name, array):
    path = h.ARGS.work / name
    np.save(path, array)
    return path


def write_model(name, nodes, inputs, outputs):
    model = helper.make_model(helper.make_graph(nodes, name, inputs, outputs),
                              opset_imports=[helper.make_opsetid("", 17)])
    model.ir_version = 8
    path = h.ARGS.work / f"{name}.onnx"
    onnx.save(model, path)
    return path


def mixed_types_model():
    """x f32 [2,3], k i32 [2,3] -> total = x + k (f32), twice = 2k (i32)."""
    two = helper.make_tensor("two", TensorProto.INT32, [], [2])
    nodes = [helper.make_node("Cast", ["k"], ["k_f32"], to=TensorProto.FLOAT),
             helper.make_node("Add", ["x", "k_f32"], ["total"]),
             helper.make_node("Constant", [], ["two"], value=two),
             helper.make_node("Mul", ["k", "two"], ["twice"])]
    return write_model("mixed_types", nodes,
                       [helper.make_tensor_value_info("x", TensorProto.FLOAT, [2, 3]),
                        helper.make_tensor_value_info("k", TensorProto.INT32, [2, 3])],
                       [helper.make_tensor_value_info("total", TensorProto.FLOAT, [2, 3]),
                        helper.make_tensor_value_info("twice", TensorProto.INT32, [2, 3])])


class NamedTypedTensors(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.model = mixed_types_model()
        rng = np.random.default_rng(11)
        cls.x = rng.normal(size=(2, 3)).astype(np.float32)
        cls.k = rng.integers(-50, 50, (2, 3)).astype(np.int32)
        cls.inputs = ["--input", f"x={save('x.npy', cls.x)}", "--input", f"k={save('k.npy', cls.k)}"]
        cls.expected = h.reference_model(cls.model)({"x": cls.x, "k": cls.k})

    def outputs(self, folder, *extra):
        out = h.ARGS.work / folder
        tool = h.run_tool("tensors", "--model", self.model, *self.inputs, "--output", "total",
                          "--output", "twice:i32", "--out", out, *extra)
        return tool, np.load(out / "total.npy"), np.load(out / "twice.npy")

    def check(self, total, twice):
        self.assertEqual(total.dtype, np.float32)
        self.assertEqual(twice.dtype, np.int32)
        np.testing.assert_allclose(total, self.expected["total"], atol=1e-5, rtol=0)
        np.testing.assert_array_equal(twice, self.expected["twice"])
        np.testing.assert_array_equal(twice, 2 * self.k)

    def test_host_buffers_hold_the_runtimes_results(self):
        tool, total, twice = self.outputs("host")
        self.check(total, twice)
        self.assertIn("(host buffer)", tool.stdout)

    def test_runtime_allocated_outputs_hold_the_same(self):
        tool, total, twice = self.outputs("runtime", "--runtime-outputs", "--repeat", 3)
        self.check(total, twice)
        self.assertIn("(allocated by the runtime)", tool.stdout)
        self.assertRegex(tool.stdout, r"latency over 3 runs")

    def test_outputs_of_a_model_with_several_must_be_named(self):
        tool = h.run_tool("tensors", "--model", self.model, *self.inputs, "--out", h.ARGS.work / "unnamed",
                          expect_success=False)
        self.assertNotEqual(tool.returncode, 0)
        self.assertIn("--output NAME", tool.stderr)


class RuntimeAllocatedOutputs(unittest.TestCase):
    def test_open_shaped_output_equals_the_runtime(self):
        """The text detector's output has open dims."""
        model = h.ARGS.defaults / "text_detection.onnx"
        x = np.random.default_rng(5).uniform(-1, 1, (1, 3, 64, 96)).astype(np.float32)
        out = h.ARGS.work / "dynamic"
        tool = h.run_tool("tensors", "--model", model, "--input", f"x={save('image.npy', x)}", "--out", out)
        result = np.load(out / "output0.npy")
        self.assertEqual(result.shape, (1, 1, 64, 96))
        np.testing.assert_allclose(result, h.reference_model(model)(x)[0], atol=1e-5, rtol=0)
        self.assertIn("(allocated by the runtime)", tool.stdout)

    def test_an_output_of_more_than_five_dims_is_written_whole(self):
        """The shape queries report five dims; the runtime knows all six."""
        model = write_model("rank6", [helper.make_node("Neg", ["x"], ["y"])],
                            [helper.make_tensor_value_info("x", TensorProto.FLOAT, [1, 2, 3, 2, 2, 2])],
                            [helper.make_tensor_value_info("y", TensorProto.FLOAT, [1, 2, 3, 2, 2, 2])])
        x = np.arange(48, dtype=np.float32).reshape(1, 2, 3, 2, 2, 2)
        out = h.ARGS.work / "rank6"
        tool = h.run_tool("tensors", "--model", model, "--input", f"={save('x6.npy', x)}", "--out", out)
        np.testing.assert_array_equal(np.load(out / "output0.npy"), -x)
        self.assertIn("output 0: [1, 2, 3, 2, 2, ...]", tool.stdout)


if __name__ == "__main__":
    h.main()
