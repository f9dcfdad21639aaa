#!/usr/bin/env python3
"""Turns the two benchmark result files into the Markdown table of ratios.

Usage: write_report.py CPP.json PY.json OUTPUT.md MACHINE LOAD
MACHINE and LOAD are texts for the heading (the CPU and the load average).
"""
import json
import sys

TINY = ("tiny_map", "tiny_head")
DETECTION = ("dense_map", "detector")
FORMS = {"tiny_map": "form0", "tiny_head": "form1", "dense_map": "form0", "detector": "form1"}
TINY_BUDGET_US = 5.0
DETECTION_BUDGET = 1.02
LOAD_BUDGET = 1.05
# Above this share of the CPU time taken by others, the report says the run was disturbed.
BUSY_SHARE = 0.05


def us(value):
    return f"{value:,.1f}" if value < 1000 else f"{value:,.0f}"


def ms(value):
    return f"{value / 1000:,.1f}"


def verdict(met, share=0.0):
    """share: what other processes took of the CPU time while the row was measured."""
    text = "met" if met else "**missed**"
    return text + (f" (others took {share:.0%} of the CPU)" if share > BUSY_SHARE else "")


def inference_rows(r, p):
    rows = []
    for model in TINY + DETECTION:
        key = f"infer.{model}"
        raw = r[f"{key}.raw_async.median_us"]
        for form in (FORMS[model], "form2"):
            mine, ratio, excess = (r[f"{key}.{form}.{what}"] for what in ("median_us", "ratio", "excess_us"))
            if model in TINY:
                target, met = f"+{TINY_BUDGET_US:g} µs", excess <= TINY_BUDGET_US
            else:
                target, met = f"≤ {DETECTION_BUDGET}", ratio <= DETECTION_BUDGET
            # Only the single-image forms are timed with other buffers on every call.
            other = f"{r[f'{key}.alternating.excess_us']:+,.1f}" if form != "form2" else ""
            rows.append(f"| {model} {r[f'{key}.size']} | {form[-1]} | {us(mine)} | {us(raw)} | {excess:+,.1f} "
                        f"| {ratio:.3f} | {other} | {us(r[f'{key}.raw_infer.median_us'])} "
                        f"| {r[f'{key}.raw_rebind.excess_us']:+,.1f} "
                        f"| {ratio * p[f'py.{model}.openvino_over_onnxruntime']:.2f} "
                        f"| {target}: {verdict(met, r[f'{key}.others_cpu_share'])} |")
    return rows


def runtime_rows(r, p):
    rows = []
    for model in TINY + DETECTION:
        ov_py, ort_py = p[f"py.{model}.openvino.median_us"], p[f"py.{model}.onnxruntime.median_us"]
        module = r[f"infer.{model}.{FORMS[model]}.median_us"]
        share = p[f"py.{model}.others_cpu_share"]
        busy = f" (others took {share:.0%} of the CPU)" if share > BUSY_SHARE else ""
        rows.append(f"| {model} {r[f'infer.{model}.size']} | {us(ov_py)} | {us(ort_py)} "
                    f"| {p[f'py.{model}.openvino_over_onnxruntime']:.2f}{busy} | {module / ort_py:.2f} "
                    f"| {p[f'py.{model}.max_abs_difference']:.1e} |")
    return rows


def load_rows(r):
    rows = []
    for model in ("tiny_map", "detector"):
        key = f"load.{model}"
        ratio = r[f"{key}.module.ratio"]
        rows.append(f"| LoadModel, {model} | {ms(r[f'{key}.module.median_us'])} | {ms(r[f'{key}.raw.median_us'])} "
                    f"| {ratio:.3f} | {r[f'{key}.module.faults_per_load']:,.0f} / "
                    f"{r[f'{key}.raw.faults_per_load']:,.0f} "
                    f"| ≤ {LOAD_BUDGET}: {verdict(ratio <= LOAD_BUDGET, r[f'{key}.others_cpu_share'])} |")
    for model in ("tiny_map", "dense_map"):
        key = f"rebuild.{model}"
        rows.append(f"| rebuild on MULTI (\"NPU\" double), {model} {r[f'{key}.sizes'].replace(',', '↔')} "
                    f"| {ms(r[f'{key}.module.median_us'])} | {ms(r[f'{key}.raw.median_us'])} "
                    f"| {r[f'{key}.module.ratio']:.3f} | "
                    f"| (a call at an unchanged size: {ms(r[f'{key}.same_size.median_us'])} ms) |")
    return rows


