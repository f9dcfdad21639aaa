#!/usr/bin/env bash
# Sets up and builds, then runs the whole test suite through CTest.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TESSARINE_BUILD_DIR:-$root/build}
"$root/tools/setup.sh"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" -E '^onnx_node_cases$' "$@"
# The tests of the inference forms and of the host tool again, with the CPU
# plugin held to AVX2 (its oneDNN honours the cap in the release build), so
# that a machine with AVX-512 or AMX proves the path of a CPU without bf16 or
# f16 as well; on an AVX2 machine this is the same run twice.
ONEDNN_MAX_CPU_ISA=AVX2 ctest --test-dir "$build" --output-on-failure -j"$(nproc)" \
    -R '^(Lifecycle|Loads|Traces|ImageFormsOnCpu|TensorsForm|RebuildOnNpu|BothModules|host_tool)' "$@"
# The ONNX node cases on their own, verbose, so that their counts show.
ctest --test-dir "$build" --verbose -R '^onnx_node_cases$'
# The suite again under the sanitizers, and each fuzz target for a minute.
"$root/tools/run_hardening.sh"
