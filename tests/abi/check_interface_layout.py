# The interface header as hosts compile it, under the Microsoft ABI (the Windows
# host) and the Itanium one (this build): the interface's slots from Clang's
# vtable dumps of the real header, and TensorData's offsets and size asserted
# in it, for x86_64-pc-windows-msvc against stand-in standard headers with
# MSVC's sizes (std::string 32 bytes, std::vector 24) and for Linux against
# libstdc++ with the runtime's string ABI; and the boundary facts the header
# states, pinned here, since module and hosts would agree on a wrong one: the
# map form's descriptor and the detect form's rows and cell count N.
#
# usage: check_interface_layout.py CLANG INCLUDE_DIR [ITANIUM_FLAG...]
import pathlib
import re
import subprocess
import sys
import tempfile

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
# Per ABI: target, flags, and TensorData's size and offsets of name, type, dims, data, size, reserved.
MSVC_STD = ["-nostdinc", "-isystem", str(pathlib.Path(__file__).resolve().parent / "msvc_std")]
ABIS = [("x86_64-pc-windows-msvc", MSVC_STD, 88, [0, 32, 40, 64, 72, 80]),
        ("x86_64-linux-gnu", [], 64, [0, 8, 16, 40, 48, 56])]  # libstdc++'s old-ABI std::string is one pointer
# N for width x height: cells of 8, 16 and 32 pixels, each side rounded up, an empty side one cell, summed in 32
# bits as a host sums them: the last two wrap.
CELLS = {(640, 640): 8400, (100, 50): 127, (33, 17): 5 * 3 + 3 * 2 + 2 * 1, (1, 1): 3, (0, 0): 3,
         (0, 640): 80 + 40 + 20, (650, 650): 82 * 82 + 41 * 41 + 21 * 21, (1 << 20, 1 << 20): 1 << 30,
         (480000, 480000): 60000 * 60000 + 30000 * 30000 + 15000 * 15000 - (1 << 32)}
PROBE = """#include "image_ai_inference.h"
void Probe(IImageAIInference& object) { object.ReleaseModel(); }
static_assert(image_ai::kOutputDescriptorBytes == 64 && image_ai::kOutputDescriptorChannelsAt == 40, "descriptor");
static_assert(image_ai::kDetectionRows == 84, "detection rows");
static_assert(sizeof(TensorData) == %d, "TensorData's size");
%s
#ifndef _MSC_VER
#include <cstdio>
int main() {
""" + "".join(f'std::printf("%%llu ", (unsigned long long)image_ai::DetectionCells({w}, {h}));' for w, h in CELLS) + """
}
#endif
"""


def main():
    clang, include, *itanium_flags = sys.argv[1:]
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        for target, flags, size, offsets in ABIS:
            fields = zip(["name", "type", "dims", "data", "size", "reserved"], offsets)
            probe = PROBE % (size, "".join(f'static_assert(__builtin_offsetof(TensorData, {f}) == {o}, "{f}");\n'
                                           for f, o in fields))
            itanium = not flags
            command = [clang, f"--target={target}", "-std=c++17", "-Wno-invalid-offsetof", *flags,
                       *(itanium_flags if itanium else []), "-I", include, "-Xclang", "-fdump-vtable-layouts",
                       "-x", "c++", "-", *(["-o", f"{folder}/probe"] if itanium else ["-c", "-o", "/dev/null"])]
            run = subprocess.run(command, input=probe.encode(), stdout=subprocess.PIPE, check=True)
            # The slots in table order; Itanium's two destructor entries are one slot.
            table = re.search(r"^(?:VFTable|Vtable) for 'IImageAIInference' .*?\n(.*?)\n\n", run.stdout.decode(),
                              re.M | re.S).group(1)
            entries = re.findall(r"^\s*\d+ \| (?:\w[\w:<> ]* )?IImageAIInference::(.*?)(?: \[.*\])?$", table, re.M)
            found = [e for i, e in enumerate(entries) if not (i and e.startswith("~") and entries[i - 1][0] == "~")]
            print(f"{target}: {len(found)} slots; TensorData's layout as asserted")
            if found != SLOTS:
                failures.append(f"{target}: slots\n  " + "\n  ".join(f"{k}: {s}" for k, s in enumerate(found)))
        cells = [int(n) for n in subprocess.run([f"{folder}/probe"], capture_output=True, text=True).stdout.split()]
    if cells != list(CELLS.values()):
        failures.append(f"DetectionCells of {list(CELLS)}: {cells}, expected {list(CELLS.values())}")
    if failures:
        sys.exit("\n".join(failures))


main()
