#!/usr/bin/env bash
# Sets up and builds, then runs the host tool on the default models and
# pictures through the module on the CPU: PP-OCRv4's text detector in map mode
# and YOLOX-Nano, trained on COCO, in detect mode on three photos. The pictures
# go to out/ (or $TESSARINE_OUT_DIR).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TESSARINE_BUILD_DIR:-$root/build}
out=${TESSARINE_OUT_DIR:-$root/out}
"$root/tools/setup.sh"

run="$build/tools/tessarine_run"
echo
echo "== map: text detection probability map (PP-OCRv4 det from RapidOCR) on scikit-image's scanned page.png"
"$run" map --out "$out" --repeat 10
for photo in astronaut coffee chelsea; do
    echo
    echo "== detect: COCO objects (YOLOX-Nano, 416x416) on scikit-image's $photo.png"
    "$run" detect "$build/defaults/$photo.png" --out "$out" --repeat 10
done
echo
echo "pictures in $out:"
ls -1 "$out"/*.png
