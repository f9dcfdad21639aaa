#!/usr/bin/env python3
"""map mode (DoInference(0)) against the runtime, on the default text
detector and picture, and the picture-to-tensor step on a synthetic picture.

Tolerance: the map is a probability in [0, 1]; tool and runtime may differ by
at most 1e-5 (same runtime, same f32 precision; only the order of
floating-point work may differ). The input tensor of a picture that needs no
resizing must be exact to 1e-6.
"""
import unittest

import numpy as np

import tool_harness as h

MAP_TOLERANCE = 1e-5


class DefaultTextDetector(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        w = h.ARGS.work
        cls.model = h.ARGS.defaults / "text_detection.onnx"
        cls.tool = h.run_tool("map", "--model", cls.model, h.ARGS.defaults / "text.png", "--out", w / "out",
                             "--save-input", w / "input.npy", "--save-output", w / "output.npy")
        cls.input = np.load(w / "input.npy")
        cls.output = np.load(w / "output.npy")

    def test_map_equals_the_runtime_on_the_same_input(self):
        expected = h.reference_model(self.model)(self.input)[0]
        self.assertEqual(self.output.shape, expected.shape)
        self.assertLessEqual(float(np.abs(self.output - expected).max()), MAP_TOLERANCE)

    def test_input_is_the_picture_scaled_to_a_multiple_of_32(self):
        # text.png is 448 x 172; a shorter side of 736 makes it 1917 x 736, so 1920 x 736.
        self.assertEqual(self.input.shape, (1, 3, 736, 1920))
        self.assertRegex(self.tool.stdout, r"run at 1920x736")

    def test_finds_text_in_the_picture(self):
        # Handwriting covers a few percent of it; an empty or saturated map
        # means the picture reached the model wrongly.
        share = float((self.output > 0.3).mean())
        self.assertGreater(share, 0.005)
        self.assertLess(share, 0.3)

    def test_writes_the_map_and_the_overlay(self):
        out = h.ARGS.work / "out"
        self.assertEqual(h.png_size(out / "text_map.png"), (1920, 736))
        self.assertEqual(h.png_size(out / "text_map_overlay.png"), (448, 172))

    def test_prints_shapes_load_time_and_latency(self):
        self.assertRegex(self.tool.stdout, r"input 0: \[-1, 3, -1, -1\]")
        self.assertRegex(self.tool.stdout, r"output 0: \[-1, 1, -1, -1\]")
        self.assertRegex(self.tool.stdout, r"loaded on device -1, precision code 3, in [0-9.]+ ms")
        self.assertRegex(self.tool.stdout, r"latency over 1 run: min [0-9.]+ ms, median [0-9.]+ ms")


class PictureToTensor(unittest.TestCase):
    """A 64 x 32 picture is run at its own size, so every input value is known."""

    @classmethod
    def setUpClass(cls):
        rng = np.random.default_rng(4)
        cls.pixels = rng.integers(0, 256, (32, 64, 3), dtype=np.uint8)
        cls.picture = h.ARGS.work / "synthetic.png"
        h.write_png(cls.picture, cls.pixels)

    def tensor_for(self, *options):
        saved = h.ARGS.work / "synthetic_input.npy"
        h.run_tool("map", "--model", h.ARGS.defaults / "text_detection.onnx", self.picture, "--min-side", 0,
                   "--out", h.ARGS.work / "synthetic_out", "--save-input", saved, *options)
        return np.load(saved)

    def test_default_normalisation_is_bgr_scaled_to_minus_one_one(self):
        expected = (self.pixels[:, :, ::-1].astype(np.float32) - 127.5) / 127.5
        tensor = self.tensor_for()
        self.assertEqual(tensor.shape, (1, 3, 32, 64))
        np.testing.assert_allclose(tensor[0], expected.transpose(2, 0, 1), atol=1e-6, rtol=0)

    def test_mean_scale_and_order_options(self):
        mean, scale = np.array([10, 20, 30], np.float32), np.array([1, 0.5, 0.25], np.float32)
        expected = (self.pixels.astype(np.float32) - mean) * scale
        tensor = self.tensor_for("--rgb", "--mean", "10,20,30", "--scale", "1,0.5,0.25")
        np.testing.assert_allclose(tensor[0], expected.transpose(2, 0, 1), atol=1e-6, rtol=0)

    def test_size_option_sets_the_input_size(self):
        self.assertEqual(self.tensor_for("--size", "96x64").shape, (1, 3, 64, 96))


if __name__ == "__main__":
    h.main()
