#!/usr/bin/env python3
"""Writes the seeds of inference_fuzzer, encoded as it decodes its bytes: a
subject (the index of a model and device in its table), then calls. The seed
named in a subject's row holds its plain calls, which the fuzzer also runs
after every sequence and compares with their results at start-up.
Usage: make_inference_seeds.py OUTPUT_DIR
"""
import pathlib
import struct
import sys

MAP, DETECT, TENSORS = 0, 1, 2
U8, F32 = 2, 10
NO_NULLS = 0x10  # low nibble 0: no pointer is null


def freeing_first(kind):
    """A call's kind byte (taken modulo 3) with the high bit that has the host free the earlier calls' buffers first."""
    return 0x80 + (kind - 0x80) % 3


def dim(d):
    """-2 .. 9 in one byte; any other 64-bit value raw."""
    return bytes([d + 2]) if -2 <= d <= 9 else bytes([0xF0]) + struct.pack("<q", d)


def record(name_pick, dims, type_code=F32):
    """name_pick indexes the subject's names (inputs, then outputs); the last byte asks for a buffer."""
    return bytes([name_pick, type_code, len(dims)]) + b"".join(dim(d) for d in dims) + bytes([1])


def tensors(inputs, outputs, kind=TENSORS):
    return bytes([kind, len(inputs)]) + b"".join(inputs) + bytes([len(outputs)]) + b"".join(outputs)


def map_call(width, height, channels):
    return bytes([MAP, width, height, 1, channels, NO_NULLS])


FULL = tensors([record(0, [1, 4]), record(1, [1, 4])], [record(2, [1, 4]), record(3, [1, 4])])
SEEDS = {
    "two_inputs": bytes([0]) + FULL,
    # Into a host buffer, then into one the runtime allocates.
    "ragged_output": bytes([1]) + tensors([record(0, [1, 5])], [record(1, [1, 5])])
    + tensors([record(0, [1, 3])], [record(1, [1, -1])]),
    "dynamic_conv": bytes([2]) + map_call(8, 6, 2),
    "detect_head": bytes([3, DETECT, 16, 16, NO_NULLS]),
    "typed_u8": bytes([4]) + tensors([record(0, [2, 3], U8)], [record(1, [2, 3], U8)]),
    "any_batch": bytes([5]) + tensors([record(0, [1, 3, 4, 5])], [record(1, [1, 3, 4, 5])]),
    "two_inputs_npu": bytes([6]) + FULL,
    "dynamic_conv_npu": bytes([7]) + map_call(10, 7, 2) + tensors([record(0, [1, 3, 6, 8])], [record(1, [1, 2, 6, 8])]),
    # An input named twice, after the host freed the buffers of the call before.
    "two_inputs_after_a_free": bytes([0]) + FULL + tensors([record(0, [1, 4]), record(0, [1, 4])],
                                                           [record(2, [1, 4]), record(3, [1, 4])], freeing_first(TENSORS)),
    "ragged_wrapping_dims": bytes([1]) + tensors([record(0, [1, 2**62 + 1])], [record(1, [1, -1])]),
}

if __name__ == "__main__":
    out = pathlib.Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    for name, seed in SEEDS.items():
        (out / name).write_bytes(seed)
