"""The interface header as hosts compile it, under the Microsoft ABI (the Windows
host) and the Itanium one (this build): the interface's slots and TensorData's
offsets from Clang's dumps of the real header, for x86_64-pc-windows-msvc
against stand-in standard headers with MSVC's sizes (std::string 32 bytes,
std::vector 24) and for Linux against libstdc++ with the runtime's string ABI;
and the boundary facts the header states, pinned here, since module and hosts
would agree on a wrong one: the map form's descriptor and the detect form's
rows and cell count N.

usage: check_interface_layout.py CLANG INCLUDE_DIR [ITANIUM_FLAG...]
"""
import pathlib
import re
import subprocess
import sys
import tempfile

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
    "itanium": ("x86_64-linux-gnu", [], [0, 8, 16, 40, 48, 56], 64),  # libstdc++'s old-ABI std::string is one pointer
}

# N for width x height: cells of 8, 16 and 32 pixels, each side rounded up.
CELLS = {(640, 640): 8400, (100, 50): 127, (0, 0): 3, (650, 650): 82 * 82 + 41 * 41 + 21 * 21}
PROBE = ("""#include "image_ai_inference.h"
void Probe(IImageAIInference& object) { object.ReleaseModel(); }
unsigned long long record_size = sizeof(TensorData);
static_assert(image_ai::kOutputDescriptorBytes == 64 && image_ai::kOutputDescriptorChannelsAt == 40, "descriptor");
static_assert(image_ai::kDetectionRows == 84, "detection rows");
#ifndef _MSC_VER
#include <cstdio>
int main() {
""" + "".join(f'std::printf("%llu ", (unsigned long long)image_ai::DetectionCells({w}, {h}));' for w, h in CELLS) + """
}
#endif
""").encode()


def dump(clang, target, flags, include, output):
    """Clang's layout dumps of PROBE; for Itanium also the program, run for its cell counts."""
    command = [clang, f"--target={target}", "-std=c++17", *flags, "-I", include, "-Xclang", "-fdump-vtable-layouts",
               "-Xclang", "-fdump-record-layouts", "-x", "c++", "-", *output]
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
    return [int(o) for o in re.findall(r"^\s*(\d+) \|   \S.*$", block.group(1), re.M)], int(block.group(2))


def main():
    clang, include, *itanium_flags = sys.argv[1:]
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        for abi, (target, flags, offsets, size) in ABIS.items():
            itanium = abi == "itanium"
            text = dump(clang, target, flags + (itanium_flags if itanium else []), include,
                        ["-o", f"{folder}/probe"] if itanium else ["-c", "-o", "/dev/null"])
            found, layout = slots(text), record(text)
            print(f"{abi} ({target}): {len(found)} slots, TensorData offsets and size {layout}")
            if found != SLOTS:
                failures.append(f"{abi}: slots\n  " + "\n  ".join(f"{k}: {s}" for k, s in enumerate(found)))
            if layout != (offsets, size):
                failures.append(f"{abi}: TensorData offsets and size {layout}, expected {(offsets, size)}")
        cells = [int(n) for n in subprocess.run([f"{folder}/probe"], capture_output=True, text=True).stdout.split()]
    if cells != list(CELLS.values()):
        failures.append(f"DetectionCells of {list(CELLS)}: {cells}, expected {list(CELLS.values())}")
    if failures:
        sys.exit("\n".join(failures))


if __name__ == "__main__":
    main()
