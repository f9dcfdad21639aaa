#!/usr/bin/env python3
"""Copies the default models and pictures out of the pinned wheels.

Usage: extract_default_assets.py WHEEL_DIR OUTPUT_DIR

Each wheel named in default_assets.txt (beside this script) must be in
WHEEL_DIR with the listed sha256; tools/setup.sh puts them there.
"""
import hashlib
import pathlib
import re
import sys
import zipfile

# (package, file inside the wheel, name in OUTPUT_DIR)
ASSETS = [
    ("rapidocr-onnxruntime", "rapidocr_onnxruntime/models/ch_PP-OCRv4_det_infer.onnx", "text_detection.onnx"),
    # A scanned page of printed text (skimage.data.page): the map mode's default.
    ("scikit-image", "skimage/data/page.png", "page.png"),
    # Handwritten formulas on paper; public domain (skimage.data.text).
    ("scikit-image", "skimage/data/text.png", "text.png"),
    # DSCOVR's launch on a Falcon 9, by SpaceX; public domain (skimage.data.rocket).
    ("scikit-image", "skimage/data/rocket.jpg", "rocket.jpg"),
    # Photos of COCO objects for the detect mode; public domain or CC0.
    ("scikit-image", "skimage/data/astronaut.png", "astronaut.png"),
    ("scikit-image", "skimage/data/coffee.png", "coffee.png"),
    ("scikit-image", "skimage/data/chelsea.png", "chelsea.png"),
]


def pinned_wheels(listing):
    """{package: (version, sha256)} from a pip requirements file with hashes."""
    pins = {}
    for line in listing.read_text().splitlines():
        match = re.match(r"^([A-Za-z0-9_.-]+)==(\S+)\s+--hash=sha256:([0-9a-f]{64})", line)
        if match:
            pins[match.group(1)] = (match.group(2), match.group(3))
    return pins


def find_wheel(wheel_dir, package, version, sha256):
    stem = re.sub(r"[-_.]+", "_", package).lower()
    for wheel in sorted(wheel_dir.glob("*.whl")):
        if wheel.name.lower().startswith(f"{stem}-{version}-"):
            if hashlib.sha256(wheel.read_bytes()).hexdigest() == sha256:
                return wheel
    sys.exit(f"{package}=={version} with sha256 {sha256} is not in {wheel_dir}: run tools/setup.sh")


def main(wheel_dir, out_dir):
    pins = pinned_wheels(pathlib.Path(__file__).with_name("default_assets.txt"))
    out_dir.mkdir(parents=True, exist_ok=True)
    for package, member, name in ASSETS:
        with zipfile.ZipFile(find_wheel(wheel_dir, package, *pins[package])) as wheel:
            (out_dir / name).write_bytes(wheel.read(member))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]))
