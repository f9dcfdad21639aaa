#!/usr/bin/env python3
"""OpenVINO against ONNX Runtime's CPU provider, both through Python (its wheel has no C++ headers) in one process,
over the same arrays with no copy and with the threads OpenVINO takes under LoadModel's configuration; adds a table
to the report. Usage: compare_runtimes.py BUILD_DIR REPORT.md [--quick]
"""
import os
import statistics
import sys
import time

import numpy as np
import onnxruntime as ort
import openvino as ov

# Folder in the build tree, model, input side, (warm-up calls, rounds, calls per round), as in bench_main.cpp.
CASES = (("models", "dynamic_conv", 32, (200, 60, 100)), ("models", "detect_head", 64, (200, 60, 100)),
         ("bench_models", "dense_map", 640, (3, 40, 1)), ("bench_models", "detector", 640, (3, 40, 1)))
# Each runtime's worker threads spin for a while after a run before they sleep; on two cores that spinning slowed
# whichever runtime ran next by half, so every sample starts after this pause.
PAUSE_S = 0.05


def time_interleaved(calls, warmup, rounds, per_round):
    """Microseconds per call, one sample per round, the calls taking turns."""
    for call in calls:
        for _ in range(warmup):
            call()
    samples = [[] for _ in calls]
    for r in range(rounds):
        for k in range(len(calls)):
            v = (k + r) % len(calls)
            time.sleep(PAUSE_S)
            start = time.perf_counter()
            for _ in range(per_round):
                calls[v]()
            samples[v].append((time.perf_counter() - start) / per_round * 1e6)
    return samples


def cpu_properties(build):
    """LoadModel's configuration of the CPU for precision code 3, as the bench (which links the module) wrote it."""
    with open(os.path.join(build, "cpu_properties.txt")) as lines:
        return dict(line.rstrip("\n").split("\t", 1) for line in lines if line.strip())


def compare(core, path, name, side, plan, cpu_config):
    image = np.random.default_rng(5).uniform(-1, 1, (1, 3, side, side)).astype(np.float32)
    compiled = core.compile_model(path, "CPU", cpu_config)
    threads = int(compiled.get_property("INFERENCE_NUM_THREADS"))
    options = ort.SessionOptions()
    options.intra_op_num_threads, options.inter_op_num_threads = threads, 1
    options.execution_mode = ort.ExecutionMode.ORT_SEQUENTIAL
    session = ort.InferenceSession(path, options, providers=["CPUExecutionProvider"])
    ort_out = np.zeros_like(session.run(None, {session.get_inputs()[0].name: image})[0])
    ov_out = np.zeros_like(ort_out)
    binding = session.io_binding()
    binding.bind_input(session.get_inputs()[0].name, "cpu", 0, np.float32, image.shape, image.ctypes.data)
    binding.bind_output(session.get_outputs()[0].name, "cpu", 0, np.float32, ort_out.shape, ort_out.ctypes.data)
    request = compiled.create_infer_request()
    request.set_input_tensor(ov.Tensor(image, shared_memory=True))
    request.set_output_tensor(ov.Tensor(ov_out, shared_memory=True))

    def run_openvino():
        request.infer()  # the call the module makes

    print(f"runtimes: {name}", file=sys.stderr)
    ov_us, ort_us = time_interleaved((run_openvino, lambda: session.run_with_iobinding(binding)), *plan)
    # Both must have computed the same thing for their times to compare.
    difference = np.abs(ov_out - ort_out).max()
    if not difference <= 1e-4:
        raise SystemExit(f"{name}: OpenVINO and ONNX Runtime computed different outputs")
    ratio = statistics.median(a / b for a, b in zip(ov_us, ort_us))
    return (f"| {name} {side}x{side} | {statistics.median(ov_us):,.1f} | {statistics.median(ort_us):,.1f} "
            f"| {ratio:.2f} | {difference:.1g} | {threads} |")


def cpu_name():
    with open("/proc/cpuinfo") as cpuinfo:
        for line in cpuinfo:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return "an unknown CPU"


def main():
    build, report = sys.argv[1:3]
    quick = "--quick" in sys.argv[3:]
    core = ov.Core()
    cpu_config = cpu_properties(build)
    rows = []
    for folder, name, side, (warmup, rounds, per_round) in CASES:
        plan = (warmup, max(2, rounds // 4) if quick else rounds, per_round)
        rows.append(compare(core, f"{build}/{folder}/{name}.onnx", name, side, plan, cpu_config))
    with open(report, "a") as f:
        f.write(f"\nOpenVINO {ov.__version__.split('-')[0]} against ONNX Runtime {ort.__version__} (CPU provider), "
                f"on {cpu_name()}, both through Python in one process, in the same rounds:\n\n| model, input | OpenVINO µs "
                "| ONNX Runtime µs | OpenVINO / ONNX Runtime | largest difference | threads |\n"
                "|---|---|---|---|---|---|\n" + "\n".join(rows) + "\n")


if __name__ == "__main__":
    main()
