#!/usr/bin/env bash
# Sets up and builds, then measures the module against the raw runtime (C++,
# one process) and OpenVINO against ONNX Runtime (Python, one process); both
# write their tables to out/bench.md, which is printed at the end. Pass
# --quick for a short trial run whose numbers mean little.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TESSARINE_BUILD_DIR:-$root/build}
"$root/tools/setup.sh"
cmake --build "$build" --target tessarine_bench -j"$(nproc)"
mkdir -p "$root/out"
machine="$(lscpu | sed -n 's/^Model name: *//p' | head -n1), $(nproc) cores"
"$build/bench/tessarine_bench" "$build" "$root/out/bench.md" "$machine" "$@"
"$root/.venv/bin/python" "$root/bench/compare_runtimes.py" "$build" "$root/out/bench.md" "$@"
cat "$root/out/bench.md"
