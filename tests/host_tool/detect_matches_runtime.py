#!/usr/bin/env python3
"""detect mode (DoInference(1)) on the default detector and three of
scikit-image's photos: the module's head against the original YOLOX-Nano run
on ONNX Runtime and decoded here with NumPy, the printed detections against a
decoding and suppression written here independently of the tool's, what the
photos hold, and the boxes drawn; the letterbox checked through the tool on a
synthetic picture.

Tolerances: the head may differ from the reference by 0.02 pixels in the box
rows and 1e-5 in the scores (two runtimes, f32). Printed detections must match
the reference decoding in class and order, with scores within 1e-4 and box
corners within 0.03 pixels (the printed precision, the head's difference
scaled to the photo).
"""
import pathlib
import unittest

import numpy as np
import onnxruntime as ort

import tool_harness as h

DETECTION = (r'^detection class=(\d+) name="([^"]*)" score=([0-9.]+) '
             r'box=\[([-0-9.]+), ([-0-9.]+), ([-0-9.]+), ([-0-9.]+)\]$')
ORIGINAL = pathlib.Path(__file__).resolve().parents[2] / "models" / "yolox_nano" / "yolox_nano.onnx"
SIZE = 416
# What each photo holds, by eye: a class and where it is in the photo's pixels.
PHOTOS = {"astronaut": ("person", (15, 15, 365, 512)),
          "coffee": ("cup", (165, 18, 420, 300)),
          "chelsea": ("cat", (0, 0, 451, 300))}


def iou(a, b):
    w = max(0.0, min(a[2], b[2]) - max(a[0], b[0]))
    h_ = max(0.0, min(a[3], b[3]) - max(a[1], b[1]))
    inter = w * h_
    union = (a[2] - a[0]) * (a[3] - a[1]) + (b[2] - b[0]) * (b[3] - b[1]) - inter
    return inter / union if union > 0 else 0.0


