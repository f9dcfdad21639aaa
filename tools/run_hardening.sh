#!/usr/bin/env bash
# The hardening runs, after tools/setup.sh: the whole test suite built with
# Clang under AddressSanitizer and UndefinedBehaviorSanitizer and run through
# CTest (LeakSanitizer checks every test process at exit, the memory soaks
# check mid-run), then each libFuzzer target from its seeds.
#
#   tools/run_hardening.sh            # CI: a fixed run of each target, about a minute each
#   tools/run_hardening.sh 3600       # an hour per target, from a new random seed each time
#   TESSARINE_FUZZ_ONLY=1 tools/run_hardening.sh 600   # fuzz only, build kept
#
# The CI run uses a fixed seed and a fixed count of inputs, so that its result
# does not depend on luck: the same inputs are tried on every run, and any
# crash the longer runs find is fixed and kept as a regression input.
#
# Inputs that crash a target land in $build/fuzz-artifacts. The corpus a
# timed run grows is kept in $build/fuzz-corpus and carried into the next;
# the CI run starts from the seeds alone every time.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TESSARINE_HARDENING_BUILD_DIR:-$root/build-hardening}
fuzz_seconds=${1:-}
jobs=$(nproc)

openvino_cmake=$("$root/.venv/bin/python" -c 'import openvino, os; print(os.path.join(os.path.dirname(openvino.__file__), "cmake"))')
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTESSARINE_FUZZ=ON -DTESSARINE_BUILD_TOOLS=OFF \
    -DOpenVINO_DIR="$openvino_cmake" -DPython3_EXECUTABLE="$root/.venv/bin/python" \
    -DTESSARINE_ASSET_WHEELS="$root/.venv/wheels" >/dev/null
cmake --build "$build" -j"$jobs"

if [ -z "${TESSARINE_FUZZ_ONLY:-}" ]; then
    ctest --test-dir "$build" --output-on-failure -j"$jobs"
fi

fuzz_dir="$build/tests/hardening/fuzz"
declare -A seeds=(
    [load_model]="$build/models"
    [inference]="$fuzz_dir/inference_seeds"
)
declare -A ci_runs=([load_model]=30000 [inference]=2500)
passed=0
failed=0
for target in load_model inference; do
    artifacts="$build/fuzz-artifacts"
    log="$build/fuzz-$target.log"
    if [ -n "$fuzz_seconds" ]; then
        corpus="$build/fuzz-corpus/$target"
        # Long runs go in child processes of a few minutes each: the runtime
        # starts and ends threads with every compiled model, and
        # AddressSanitizer keeps memory for each thread it has seen, so a
        # single process would grow by gigabytes over an hour.
        bound=(-max_total_time="$fuzz_seconds" -fork=1)
        echo "fuzzing $target for ${fuzz_seconds}s (log: $log)"
    else
        corpus="$build/fuzz-corpus-ci/$target"
        rm -rf "$corpus"
        bound=(-seed=1 -runs="${ci_runs[$target]}" -max_total_time=300)
        echo "fuzzing $target: ${ci_runs[$target]} inputs from seed 1 (log: $log)"
    fi
    mkdir -p "$corpus" "$artifacts"
    # -close_fd_mask=1: the module's console lines would drown the log.
    # No leak checks here (the sanitized suite makes them): LeakSanitizer's
    # stop-the-world tracer has crashed ("Tracer caught signal 11") while the
    # runtime's threads of eight loaded objects come and go, and the fuzzer
    # reports that as a crash of the target with an empty input.
    if ASAN_OPTIONS=detect_leaks=0 "$fuzz_dir/${target}_fuzzer" "${bound[@]}" -timeout=30 \
        -rss_limit_mb=4096 -detect_leaks=0 -close_fd_mask=1 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$target-" "$corpus" "${seeds[$target]}" >"$log" 2>&1; then
        passed=$((passed + 1))
        # A fixed run ends with its stats; a forked one with progress lines.
        grep -E '^(Done|stat::number_of_executed_units)' "$log" || grep -E '^#[0-9]+:' "$log" | tail -n 1 || true
    else
        failed=$((failed + 1))
        echo "fuzz target $target failed; the end of its log:"
        grep -v 'NEW_FUNC' "$log" | tail -n 60
        ls -l "$artifacts"
    fi
done
echo "fuzzing: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
