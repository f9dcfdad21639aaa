#!/usr/bin/env bash
# Sets up and builds, then runs the whole test suite through CTest.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TESSARINE_BUILD_DIR:-$root/build}
"$root/tools/setup.sh"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" -E '^onnx_node_cases$' "$@"
# The ONNX node cases on their own, verbose, so that their counts show.
ctest --test-dir "$build" --verbose -R '^onnx_node_cases$'
# The suite again under the sanitizers, and each fuzz target for a minute.
"$root/tools/run_hardening.sh"
