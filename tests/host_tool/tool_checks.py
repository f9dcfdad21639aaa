#!/usr/bin/env python3
# tessarine_run end to end, as a user runs it, one class per mode:
# - Map: the default text detector on a page against the same model run straight
#   on OpenVINO's Python API (CPU, f32 precision, which the tool's defaults ask of
#   the module), values within 1e-5; the picture-to-tensor step exact.
# - Detect: the default detector on three photos, its head against the original
#   YOLOX-Nano run on ONNX Runtime and decoded here with NumPy (0.02 px in the box
#   rows, 1e-5 in the scores); a person, a cup and a cat found with at least 0.5
#   where they are; the box drawn where it is printed; the letterbox.
# - Tensors: named, typed tensors against the runtime (1e-5, integers exact), into
#   host buffers and into outputs the runtime allocates.
# - Failures: a message on standard error and a non-zero exit.
# usage: tool_checks.py --tool TOOL --defaults DIR --work DIR [CLASS]
import argparse
import ctypes.util
import pathlib
import re
import shutil
import subprocess
import sys
import unittest

import numpy as np
import onnx
import onnxruntime as ort
import openvino as ov
from onnx import TensorProto, helper

ARGS = None
ORIGINAL = pathlib.Path(__file__).resolve().parents[2] / "models" / "yolox_nano" / "yolox_nano.onnx"
F32, I32 = TensorProto.FLOAT, TensorProto.INT32


def tool(*args, fails=False):
    run = subprocess.run([str(ARGS.tool), *map(str, args)], capture_output=True, text=True, timeout=240)
    if (run.returncode != 0) != fails:
        raise AssertionError(f"tessarine_run {' '.join(map(str, args))}: {run.returncode}\n{run.stdout}{run.stderr}")
    return run


def on_runtime(model):
    return ov.Core().compile_model(str(model), "CPU", {"INFERENCE_PRECISION_HINT": "f32"})


def work(name):
    return ARGS.work / name


def save(name, array):
    np.save(work(name), array)
    return work(name)


def write_picture(name, rgb):
    # A binary PPM of an [H, W, 3] uint8 array, which stb reads like any picture.
    work(name).write_bytes(f"P6\n{rgb.shape[1]} {rgb.shape[0]}\n255\n".encode() + rgb.tobytes())
    return work(name)


def read_picture(path):
    # [H, W, 3] uint8 RGB, read with the stb library the tool is built with.
    stb = ctypes.CDLL(ctypes.util.find_library("stb"))
    stb.stbi_load.restype = ctypes.POINTER(ctypes.c_uint8)
    w, h, n = ctypes.c_int(), ctypes.c_int(), ctypes.c_int()
    pixels = stb.stbi_load(str(path).encode(), ctypes.byref(w), ctypes.byref(h), ctypes.byref(n), 3)
    rgb = np.ctypeslib.as_array(pixels, (h.value, w.value, 3)).copy()
    stb.stbi_image_free(pixels)
    return rgb


def write_model(name, nodes, inputs, outputs):
    # An opset 17 model; inputs and outputs as (name, element type, dims).
    ports = lambda declared: [helper.make_tensor_value_info(*port) for port in declared]
    graph = helper.make_graph(nodes, name, ports(inputs), ports(outputs))
    onnx.save(helper.make_model(graph, opset_imports=[helper.make_opsetid("", 17)], ir_version=8), work(name + ".onnx"))
    return work(name + ".onnx")


class Map(unittest.TestCase):
    model = property(lambda self: ARGS.defaults / "text_detection.onnx")

    def test_text_detector_on_a_page_equals_the_runtime(self):
        run = tool("map", "--model", self.model, ARGS.defaults / "text.png", "--out", work("map"),
                   "--save-input", work("in.npy"), "--save-output", work("out.npy"))
        x, y = np.load(work("in.npy")), np.load(work("out.npy"))
        self.assertEqual(x.shape, (1, 3, 736, 1920))  # 448 x 172 to a shorter side of 736, in multiples of 32
        np.testing.assert_allclose(y, on_runtime(self.model)(x)[0], atol=1e-5, rtol=0)
        self.assertTrue(0.005 < (y > 0.3).mean() < 0.3, "handwriting covers a few percent of the page")
        for line in (r"input 0: \[-1, 3, -1, -1\]\noutput 0: \[-1, 1, -1, -1\]", "run at 1920x736",
                     r"loaded on device -1, precision code 3, in [0-9.]+ ms", r"latency over 1 run: min [0-9.]+ ms"):
            self.assertRegex(run.stdout, line)
        self.assertEqual(read_picture(work("map/text_map.png")).shape, (736, 1920, 3))
        self.assertEqual(read_picture(work("map/text_map_overlay.png")).shape, (172, 448, 3))

    def test_picture_to_tensor(self):
        pixels = np.random.default_rng(4).integers(0, 256, (32, 64, 3), dtype=np.uint8)
        rgb, column = pixels.astype(np.float32).transpose(2, 0, 1), lambda *v: np.array(v, np.float32)[:, None, None]
        for options, expected in (((), (rgb[::-1] - 127.5) / 127.5),  # BGR, mean 127.5, scale 1/127.5
                                  (("--rgb", "--mean", "10,20,30", "--scale", "1,0.5,0.25"),
                                   (rgb - column(10, 20, 30)) * column(1, 0.5, 0.25))):
            with self.subTest(options=options):
                tool("map", "--model", self.model, write_picture("random.ppm", pixels), "--min-side", 0,
                     "--out", work("random"), "--save-input", work("random.npy"), *options)
                np.testing.assert_allclose(np.load(work("random.npy"))[0], expected, atol=1e-6, rtol=0)
        tool("map", "--model", self.model, work("random.ppm"), "--size", "96x64", "--out", work("random"),
             "--save-input", work("sized.npy"))
        self.assertEqual(np.load(work("sized.npy")).shape, (1, 3, 64, 96))


