#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer into build/fuzz and runs each for a set time.
#   fuzz/run_fuzz.sh [seconds per target] [target...]
# New inputs that add coverage go to build/fuzz/corpus/<target>; crashes to
# build/fuzz/artifacts/<target>/. Exits non-zero when any target found a crash.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
SECONDS_PER_TARGET=${1:-60}
shift || true
BUILD=$ROOT/build/fuzz
# The targets write small files on every input; memory-backed folders keep that fast.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

cmake -S fuzz -B "$BUILD" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then
    TARGETS=(request_fuzzer local_path_fuzzer variables_fuzzer progress_fuzzer config_port_fuzzer)
fi
cmake --build "$BUILD" -j 2 --target "${TARGETS[@]}"

# Only the server's requests need room for a header that fills the slot's 128 KiB buffer.
maxLength() {
    case $1 in
        request_fuzzer) echo 140000 ;;
        progress_fuzzer) echo 256 ;;
        *) echo 4096 ;;
    esac
}

failed=()
for target in "${TARGETS[@]}"; do
    corpus=$BUILD/corpus/$target
    artifacts=$BUILD/artifacts/$target
    mkdir -p "$corpus" "$artifacts"
    log=$BUILD/$target.log
    echo "== $target: ${SECONDS_PER_TARGET}s"
    # The first folder takes new inputs; the seeds in the repository are only read.
    if ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
        "$BUILD/$target" -max_total_time="$SECONDS_PER_TARGET" -max_len="$(maxLength "$target")" \
            -timeout=20 -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$artifacts/" \
            "$corpus" "$ROOT/fuzz/corpus/$target" >"$log" 2>&1; then
        grep -E '^stat::(number_of_executed_units|new_units_added|peak_rss_mb)|^Done ' "$log" | tr '\n' ' '
        echo
    else
        echo "FAILED: $target (see $log; crash inputs in $artifacts)"
        grep -E 'ERROR: |SUMMARY: |==[0-9]+==|deadly signal|Test unit written' "$log" | head -20
        failed+=("$target")
    fi
done
if [ ${#failed[@]} -ne 0 ]; then
    echo "Fuzz targets that failed: ${failed[*]}"
    exit 1
fi
