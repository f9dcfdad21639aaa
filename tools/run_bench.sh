#!/usr/bin/env bash
# Sets up and builds, then runs the benchmark: the module against the raw
# OpenVINO runtime (C++, one process) and OpenVINO against ONNX Runtime
# (Python, one process). Prints the table of ratios and writes it to
# out/bench.md. Pass --quick for a short trial run whose numbers mean little.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TESSARINE_BUILD_DIR:-$root/build}
out=$root/out
"$root/tools/setup.sh"
cmake --build "$build" --target tessarine_bench -j"$(nproc)"

# Busy and total ticks of all CPUs.
cpu_ticks() { awk '/^cpu /{print $2+$3+$4+$7+$8+$9, $2+$3+$4+$5+$6+$7+$8+$9}' /proc/stat; }

busy_percent() {
    local busy1 total1 busy2 total2
    read -r busy1 total1 < <(cpu_ticks)
    sleep 2
    read -r busy2 total2 < <(cpu_ticks)
    echo $(((busy2 - busy1) * 100 / (total2 > total1 ? total2 - total1 : 1)))
}

# The runtimes use every core, so anything else running slows them unevenly:
# wait up to about forty seconds for the machine to fall quiet.
wait_for_quiet() {
    local try busy
    for try in $(seq 20); do
        busy=$(busy_percent)
        ((busy <= 10)) && return
        echo "run_bench: the CPUs are ${busy}% busy, waiting for them to fall quiet ($try/20)" >&2
    done
}

mkdir -p "$out"
machine="$(lscpu | sed -n 's/^Model name: *//p' | head -n1), $(nproc) cores"
wait_for_quiet
load_before=$(cut -d' ' -f1 /proc/loadavg)
"$build/bench/tessarine_bench" "$build/bench_models" "$out/bench_openvino.json" "$@"
wait_for_quiet
"$root/.venv/bin/python" "$root/bench/compare_runtimes.py" "$build/bench_models" "$out/bench_openvino.json" \
    "$out/bench_runtimes.json" "$@"
load_after=$(cut -d' ' -f1 /proc/loadavg)
"$root/.venv/bin/python" "$root/bench/write_report.py" "$out/bench_openvino.json" "$out/bench_runtimes.json" \
    "$out/bench.md" "$machine" "$load_before at the start, $load_after at the end (1 minute)"
echo "Written to $out/bench.md"