def heap_rows(r):
    rows = []
    for model in ("tiny_map", "tiny_head"):
        small, large = (int(s) for s in r[f"heap.{model}.sizes"].split(","))
        keys = {size: f"heap.{model}.{size}" for size in (small, large)}
        for form in (FORMS[model], "form2"):
            def own(size, what):
                """What the module allocates beyond the bare request."""
                return r[f"{keys[size]}.{form}.{what}"] - r[f"{keys[size]}.raw_async.{what}"]

            # A copy of even the smaller tensor would add its whole size.
            met = (round(own(large, "allocations")) == round(own(small, "allocations"))
                   and own(large, "bytes") - own(small, "bytes") < 0.01 * r[f"{keys[small]}.tensor_bytes"])
            cells = [f"{r[f'{keys[size]}.{form}.allocations']:.0f} / {r[f'{keys[size]}.{form}.bytes']:,.0f} "
                     f"(raw {r[f'{keys[size]}.raw_async.allocations']:.0f} / "
                     f"{r[f'{keys[size]}.raw_async.bytes']:,.0f})" for size in (small, large)]
            rows.append(f"| {model}, form {form[-1]} | {small}² → {large}² "
                        f"({r[f'{keys[small]}.tensor_bytes'] / 1024:,.0f} → "
                        f"{r[f'{keys[large]}.tensor_bytes'] / 1024:,.0f} KiB) | {cells[0]} | {cells[1]} "
                        f"| {own(small, 'allocations'):.0f} / {own(small, 'bytes'):,.0f} → "
                        f"{own(large, 'allocations'):.0f} / {own(large, 'bytes'):,.0f} | {verdict(met)} |")
    return rows


def resident_rows(r):
    rows = []
    for model in ("tiny_map", "tiny_head"):
        for form in (FORMS[model], "form2"):
            before, after = r[f"rss.{model}.{form}.after_100_kib"], r[f"rss.{model}.{form}.after_10000_kib"]
            rows.append(f"| {model}, form {form[-1]} | {before:,.0f} | {after:,.0f} | {after - before:+,.0f} |")
    return rows


def heading(r, p, machine, load):
    threads = int(r["infer.detector.threads"])
    lines = [
        f"Machine: {machine}; load average {load}; other processes took {r['others_cpu_share']:.1%} "
        f"of the CPU time during the C++ part, {p['others_cpu_share']:.1%} during the Python part "
        "(measurements they disturbed were taken again). "
        f"OpenVINO {r['openvino_version'].split('-')[0]}, ONNX Runtime {p['onnxruntime_version']} "
        f"(CPU provider), {threads} inference threads in both.",
        "",
    ]
    if r.get("quick"):
        lines += ["**A quick run: too few rounds for real numbers.**", ""]
    # Only the last attempt at each measurement counts; earlier ones were dropped for this reason.
    disturbed = [key for results in (r, p) for key, share in results.items()
                 if key.endswith(".others_cpu_share") and share > BUSY_SHARE]
    if disturbed:
        lines += [f"**Other processes kept the machine busy during {len(disturbed)} of the measurements even after "
                  "a second attempt: their numbers are disturbed; run again when the machine is quiet.**", ""]
    return lines + [
        "Per-call times are medians over rounds in which the variants take turns (each round's sample is the mean "
        "of its calls); ratios and differences are medians of the round-by-round ones. \"raw\" is an "
        "`ov::InferRequest` made from the module's own compiled model, with tensors over the same host buffers set "
        "once; \"raw rebinding\" sets new tensors on every call. The module binds the host's buffers only when "
        "they differ from those its request holds; \"other buffers every call\" alternates two sets, so that "
        "it must bind every time. Module / ONNX Runtime = (module / raw start_async+wait, C++) × "
        "(OpenVINO / ONNX Runtime, both through Python in one process, no copies, a pause before every sample so "
        "that neither runtime's spinning threads slow the other).",
        "",
        "A raw load is `read_model` of the same bytes, `compile_model` on the CPU with LoadModel's configuration "
        "and `create_infer_request`. A rebuild is a call at a new size on device -2 (MULTI over the \"NPU\" "
        "double), against the raw `read_model`, `reshape`, `compile_model` on MULTI, `create_infer_request` and "
        "inference. The C++ program pins glibc's mmap threshold at 32 MiB, so that which side's large blocks "
        "come as fresh pages does not depend on what the run freed before.",
        "",
    ]


def tables(r, p):
    return [
        "| model, input | form | module µs | raw start_async+wait µs | module − raw µs | module / raw "
        "| module − raw, other buffers every call µs | raw infer µs | raw rebinding − raw µs "
        "| module / ONNX Runtime | target |",
        "|---|---|---|---|---|---|---|---|---|---|---|",
        *inference_rows(r, p),
        "",
        "| model, input | OpenVINO (Python) µs | ONNX Runtime (Python) µs | OpenVINO / ONNX Runtime "
        "| module (C++) / ONNX Runtime (Python) | largest output difference |",
        "|---|---|---|---|---|---|",
        *runtime_rows(r, p),
        "",
        "| load | module ms | raw ms | module / raw | page faults per load, module / raw | target |",
        "|---|---|---|---|---|---|",
        *load_rows(r),
        "",
        "Heap allocations per call, count / bytes, every thread of the process (raw: the bare request):",
        "",
        "| model, form | sizes | small | large | the module's own (module − raw), small → large "
        "| independent of the tensor |",
        "|---|---|---|---|---|---|",
        *heap_rows(r),
        "",
        "| resident memory (VmRSS) | after 100 calls KiB | after 10,000 calls KiB | growth KiB |",
        "|---|---|---|---|",
        *resident_rows(r),
    ]


def main():
    cpp_path, py_path, out_path, machine, load = sys.argv[1:6]
    with open(cpp_path) as f:
        r = json.load(f)
    with open(py_path) as f:
        p = json.load(f)
    text = "\n".join(heading(r, p, machine, load) + tables(r, p)) + "\n"
    with open(out_path, "w") as f:
        f.write(text)
    print(text)


if __name__ == "__main__":
    main()
