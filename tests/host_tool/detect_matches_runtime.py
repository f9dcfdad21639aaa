#!/usr/bin/env python3
"""detect mode (DoInference(1)) against the runtime and against a decoding
written here independently of the tool's, on the default detector and
picture; the letterbox checked through the tool on synthetic pictures.

Tolerances: the raw head may differ from the runtime's by 1e-3 pixels in the
box rows and 1e-5 in the score rows. Printed detections must match the
reference decoding of the runtime's head in class and order, with scores
within 1e-4 and box corners within 0.01 pixels (the printed precision).
"""
import unittest

import numpy as np

import tool_harness as h

DETECTION = (r'^detection class=(\d+) name="([^"]*)" score=([0-9.]+) '
             r'box=\[([-0-9.]+), ([-0-9.]+), ([-0-9.]+), ([-0-9.]+)\]$')


def iou(a, b):
    w = max(0.0, min(a[2], b[2]) - max(a[0], b[0]))
    h_ = max(0.0, min(a[3], b[3]) - max(a[1], b[1]))
    inter = w * h_
    union = (a[2] - a[0]) * (a[3] - a[1]) + (b[2] - b[0]) * (b[3] - b[1]) - inter
    return inter / union if union > 0 else 0.0


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


def to_picture(box, width, height, target=640):
    """Undoes the letterbox: content scaled to fit, centred, each axis by its own factor."""
    scale = min(target / width, target / height)
    content_w, content_h = int(np.floor(width * scale + 0.5)), int(np.floor(height * scale + 0.5))
    left, top = (target - content_w) // 2, (target - content_h) // 2
    x = lambda v: min(max((v - left) * width / content_w, 0.0), width)
    y = lambda v: min(max((v - top) * height / content_h, 0.0), height)
    return np.array([x(box[0]), y(box[1]), x(box[2]), y(box[3])])


class DefaultDetector(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        w = h.ARGS.work
        cls.model = h.ARGS.defaults / "yolov8n_seeded.onnx"
        cls.tool = h.run_tool("detect", "--model", cls.model, h.ARGS.defaults / "rocket.jpg", "--out", w / "out",
                             "--save-input", w / "input.npy", "--save-output", w / "head.npy")
        cls.input = np.load(w / "input.npy")
        cls.head = np.load(w / "head.npy")
        cls.reference_head = h.reference_model(cls.model)(cls.input)[0]

    def test_raw_head_equals_the_runtime(self):
        self.assertEqual(self.head.shape, (1, 84, 8400))
        np.testing.assert_allclose(self.head[0, :4], self.reference_head[0, :4], atol=1e-3, rtol=0)
        np.testing.assert_allclose(self.head[0, 4:], self.reference_head[0, 4:], atol=1e-5, rtol=0)

    def test_printed_detections_equal_the_reference_decoding(self):
        expected = reference_detections(self.reference_head[0])
        got = h.printed(DETECTION, self.tool.stdout)
        self.assertGreater(len(expected), 0, "the default picture should give the seeded model some boxes")
        self.assertEqual([int(g[0]) for g in got], [e[0] for e in expected])
        for (_, _, score, *box), (_, ref_score, ref_box) in zip(got, expected):
            self.assertAlmostEqual(float(score), ref_score, delta=1e-4)
            np.testing.assert_allclose(np.array(box, float), to_picture(ref_box, 640, 427), atol=0.01, rtol=0)
        self.assertRegex(self.tool.stdout, rf"detections: {len(expected)} ")

    def test_max_detections_keeps_the_best(self):
        run = h.run_tool("detect", "--model", self.model, h.ARGS.defaults / "rocket.jpg", "--out",
                         h.ARGS.work / "out3", "--max-detections", 3, "--score", 0.3)
        got = [int(g[0]) for g in h.printed(DETECTION, run.stdout)]
        self.assertEqual(got, [e[0] for e in reference_detections(self.reference_head[0], 0.3, 0.45, 3)])

    def test_writes_the_picture_at_its_own_size(self):
        self.assertEqual(h.png_size(h.ARGS.work / "out" / "rocket_detect.png"), (640, 427))

    def test_says_the_seeded_model_is_meaningless(self):
        self.assertIn("MEANINGLESS", self.tool.stdout)
        self.assertRegex(self.tool.stdout, r"input 0: \[1, 3, 640, 640\]")
        self.assertRegex(self.tool.stdout, r"output 0: \[1, 84, 8400\]")


class LetterboxThroughTheTool(unittest.TestCase):
    """A 160 x 80 picture, red on the left and blue on the right, fills 640 x 320
    of the canvas between 160 grey rows above and below."""

    @classmethod
    def setUpClass(cls):
        pixels = np.zeros((80, 160, 3), np.uint8)
        pixels[:, :80] = (200, 0, 0)
        pixels[:, 80:] = (0, 0, 200)
        picture = h.ARGS.work / "halves.png"
        h.write_png(picture, pixels)
        saved = h.ARGS.work / "halves_input.npy"
        h.run_tool("detect", "--model", h.ARGS.defaults / "yolov8n_seeded.onnx", picture,
                   "--out", h.ARGS.work / "halves_out", "--save-input", saved)
        cls.canvas = np.load(saved)[0] * 255

    def test_padding_rows_are_grey(self):
        np.testing.assert_allclose(self.canvas[:, :160], 114, atol=1e-3)
        np.testing.assert_allclose(self.canvas[:, 480:], 114, atol=1e-3)

    def test_content_rows_hold_the_scaled_picture(self):
        # Columns near the middle blend the two halves; away from it each is pure.
        red, blue = self.canvas[:, 160:480, :300], self.canvas[:, 160:480, 340:]
        np.testing.assert_allclose(red, np.broadcast_to(np.array([200., 0, 0])[:, None, None], red.shape), atol=1e-3)
        np.testing.assert_allclose(blue, np.broadcast_to(np.array([0., 0, 200])[:, None, None], blue.shape), atol=1e-3)


if __name__ == "__main__":
    h.main()
