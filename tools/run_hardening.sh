#!/usr/bin/env bash
# The hardening runs, after the set-up of tools/setup.sh: the whole test suite built with
# Clang under AddressSanitizer and UndefinedBehaviorSanitizer and run through
# CTest (LeakSanitizer checks the test processes at exit), then each libFuzzer
# target from its seeds.
#
#   tools/run_hardening.sh            # CI: a fixed run of each target, about a minute each
#   tools/run_hardening.sh 3600       # an hour per target, from a new random seed each time
#   TESSARINE_FUZZ_ONLY=1 tools/run_hardening.sh 600   # fuzz only, build kept
#
# The CI run tries the same inputs every time (a fixed seed and count), so its
# result does not depend on luck; a crash a longer run finds is fixed and kept
# as a regression input. Crashing inputs land in $build/fuzz-artifacts; a
# timed run's corpus is kept in $build/fuzz-corpus for the next.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TESSARINE_HARDENING_BUILD_DIR:-$root/build-hardening}
fuzz_seconds=${1:-}

# The system packages, the venv and the asset wheels; this script builds its
# own tree.
"$root/tools/setup.sh" --no-build

openvino_cmake=$("$root/.venv/bin/python" -c \
    'import openvino, os; print(os.path.join(os.path.dirname(openvino.__file__), "cmake"))')
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTESSARINE_FUZZ=ON -DTESSARINE_BUILD_TOOLS=OFF -DOpenVINO_DIR="$openvino_cmake" \
    -DPython3_EXECUTABLE="$root/.venv/bin/python" \
    -DTESSARINE_ASSET_WHEELS="$root/.venv/wheels" >/dev/null
cmake --build "$build" -j"$(nproc)"
[ -n "${TESSARINE_FUZZ_ONLY:-}" ] || ctest --test-dir "$build" --output-on-failure -j"$(nproc)"

fuzz_dir="$build/tests/hardening/fuzz"
failed=0
for target in load_model:30000:"$build/models" inference:2500:"$root/tests/hardening/fuzz/seeds"; do
    IFS=: read -r name runs seeds <<<"$target"
    log="$build/fuzz-$name.log"
    if [ -n "$fuzz_seconds" ]; then
        corpus="$build/fuzz-corpus/$name"
        # Child processes of a few minutes each: the runtime starts and ends
        # threads with every compiled model, and AddressSanitizer keeps memory
        # for every thread it has seen, so one process would grow by gigabytes.
        bound=(-max_total_time="$fuzz_seconds" -fork=1)
    else
        corpus="$build/fuzz-corpus-ci/$name"
        rm -rf "$corpus"
        bound=(-seed=1 -runs="$runs" -max_total_time=300)
    fi
    echo "fuzzing $name: ${bound[*]} (log: $log)"
    mkdir -p "$corpus" "$build/fuzz-artifacts"
    # No leak checks here (the sanitized suite makes them): LeakSanitizer's
    # tracer has crashed ("Tracer caught signal 11") among the runtime's
    # threads, which the fuzzer reports as a crash on an empty input.
    # -close_fd_mask=1: the module's console lines would drown the log.
    if ASAN_OPTIONS=detect_leaks=0 "$fuzz_dir/${name}_fuzzer" "${bound[@]}" -timeout=30 -rss_limit_mb=4096 \
        -detect_leaks=0 -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$name-" \
        "$corpus" "$seeds" >"$log" 2>&1; then
        grep -E '^(Done|stat::number_of_executed_units)' "$log" || grep -E '^#[0-9]+:' "$log" | tail -n 1 || true
    else
        failed=$((failed + 1))
        echo "fuzz target $name failed; the end of its log:"
        grep -v 'NEW_FUNC' "$log" | tail -n 60
    fi
done
echo "fuzzing: $failed of 2 targets failed"
[ "$failed" -eq 0 ]