def original_head(session, image):
    """The original model on an RGB 0..1 tensor, fed as it wants (BGR, 0..255),
    its [N, 85] cells decoded into the [84, N] head as its notice says."""
    raw = session.run(None, {"images": np.ascontiguousarray(image[:, ::-1] * 255)})[0][0].astype(np.float64)
    grid, stride = [], []
    for s in (8, 16, 32):
        ys, xs = np.mgrid[:SIZE // s, :SIZE // s]
        grid.append(np.stack([xs.ravel(), ys.ravel()], 1))
        stride.append(np.full((xs.size, 1), s))
    grid, stride = np.concatenate(grid), np.concatenate(stride)
    return np.concatenate([(raw[:, :2] + grid) * stride, np.exp(raw[:, 2:4]) * stride,
                           raw[:, 5:] * raw[:, 4:5]], axis=1).T


def reference_detections(head, min_score=0.25, max_iou=0.45, max_count=100):
    """Best class per cell, then greedy per-class suppression, best score first."""
    scores = head[4:]
    classes = scores.argmax(axis=0)
    best = scores[classes, np.arange(head.shape[1])]
    cells = np.nonzero(best >= np.float32(min_score))[0]
    cx, cy, w, h_ = head[:4, cells]
    boxes = np.stack([cx - w / 2, cy - h_ / 2, cx + w / 2, cy + h_ / 2], axis=1)
    kept = []
    for i in np.argsort(-best[cells], kind="stable"):
        if len(kept) == max_count:
            break
        if all(classes[cells[k]] != classes[cells[i]] or iou(boxes[k], boxes[i]) <= max_iou for k in kept):
            kept.append(i)
    return [(int(classes[cells[i]]), float(best[cells[i]]), boxes[i].astype(np.float64)) for i in kept]


def to_picture(box, width, height, target=SIZE):
    """Undoes the letterbox: content scaled to fit, centred, each axis by its own factor."""
    scale = min(target / width, target / height)
    content_w, content_h = int(np.floor(width * scale + 0.5)), int(np.floor(height * scale + 0.5))
    left, top = (target - content_w) // 2, (target - content_h) // 2
    x = lambda v: min(max((v - left) * width / content_w, 0.0), width)
    y = lambda v: min(max((v - top) * height / content_h, 0.0), height)
    return np.array([x(box[0]), y(box[1]), x(box[2]), y(box[3])])


def printed_detections(stdout):
    return [(int(c), name, float(score), np.array(box, float)) for c, name, score, *box in h.printed(DETECTION, stdout)]


class DefaultDetector(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        session = ort.InferenceSession(str(ORIGINAL), providers=["CPUExecutionProvider"])
        cls.runs = {}
        for photo in PHOTOS:
            w = h.ARGS.work / photo
            tool = h.run_tool("detect", h.ARGS.defaults / f"{photo}.png", "--out", h.ARGS.work / "out",
                              "--save-input", w.with_suffix(".input.npy"), "--save-output", w.with_suffix(".head.npy"))
            head = np.load(w.with_suffix(".head.npy"))
            cls.runs[photo] = (tool, head, original_head(session, np.load(w.with_suffix(".input.npy"))))

    def test_head_equals_the_original_model_decoded_by_numpy(self):
        for photo, (tool, head, reference) in self.runs.items():
            with self.subTest(photo=photo):
                self.assertRegex(tool.stdout, r"input 0: \[1, 3, 416, 416\]\noutput 0: \[1, 84, 3549\]")
                self.assertEqual(head.shape, (1, 84, 3549))
                np.testing.assert_allclose(head[0, :4], reference[:4], atol=0.02, rtol=0)
                np.testing.assert_allclose(head[0, 4:], reference[4:], atol=1e-5, rtol=0)

    def test_printed_detections_equal_the_reference_decoding(self):
        for photo, (tool, _, reference) in self.runs.items():
            with self.subTest(photo=photo):
                height, width, _ = h.read_picture(h.ARGS.defaults / f"{photo}.png").shape
                expected, got = reference_detections(reference), printed_detections(tool.stdout)
                self.assertEqual([g[0] for g in got], [e[0] for e in expected])
                for (_, _, score, box), (_, ref_score, ref_box) in zip(got, expected):
                    self.assertAlmostEqual(score, ref_score, delta=1e-4)
                    np.testing.assert_allclose(box, to_picture(ref_box, width, height), atol=0.03, rtol=0)
                self.assertRegex(tool.stdout, rf"detections: {len(expected)} ")

    def test_finds_what_each_photo_holds(self):
        for photo, (name, where) in PHOTOS.items():
            with self.subTest(photo=photo):
                found = [d for d in printed_detections(self.runs[photo][0].stdout) if d[1] == name]
                self.assertTrue(found, f"no {name} in {photo}")
                self.assertGreaterEqual(found[0][2], 0.5)
                self.assertGreater(iou(found[0][3], where), 0.8)

    def test_draws_the_box_where_it_was_found(self):
        drawn = h.read_picture(h.ARGS.work / "out" / "astronaut_detect.png")
        source = h.read_picture(h.ARGS.defaults / "astronaut.png")
        self.assertEqual(drawn.shape, source.shape)
        ((_, _, _, box),) = printed_detections(self.runs["astronaut"][0].stdout)
        x1, y1, x2, y2 = np.rint(box).astype(int)
        left_edge = drawn[y1:y2, x1]
        self.assertTrue((left_edge == left_edge[0]).all(), "the box's edge should be one colour")
        self.assertGreater((left_edge != source[y1:y2, x1]).any(axis=1).mean(), 0.95)
        np.testing.assert_array_equal(drawn[y1 + 5:y2 - 5, x1 + 5:x2 - 5], source[y1 + 5:y2 - 5, x1 + 5:x2 - 5])


class LetterboxThroughTheTool(unittest.TestCase):
    """A 160 x 80 picture, red on the left and blue on the right, fills 416 x 208
    of the canvas between 104 grey rows above and below."""

    @classmethod
    def setUpClass(cls):
        pixels = np.zeros((80, 160, 3), np.uint8)
        pixels[:, :80] = (200, 0, 0)
        pixels[:, 80:] = (0, 0, 200)
        picture = h.ARGS.work / "halves.png"
        h.write_png(picture, pixels)
        saved = h.ARGS.work / "halves_input.npy"
        h.run_tool("detect", picture, "--out", h.ARGS.work / "halves_out", "--save-input", saved)
        cls.canvas = np.load(saved)[0] * 255

    def test_padding_rows_are_grey(self):
        np.testing.assert_allclose(self.canvas[:, :104], 114, atol=1e-3)
        np.testing.assert_allclose(self.canvas[:, 312:], 114, atol=1e-3)

    def test_content_rows_hold_the_scaled_picture(self):
        # Columns near the middle blend the two halves; away from it each is pure.
        red, blue = self.canvas[:, 104:312, :190], self.canvas[:, 104:312, 226:]
        np.testing.assert_allclose(red, np.broadcast_to(np.array([200., 0, 0])[:, None, None], red.shape), atol=1e-3)
        np.testing.assert_allclose(blue, np.broadcast_to(np.array([0., 0, 200])[:, None, None], blue.shape), atol=1e-3)


if __name__ == "__main__":
    h.main()
