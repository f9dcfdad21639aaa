"""What the end-to-end checks of tessarine_run share: the command line they
are given by CTest, running the tool, the reference runtime, small PNGs.

Every check compares against OpenVINO's own Python API running the same model
file on the same input on the CPU with f32 inference precision, which is what
the tool asks of the module with --device -1 --precision 3.
"""
import argparse
import ctypes.util
import pathlib
import re
import shutil
import struct
import subprocess
import sys
import unittest
import zlib

import numpy as np
import openvino as ov

ARGS = None


def parse_args():
    """Takes the paths CTest passes; the rest of argv goes to unittest."""
    global ARGS
    parser = argparse.ArgumentParser()
    for name in ("--tool", "--defaults", "--work"):
        parser.add_argument(name, required=True, type=pathlib.Path)
    ARGS, rest = parser.parse_known_args()
    shutil.rmtree(ARGS.work, ignore_errors=True)
    ARGS.work.mkdir(parents=True)
    return [sys.argv[0]] + rest


def main():
    unittest.main(argv=parse_args(), verbosity=2)


def run_tool(*args, expect_success=True):
    """The tool's completed process; a failed run fails the calling test unless expected."""
    done = subprocess.run([str(ARGS.tool), *map(str, args)], capture_output=True, text=True, timeout=240)
    if expect_success and done.returncode != 0:
        raise AssertionError(f"tessarine_run {' '.join(map(str, args))} exited {done.returncode}\n"
                             f"stdout:\n{done.stdout}\nstderr:\n{done.stderr}")
    return done


def reference_model(model_path):
    """The model compiled directly with the runtime, as the module compiles it for -1 / 3."""
    return ov.Core().compile_model(str(model_path), "CPU", {"INFERENCE_PRECISION_HINT": "f32"})


def write_png(path, rgb):
    """An 8-bit RGB PNG of an [H, W, 3] uint8 array, written without any imaging library."""
    height, width, _ = rgb.shape
    rows = b"".join(b"\x00" + rgb[y].tobytes() for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows))
                     + chunk(b"IEND", b""))


def read_picture(path):
    """[H, W, 3] uint8 RGB of a PNG or JPEG, read with the stb library the tool is built with."""
    stb = ctypes.CDLL(ctypes.util.find_library("stb"))
    stb.stbi_load.restype = ctypes.POINTER(ctypes.c_uint8)
    width, height, channels = ctypes.c_int(), ctypes.c_int(), ctypes.c_int()
    pixels = stb.stbi_load(str(path).encode(), ctypes.byref(width), ctypes.byref(height), ctypes.byref(channels), 3)
    if not pixels:
        raise AssertionError(f"cannot read the picture {path}")
    rgb = np.ctypeslib.as_array(pixels, (height.value, width.value, 3)).copy()
    stb.stbi_image_free(pixels)
    return rgb


def png_size(path):
    """(width, height) from a PNG's header."""
    data = path.read_bytes()[:24]
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise AssertionError(f"{path} is not a PNG")
    return struct.unpack(">II", data[16:24])


def printed(pattern, text):
    """All matches of a regular expression in the tool's output."""
    return re.findall(pattern, text, flags=re.MULTILINE)
