#!/usr/bin/env python3
"""OpenVINO against ONNX Runtime (CPU provider) on the benchmark's models.

ONNX Runtime's wheel has no C++ headers, so the comparison runs here, through
both runtimes' Python APIs, in one process, with the same buffers and the
same number of threads as the module's compiled model. Each runtime's call is
the leanest its Python API offers, with no copy on either side:
OpenVINO: start_async and wait on a request whose tensors wrap the arrays;
ONNX Runtime: run_with_iobinding with the arrays bound as input and output.
The module's ratio to ONNX Runtime is then
(module / raw OpenVINO, C++) x (OpenVINO / ONNX Runtime, Python).

Usage: compare_runtimes.py MODEL_DIR CPP_RESULTS.json OUTPUT.json [--quick]
"""
import json
import os
import statistics
import sys
import time

import numpy as np
import onnxruntime as ort
import openvino as ov

# Model, input side, output shape for that side; the same cases, warm-up and
# rounds as the C++ program's.
CASES = (
    ("tiny_map", 32, (1, 2, 32, 32), (200, 60, 100)),
    ("tiny_head", 64, (1, 84, 84), (200, 60, 100)),
    ("dense_map", 640, (1, 2, 640, 640), (3, 40, 1)),
    ("detector", 640, (1, 84, 8400), (3, 40, 1)),
)

# LoadModel's configuration for device -1 and precision code 3.
CPU_CONFIG = {
    "EXECUTION_MODE_HINT": "PERFORMANCE",
    "INFERENCE_PRECISION_HINT": "f32",
    "SCHEDULING_CORE_TYPE": "ANY_CORE",
    "ENABLE_CPU_PINNING": True,
}


# Each runtime's worker threads spin for a while after a run before they
# sleep; on two cores that spinning would slow whichever runtime runs next (by
# half, seen here), so every sample starts after this pause.
PAUSE_S = 0.05
BUSY_SHARE = 0.05
ATTEMPTS = 2


def time_interleaved(variants, warmup, rounds, calls):
    """Per-call samples in microseconds, one per round, variants taking turns."""
    for call in variants.values():
        for _ in range(warmup):
            call()
    names = list(variants)
    samples = {name: [] for name in names}
    for r in range(rounds):
        for k in range(len(names)):
            name = names[(k + r) % len(names)]
            call = variants[name]
            time.sleep(PAUSE_S)
            start = time.perf_counter()
            for _ in range(calls):
                call()
            samples[name].append((time.perf_counter() - start) / calls * 1e6)
    return samples


def cpu_snapshot():
    """Busy and total ticks of all CPUs, and this process's own ticks."""
    with open("/proc/stat") as f:
        user, nice, system, idle, iowait, irq, softirq, steal = (float(v) for v in f.readline().split()[1:9])
    busy = user + nice + system + irq + softirq + steal
    own = sum(os.times()[:2]) * os.sysconf("SC_CLK_TCK")
    return busy, busy + idle + iowait, own


def others_share(start, end):
    total = end[1] - start[1]
    others = (end[0] - start[0]) - (end[2] - start[2])
    return max(others, 0) / total if total > 0 else 0


def openvino_call(core, path, image, output):
    compiled = core.compile_model(path, "CPU", CPU_CONFIG)
    request = compiled.create_infer_request()
    request.set_input_tensor(ov.Tensor(image, shared_memory=True))
    request.set_output_tensor(ov.Tensor(output, shared_memory=True))

    def call():
        request.start_async()
        request.wait()

    return call, int(compiled.get_property("INFERENCE_NUM_THREADS"))


def onnxruntime_call(path, image, output, threads):
    options = ort.SessionOptions()
    options.intra_op_num_threads = threads
    options.inter_op_num_threads = 1
    options.execution_mode = ort.ExecutionMode.ORT_SEQUENTIAL
    session = ort.InferenceSession(path, options, providers=["CPUExecutionProvider"])
    binding = session.io_binding()
    binding.bind_input(session.get_inputs()[0].name, "cpu", 0, np.float32, image.shape, image.ctypes.data)
    binding.bind_output(session.get_outputs()[0].name, "cpu", 0, np.float32, output.shape, output.ctypes.data)
    return lambda: session.run_with_iobinding(binding)


def compare(core, model_dir, case, threads, quick, results):
    name, side, output_shape, (warmup, rounds, calls) = case
    if quick:
        rounds = max(2, rounds // 4)
    path = f"{model_dir}/{name}.onnx"
    image = np.random.default_rng(5).uniform(-1, 1, (1, 3, side, side)).astype(np.float32)
    ov_output = np.zeros(output_shape, np.float32)
    ort_output = np.zeros(output_shape, np.float32)
    ov_call, ov_threads = openvino_call(core, path, image, ov_output)
    if ov_threads != threads:
        raise SystemExit(f"{name}: OpenVINO uses {ov_threads} threads here, the module's model {threads}")
    ort_call = onnxruntime_call(path, image, ort_output, threads)
    print(f"runtimes: {name} at {side}x{side}", file=sys.stderr)
    key = f"py.{name}"
    # Measured once more if other processes took more than BUSY_SHARE of the
    # CPU time: anything else running slows one of the runtimes' threads and
    # so the whole inference. More attempts would stretch a busy run too long.
    for attempt in range(ATTEMPTS):
        start = cpu_snapshot()
        samples = time_interleaved({"openvino": ov_call, "onnxruntime": ort_call}, warmup, rounds, calls)
        share = others_share(start, cpu_snapshot())
        if share <= BUSY_SHARE:
            break
        print(f"{key}: other processes took {share:.0%} of the CPU time"
              + ("; measuring again shortly" if attempt < ATTEMPTS - 1 else ""), file=sys.stderr)
        if attempt < ATTEMPTS - 1:
            time.sleep(5)  # a build on a shared machine comes in bursts: give this one time to pass
    results[f"{key}.others_cpu_share"] = share
    for variant, values in samples.items():
        results[f"{key}.{variant}.min_us"] = min(values)
        results[f"{key}.{variant}.median_us"] = statistics.median(values)
    # Round by round, between samples taken moments apart.
    results[f"{key}.openvino_over_onnxruntime"] = statistics.median(
        a / b for a, b in zip(samples["openvino"], samples["onnxruntime"]))
    results[f"{key}.threads"] = threads
    results[f"{key}.rounds"] = rounds
    results[f"{key}.max_abs_difference"] = float(np.abs(ov_output - ort_output).max())


def main():
    model_dir, cpp_results_path, output_path = sys.argv[1:4]
    quick = "--quick" in sys.argv[4:]
    with open(cpp_results_path) as f:
        cpp_results = json.load(f)
    results = {"onnxruntime_version": ort.__version__, "openvino_python_version": ov.__version__}
    core = ov.Core()
    start = cpu_snapshot()
    for case in CASES:
        compare(core, model_dir, case, int(cpp_results[f"infer.{case[0]}.threads"]), quick, results)
    results["others_cpu_share"] = others_share(start, cpu_snapshot())
    with open(output_path, "w") as f:
        json.dump(results, f, indent=2, sort_keys=True)


if __name__ == "__main__":
    main()
