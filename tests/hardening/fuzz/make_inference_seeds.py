#!/usr/bin/env python3
"""Writes seed inputs for inference_fuzzer: one plain, valid call per loaded
model, encoded as inference_fuzzer.cpp decodes its bytes, so that mutation
starts from calls that reach the runtime. Usage: make_inference_seeds.py OUTPUT_DIR
"""
import os
import struct
import sys

SINGLE_IMAGE, DETECTION, NAMED = 0, 1, 2
U8, F32 = 2, 10
NO_NULLS = 0x10  # low nibble 0: no pointer is null




def freeing(form):
    """A call's first byte for form, with the high bit that has the host free
    the earlier calls' buffers first (the form is the byte modulo 3)."""
    return 0x80 + (form - 0x80) % 3


def dim(d):
    """-2 .. 9 in one byte; any other 64-bit value raw."""
    return bytes([d + 2]) if -2 <= d <= 9 else bytes([0xF0]) + struct.pack("<q", d)


def record(name_pick, dims, type_code=F32, data=1):
    """name_pick indexes the subject's names (inputs, then outputs)."""
    return bytes([name_pick, type_code, len(dims)]) + b"".join(dim(d) for d in dims) + bytes([data])


def named(inputs, outputs, kind=NAMED):
    return bytes([kind, len(inputs)]) + b"".join(inputs) + bytes([len(outputs)]) + b"".join(outputs)


def single_image(width, height, channels):
    return bytes([SINGLE_IMAGE, width, height, 1, channels, NO_NULLS])


def detection(width, height):
    return bytes([DETECTION, width, height, NO_NULLS])


FULL = named([record(0, [1, 4]), record(1, [1, 4])], [record(2, [1, 4]), record(3, [1, 4])])  # of two_inputs

SEEDS = {
    "two_inputs": bytes([0]) + FULL,
    "ragged_bound": bytes([1]) + named([record(0, [1, 5])], [record(1, [1, 5])]),
    "ragged_runtime": bytes([1]) + named([record(0, [1, 3])], [record(1, [1, -1])]),
    "dynamic_conv": bytes([2]) + single_image(8, 6, 2),
    "detect_head": bytes([3]) + detection(16, 16),
    "typed_u8": bytes([4]) + named([record(0, [2, 3], U8)], [record(1, [2, 3], U8)]),
    "any_batch": bytes([5]) + named([record(0, [1, 3, 4, 5])], [record(1, [1, 3, 4, 5])]),
    "two_inputs_npu": bytes([6]) + FULL,
    "dynamic_conv_npu": bytes([7]) + single_image(10, 7, 2) + named([record(0, [1, 3, 6, 8])],
                                                                    [record(1, [1, 2, 6, 8])]),
    # A call after one whose buffers the host has freed, naming an input twice.
    "two_inputs_after_a_free": bytes([0]) + FULL + named([record(0, [1, 4]), record(0, [1, 4])],
                                                         [record(2, [1, 4]), record(3, [1, 4])], freeing(NAMED)),
    # Dims whose byte count wraps to 4.
    "ragged_wrapping_dims": bytes([1]) + named([record(0, [1, 2**62 + 1])], [record(1, [1, -1])]),
}


def main():
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    for name, seed in SEEDS.items():
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(seed)


if __name__ == "__main__":
    main()
