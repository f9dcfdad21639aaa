#!/usr/bin/env bash
# Sets up and builds, then loads a bundled model through the module on the CPU
# and prints its input and output shapes.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TESSARINE_BUILD_DIR:-$root/build}
"$root/tools/setup.sh"
"$build/tools/model_shapes" "$build/models/dynamic_conv.onnx" -1 3
