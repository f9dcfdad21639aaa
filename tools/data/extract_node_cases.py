#!/usr/bin/env python3
# Writes the ONNX backend's node test cases in a form the conformance test
# (tests/conformance/) reads.
#
# Usage: extract_node_cases.py WHEEL_DIR OUTPUT_DIR
#
# The cases come from the pinned onnx==1.16.2 wheel (tools/data/default_assets.txt),
# which tools/setup.sh downloads; the wheel is read, not installed. OUTPUT_DIR
# gets each case's model as NAME.onnx, every tensor's bytes in data.bin, and
# cases.txt, one tab-separated line per item:
#
#   case NAME KIND     KIND: run, or why the module cannot be given the case:
#                      scalar (a rank-0 input or output), type (an element type
#                      without a DataType code), not_tensor (a sequence, map or
#                      optional), unreadable (data the onnx package cannot read),
#                      no_inputs (DoInference takes at least one input)
#   set                a test data set of the case before
#   in|out NAME CODE TYPE OFFSET BYTES DIMS...   a tensor of that set: its
#                      DataType code, its element type in OpenVINO's spelling
#                      (from the array's own kind and width, so that the
#                      reference does not share the code's table), where its
#                      bytes are in data.bin, its dims
import pathlib
import sys
import zipfile

import numpy as np
import onnx
from onnx import TensorProto, numpy_helper

from extract_default_assets import find_wheel, pinned_wheels

TOOLS = pathlib.Path(__file__).resolve().parent

NODE_DIR = "onnx/backend/test/data/node/"
DATA_TYPE_CODES = {getattr(TensorProto, t): code for code, t in enumerate(
    "BOOL INT8 UINT8 INT16 UINT16 INT32 UINT32 INT64 UINT64 FLOAT16 FLOAT DOUBLE".split())}


def read_sets(wheel, case, members):
    """[(inputs, outputs)] per data set, each a list of TensorProto in index order."""
    def tensors(data_set, kind):
        files = sorted((m for m in members if m.startswith(f"{data_set}/{kind}_")),
                       key=lambda m: int(m.rsplit("_", 1)[1].split(".")[0]))
        return [TensorProto.FromString(wheel.read(NODE_DIR + case + "/" + m)) for m in files]
    sets = sorted({m.split("/")[0] for m in members if m.startswith("test_data_set_")})
    return [(tensors(s, "input"), tensors(s, "output")) for s in sets]


def kind_of(model, sets):
    if any(p.type.WhichOneof("value") != "tensor_type" for p in list(model.graph.input) + list(model.graph.output)):
        return "not_tensor"
    protos = [t for data_set in sets for tensors in data_set for t in tensors]
    try:
        for t in protos:
            numpy_helper.to_array(t)
    except Exception:  # protos of elements the onnx package cannot turn into arrays
        return "unreadable"
    if any(t.data_type not in DATA_TYPE_CODES for t in protos):
        return "type"
    if any(len(t.dims) == 0 for t in protos):
        return "scalar"
    return "no_inputs" if any(not inputs for inputs, _ in sets) else "run"


def main(wheel_dir, out_dir):
    out_dir.mkdir(parents=True, exist_ok=True)
    lines = []
    wheel_file = find_wheel(wheel_dir, "onnx", *pinned_wheels(TOOLS / "default_assets.txt")["onnx"])
    with zipfile.ZipFile(wheel_file) as wheel, open(out_dir / "data.bin", "wb") as data:
        by_case = {}
        for name in wheel.namelist():
            if name.startswith(NODE_DIR) and not name.endswith("/"):
                case, member = name[len(NODE_DIR):].split("/", 1)
                by_case.setdefault(case, []).append(member)
        for case in sorted(by_case):
            model_bytes = wheel.read(NODE_DIR + case + "/model.onnx")
            model, sets = onnx.load_from_string(model_bytes), read_sets(wheel, case, by_case[case])
            kind = kind_of(model, sets)
            lines.append(f"case\t{case}\t{kind}")
            if kind != "run":
                continue
            (out_dir / f"{case}.onnx").write_bytes(model_bytes)
            initializers = {t.name for t in model.graph.initializer}
            names = {"in": [i.name for i in model.graph.input if i.name not in initializers],
                     "out": [o.name for o in model.graph.output]}
            for inputs, outputs in sets:
                lines.append("set")
                for side, protos in (("in", inputs), ("out", outputs)):
                    for index, proto in enumerate(protos):
                        name = names[side][index] if index < len(names[side]) else proto.name
                        array = np.ascontiguousarray(numpy_helper.to_array(proto))
                        dims = "\t".join(str(d) for d in array.shape)
                        element = "boolean" if array.dtype.kind == "b" else f"{array.dtype.kind}{array.dtype.itemsize * 8}"
                        lines.append(f"{side}\t{name}\t{DATA_TYPE_CODES[proto.data_type]}\t{element}\t"
                                     f"{data.tell()}\t{array.nbytes}\t{dims}")
                        data.write(array.tobytes())
    (out_dir / "cases.txt").write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: extract_node_cases.py WHEEL_DIR OUTPUT_DIR")
    main(pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]))