def original_head(session, image):
    # The original model on the tool's RGB 0..1 tensor, fed as it wants it (BGR,
    # 0..255), its [N, 85] cells decoded into the [84, N] head as its notice says.
    raw = session.run(None, {"images": np.ascontiguousarray(image[:, ::-1] * 255)})[0][0].astype(np.float64)
    grid, stride = [], []
    for s in (8, 16, 32):
        ys, xs = np.mgrid[:416 // s, :416 // s]
        grid.append(np.stack([xs.ravel(), ys.ravel()], 1))
        stride.append(np.full((xs.size, 1), s))
    grid, stride = np.concatenate(grid), np.concatenate(stride)
    return np.concatenate([(raw[:, :2] + grid) * stride, np.exp(raw[:, 2:4]) * stride, raw[:, 5:] * raw[:, 4:5]], 1).T


def iou(a, b):
    inter = max(0.0, min(a[2], b[2]) - max(a[0], b[0])) * max(0.0, min(a[3], b[3]) - max(a[1], b[1]))
    return inter / ((a[2] - a[0]) * (a[3] - a[1]) + (b[2] - b[0]) * (b[3] - b[1]) - inter)


class Detect(unittest.TestCase):
    # What each photo holds, by eye: a class and where it is in the photo's pixels.
    PHOTOS = {"astronaut": ("person", (15, 15, 365, 512)), "coffee": ("cup", (165, 18, 420, 300)),
              "chelsea": ("cat", (0, 0, 451, 300))}
    DETECTION = r'^detection class=\d+ name="([^"]*)" score=([0-9.]+) box=\[' + ", ".join([r"([-0-9.]+)"] * 4) + r"\]"

    def test_default_detector_on_three_photos(self):
        session = ort.InferenceSession(str(ORIGINAL), providers=["CPUExecutionProvider"])
        for photo, (name, where) in self.PHOTOS.items():
            with self.subTest(photo=photo):
                run = tool("detect", ARGS.defaults / f"{photo}.png", "--out", work("detect"),
                           "--save-input", work("in.npy"), "--save-output", work("head.npy"))
                self.assertIn("input 0: [1, 3, 416, 416]\noutput 0: [1, 84, 3549]", run.stdout)
                head, reference = np.load(work("head.npy"))[0], original_head(session, np.load(work("in.npy")))
                np.testing.assert_allclose(head[:4], reference[:4], atol=0.02, rtol=0)
                np.testing.assert_allclose(head[4:], reference[4:], atol=1e-5, rtol=0)
                found = [(float(score), [float(v) for v in box])
                         for n, score, *box in re.findall(self.DETECTION, run.stdout, re.M) if n == name]
                self.assertTrue(found and found[0][0] >= 0.5 and iou(found[0][1], where) > 0.8, run.stdout)
                if photo == "astronaut":
                    self.check_drawn(photo, found[0][1])

    def check_drawn(self, photo, box):
        # The box's left edge is drawn in one colour over the photo; inside, the photo is untouched.
        drawn, source = read_picture(work(f"detect/{photo}_detect.png")), read_picture(ARGS.defaults / f"{photo}.png")
        x1, y1, x2, y2 = np.rint(box).astype(int)
        self.assertTrue((drawn[y1:y2, x1] == drawn[y1, x1]).all() and (drawn[y1:y2, x1] != source[y1:y2, x1]).any())
        np.testing.assert_array_equal(drawn[y1 + 5:y2 - 5, x1 + 5:x2 - 5], source[y1 + 5:y2 - 5, x1 + 5:x2 - 5])

    def test_letterbox_puts_the_picture_between_grey_rows(self):
        # 160 x 80, red on the left, blue on the right, fills 416 x 208 between 104 grey rows above and below.
        pixels = np.zeros((80, 160, 3), np.uint8)
        pixels[:, :80], pixels[:, 80:] = (200, 0, 0), (0, 0, 200)
        tool("detect", write_picture("halves.ppm", pixels), "--out", work("halves"), "--save-input", work("halves.npy"))
        canvas = np.load(work("halves.npy"))[0] * 255
        # Columns near the middle blend the two halves.
        for rows, columns, colour in ((slice(0, 104), slice(None), 114), (slice(312, None), slice(None), 114),
                                      (slice(104, 312), slice(0, 190), (200, 0, 0)),
                                      (slice(104, 312), slice(226, None), (0, 0, 200))):
            np.testing.assert_allclose(canvas[:, rows, columns] - np.reshape(colour, (-1, 1, 1)), 0, atol=1e-3)


class Tensors(unittest.TestCase):
    def test_named_typed_tensors_equal_the_runtime(self):
        # x f32 [2,3], k i32 [2,3] -> total = x + k (f32), twice = 2k (i32).
        two = helper.make_tensor("two", I32, [], [2])
        model = write_model("mixed", [helper.make_node("Cast", ["k"], ["kf"], to=F32),
                                      helper.make_node("Add", ["x", "kf"], ["total"]),
                                      helper.make_node("Constant", [], ["two"], value=two),
                                      helper.make_node("Mul", ["k", "two"], ["twice"])],
                            [("x", F32, [2, 3]), ("k", I32, [2, 3])], [("total", F32, [2, 3]), ("twice", I32, [2, 3])])
        rng = np.random.default_rng(11)
        x, k = rng.normal(size=(2, 3)).astype(np.float32), rng.integers(-50, 50, (2, 3)).astype(np.int32)
        inputs = ["--model", model, "--input", f"x={save('x.npy', x)}", "--input", f"k={save('k.npy', k)}"]
        expected = on_runtime(model)({"x": x, "k": k})
        for options, printed in (((), "(host buffer)"), (("--runtime-outputs", "--repeat", 3), "latency over 3 runs")):
            with self.subTest(options=options):
                run = tool("tensors", *inputs, "--output", "total", "--output", "twice:i32", "--out", work("mixed"),
                           *options)
                total, twice = np.load(work("mixed/total.npy")), np.load(work("mixed/twice.npy"))
                self.assertEqual((total.dtype, twice.dtype), (np.float32, np.int32))
                np.testing.assert_allclose(total, expected["total"], atol=1e-5, rtol=0)
                np.testing.assert_array_equal(twice, expected["twice"])
                self.assertIn(printed, run.stdout)
        self.assertIn("--output NAME", tool("tensors", *inputs, "--out", work("mixed"), fails=True).stderr)

    def test_open_shapes_take_the_runtimes_outputs(self):
        text = ARGS.defaults / "text_detection.onnx"
        x = np.random.default_rng(5).uniform(-1, 1, (1, 3, 64, 96)).astype(np.float32)
        run = tool("tensors", "--model", text, "--input", f"x={save('x.npy', x)}", "--out", work("text"))
        np.testing.assert_allclose(np.load(work("text/output0.npy")), on_runtime(text)(x)[0], atol=1e-5, rtol=0)
        self.assertIn("(allocated by the runtime)", run.stdout)


class Failures(unittest.TestCase):
    def test_each_failure_is_told_on_standard_error(self):
        page, text, absent = ARGS.defaults / "text.png", ARGS.defaults / "text_detection.onnx", work("absent")
        work("garbage.onnx").write_bytes(np.random.default_rng(1).integers(0, 256, 4096, dtype=np.uint8).tobytes())
        work("truncated.onnx").write_bytes(text.read_bytes()[:100000])
        work("text.npy").write_text("plain text, not an array")
        # The last field: the module refused, so its console line is on standard output.
        cases = [(("map", "--model", work("garbage.onnx"), page), r"LoadModel\(.*garbage.onnx\) failed: \S", True),
                 (("map", "--model", work("truncated.onnx"), page), r"LoadModel\(.*truncated.onnx\) failed: \S", True),
                 # a [1, 1, H, W] map cannot fill a [1, 84, N] head
                 (("detect", "--model", text, ARGS.defaults / "rocket.jpg"), r"DoInference \(detect\) failed: \S",
                  True),
                 (("map", "--model", absent / "model.onnx", page), "cannot open the model file", False),
                 (("map", absent / "picture.png"), r"cannot read the picture.*picture\.png", False),
                 (("map", "--module", absent / "libabsent.so", page), r"cannot load the inference module", False),
                 (("map", "--module", ctypes.util.find_library("m"), page), "does not export InitModule and", False),
                 (("tensors", "--model", text, "--input", f"x={work('text.npy')}"), "is not a .npy file", False),
                 (("map", "--repeat", 0), "--repeat", False)]
        for args, message, refused in cases:
            with self.subTest(args=args):
                run = tool(*args, "--out", work("failures"), fails=True)
                self.assertRegex(run.stderr, message)
                self.assertEqual("[OpenVINOInstance]" in run.stdout, refused)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for option in ("--tool", "--defaults", "--work"):
        parser.add_argument(option, required=True, type=pathlib.Path)
    ARGS, rest = parser.parse_known_args()
    shutil.rmtree(ARGS.work, ignore_errors=True)
    ARGS.work.mkdir(parents=True)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
