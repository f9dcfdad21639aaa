#!/usr/bin/env python3
"""Writes seed inputs for inference_fuzzer: one plain, valid call per loaded
model, encoded as inference_fuzzer.cpp decodes its bytes, so that mutation
starts from calls that reach the runtime. Usage: make_inference_seeds.py OUTPUT_DIR
"""
import os
import sys

SINGLE_IMAGE, DETECTION, NAMED = 0, 1, 2
U8, F32 = 2, 10
NO_NULLS = 0x10  # low nibble 0: no pointer is null


def record(name_pick, dims, type_code=F32, data=1):
    """name_pick indexes the subject's names (inputs, then outputs); dims -2 .. 9."""
    return bytes([name_pick, type_code, len(dims)] + [d + 2 for d in dims] + [data])


def named(inputs, outputs):
    return bytes([NAMED, len(inputs)]) + b"".join(inputs) + bytes([len(outputs)]) + b"".join(outputs)


def single_image(width, height, channels):
    return bytes([SINGLE_IMAGE, width, height, 1, channels, NO_NULLS])


def detection(width, height):
    return bytes([DETECTION, width, height, NO_NULLS])


SEEDS = {
    "two_inputs": bytes([0]) + named([record(0, [1, 4]), record(1, [1, 4])], [record(2, [1, 4]), record(3, [1, 4])]),
    "ragged_bound": bytes([1]) + named([record(0, [1, 5])], [record(1, [1, 5])]),
    "ragged_runtime": bytes([1]) + named([record(0, [1, 3])], [record(1, [1, -1])]),
    "dynamic_conv": bytes([2]) + single_image(8, 6, 2),
    "detect_head": bytes([3]) + detection(16, 16),
    "typed_u8": bytes([4]) + named([record(0, [2, 3], U8)], [record(1, [2, 3], U8)]),
    "any_batch": bytes([5]) + named([record(0, [1, 3, 4, 5])], [record(1, [1, 3, 4, 5])]),
    "two_inputs_npu": bytes([6]) + named([record(0, [1, 4]), record(1, [1, 4])], [record(2, [1, 4]), record(3, [1, 4])]),
    "dynamic_conv_npu": bytes([7]) + single_image(10, 7, 2) + named([record(0, [1, 3, 6, 8])], [record(1, [1, 2, 6, 8])]),
}


def main():
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    for name, seed in SEEDS.items():
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(seed)


if __name__ == "__main__":
    main()
