"""The interface's slots and TensorData's offsets as Clang lays them out for the
Microsoft ABI (the Windows host) and the Itanium one (this build), from its
dumps of the real header: for x86_64-pc-windows-msvc against stand-in standard
headers with MSVC's sizes (std::string 32 bytes, std::vector 24), for Linux
against libstdc++ with the runtime's string ABI.

usage: check_interface_layout.py CLANG INCLUDE_DIR [ITANIUM_FLAG...]
"""
import pathlib
import re
import subprocess
import sys

HERE = pathlib.Path(__file__).resolve().parent

SLOTS = [
    "~IImageAIInference()",
    "LoadModel(const void *, uint64_t, int32_t, uint32_t)",
    "ReleaseModel()",
    "DoInference(const std::vector<TensorData> &, std::vector<TensorData> &)",
    "DoInference(uint32_t, uint32_t, void *, void *, uint64_t *, uint64_t *, uint64_t *)",
    "DoInference(uint32_t, uint32_t, void *, const void *, uint32_t, uint32_t, void *)",
    "GetInputShape(uint32_t, int64_t *, int64_t *, int64_t *, int64_t *, int64_t *)",
    "GetOutputShape(uint32_t, int64_t *, int64_t *, int64_t *, int64_t *, int64_t *)",
    "GetLastErrorMessage()",
]

# Field offsets of TensorData (name, type, dims, data, size, reserved) and its size.
ABIS = {
    "microsoft": ("x86_64-pc-windows-msvc", ["-nostdinc", "-isystem", str(HERE / "msvc_std")],
                  [0, 32, 40, 64, 72, 80], 88),
    # libstdc++'s old-ABI std::string is one pointer.
    "itanium": ("x86_64-linux-gnu", [], [0, 8, 16, 40, 48, 56], 64),
}

PROBE = b"""#include "image_ai_inference.h"
void Probe(IImageAIInference& object) { object.ReleaseModel(); }
unsigned long long record_size = sizeof(TensorData);
"""


def dump(clang, target, flags, include):
    command = [clang, f"--target={target}", "-std=c++17", *flags, "-I", include, "-Xclang", "-fdump-vtable-layouts",
               "-Xclang", "-fdump-record-layouts", "-x", "c++", "-c", "-", "-o", "/dev/null"]
    run = subprocess.run(command, input=PROBE, capture_output=True)
    if run.returncode != 0:
        sys.exit(f"{' '.join(command)} failed:\n{run.stderr.decode()}")
    return run.stdout.decode()


def slots(text):
    """Interface slots in table order; Itanium's two destructor entries are one slot."""
    table = re.search(r"^(?:VFTable|Vtable) for 'IImageAIInference' .*?\n(.*?)\n\n", text, re.M | re.S).group(1)
    entries = re.findall(r"^\s*\d+ \| (?:\w[\w:<> ]* )?IImageAIInference::(.*?)(?: \[.*\])?$", table, re.M)
    return [e for i, e in enumerate(entries) if not (i and e.startswith("~") and entries[i - 1].startswith("~"))]


def record(text):
    block = re.search(r"^\s*0 \| struct TensorData\n(.*?)\[sizeof=(\d+)", text, re.M | re.S)
    offsets = [int(o) for o in re.findall(r"^\s*(\d+) \|   \S.*$", block.group(1), re.M)]
    return offsets, int(block.group(2))


def main():
    clang, include, *itanium_flags = sys.argv[1:]
    failures = []
    for abi, (target, flags, offsets, size) in ABIS.items():
        text = dump(clang, target, flags + (itanium_flags if abi == "itanium" else []), include)
        found, layout = slots(text), record(text)
        print(f"{abi} ({target}): {len(found)} slots, TensorData offsets and size {layout}")
        if found != SLOTS:
            failures.append(f"{abi}: slots\n  " + "\n  ".join(f"{k}: {s}" for k, s in enumerate(found)))
        if layout != (offsets, size):
            failures.append(f"{abi}: TensorData offsets and size {layout}, expected {(offsets, size)}")
    if failures:
        sys.exit("\n".join(failures))


if __name__ == "__main__":
    main()
