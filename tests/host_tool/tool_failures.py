#!/usr/bin/env python3
"""What the tool does when something is wrong: a clear message on standard
error and a non-zero exit, with the module's own error text when the module
refused."""
import ctypes.util
import unittest

import numpy as np

import tool_harness as h


def failing(*args):
    run = h.run_tool(*args, expect_success=False)
    if run.returncode == 0:
        raise AssertionError(f"tessarine_run {' '.join(map(str, args))} succeeded\n{run.stdout}")
    return run


class Failures(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.picture = h.ARGS.defaults / "text.png"
        cls.model = h.ARGS.defaults / "text_detection.onnx"

    def assertModuleRefused(self, run, call):
        # "<call> failed: <the module's last error>", the text not empty.
        self.assertRegex(run.stderr, rf"{call} failed: \S")
        self.assertIn("[OpenVINOInstance]", run.stdout)

    def test_a_model_file_of_garbage(self):
        garbage = h.ARGS.work / "garbage.onnx"
        garbage.write_bytes(np.random.default_rng(1).integers(0, 256, 4096, dtype=np.uint8).tobytes())
        run = failing("map", "--model", garbage, self.picture, "--out", h.ARGS.work / "out")
        self.assertModuleRefused(run, r"LoadModel\(.*garbage\.onnx\)")

    def test_a_truncated_model_file(self):
        truncated = h.ARGS.work / "truncated.onnx"
        truncated.write_bytes(self.model.read_bytes()[:100000])
        run = failing("map", "--model", truncated, self.picture, "--out", h.ARGS.work / "out")
        self.assertModuleRefused(run, r"LoadModel\(.*truncated\.onnx\)")

    def test_a_missing_model_file(self):
        run = failing("map", "--model", h.ARGS.work / "absent.onnx", self.picture)
        self.assertIn("cannot open the model file", run.stderr)

    def test_a_missing_picture(self):
        for mode in ("map", "detect"):
            with self.subTest(mode=mode):
                run = failing(mode, h.ARGS.work / "no_such_picture.png")
                self.assertIn("cannot read the picture", run.stderr)
                self.assertIn("no_such_picture.png", run.stderr)

    def test_a_file_that_is_no_picture(self):
        run = failing("map", self.model, "--out", h.ARGS.work / "out")
        self.assertIn("cannot read the picture", run.stderr)

    def test_a_library_that_cannot_be_loaded(self):
        run = failing("map", "--module", h.ARGS.work / "libabsent.so", self.picture)
        self.assertIn("cannot load the inference module", run.stderr)
        self.assertIn("libabsent.so", run.stderr)

    def test_a_library_that_is_no_module(self):
        libm = ctypes.util.find_library("m")
        self.assertIsNotNone(libm)
        run = failing("map", "--module", libm, self.picture)
        self.assertIn("does not export InitModule and ReleaseModule", run.stderr)

    def test_an_inference_the_module_refuses(self):
        # The text detector's [1, 1, H, W] output cannot fill an [1, 84, N] head.
        run = failing("detect", "--model", self.model, h.ARGS.defaults / "rocket.jpg", "--out", h.ARGS.work / "out")
        self.assertModuleRefused(run, r"DoInference \(detect\)")

    def test_a_bad_option(self):
        run = failing("map", "--repeat", 0)
        self.assertIn("--repeat", run.stderr)


if __name__ == "__main__":
    h.main()
