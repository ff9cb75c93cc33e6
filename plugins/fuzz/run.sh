#!/usr/bin/env bash
# Builds the plug-ins' fuzz targets (clang, libFuzzer, ASan, UBSan) and runs each for a bounded
# time on a copy of its corpus.
#   plugins/fuzz/run.sh [SECONDS]           default 120 seconds per plug-in
#   plugins/fuzz/run.sh SECONDS --merge     also adds the inputs that found new coverage to the
#                                           corpus kept in plugins/fuzz/corpus
#   QUILLA_FUZZ_TARGETS="webp jxl" ...      only these (webp heif jxl raw)
#   QUILLA_FUZZ_SEED=N                      libFuzzer's seed (0, the default, picks one)
#   QUILLA_FUZZ_RUNS=fixed                  stop each plug-in after its fixed number of inputs
#                                           (below) instead of at the time, SECONDS staying the
#                                           upper bound; with a fixed seed, a repeatable run
#   QUILLA_FUZZ_HOST_TESTS=.../imaging_tests   afterwards, the corpus grown in this run (kept
#                                           inputs and those libFuzzer found) decoded through the
#                                           program's plug-in helpers (Shipped.TheFuzzCorpus…)
# A crash leaves its input in build-fuzz/artifacts/ and makes the script fail.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-120}
merge=${2:-}
build=$root/build-fuzz
cmake -S "$root/plugins/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
mkdir -p "$build/artifacts"
# The same sanitizer settings for fuzzing and merging; leaks inside the system's AV1 decoder are
# not the plug-in's (lsan.supp).
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export LSAN_OPTIONS=suppressions=$root/plugins/fuzz/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Inputs per plug-in in a run bounded by count: about a minute and a half each on one core.
declare -A fixed_runs=([webp]=40000 [heif]=60000 [jxl]=50000 [raw]=5000)
status=0
for name in ${QUILLA_FUZZ_TARGETS:-webp heif jxl raw}; do
    kept=$root/plugins/fuzz/corpus/$name
    work=$build/corpus/$name
    mkdir -p "$work"
    cp -n "$kept"/* "$work"/ 2>/dev/null || true
    bound=()
    if [ "${QUILLA_FUZZ_RUNS:-}" = fixed ]; then
        bound=(-runs="${fixed_runs[$name]}")
        echo "== fuzzing $name.spi with ${fixed_runs[$name]} inputs (at most $seconds s)"
    else
        echo "== fuzzing $name.spi for $seconds s"
    fi
    if ! "$build/fuzz_$name" -max_total_time="$seconds" "${bound[@]}" -seed="${QUILLA_FUZZ_SEED:-0}" \
        -timeout=20 -rss_limit_mb=2560 \
        -malloc_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$name-" "$work" 2>"$build/fuzz-$name.log"; then
        echo "fuzz_$name found a fault:"
        tail -40 "$build/fuzz-$name.log"
        status=1
    fi
    grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$build/fuzz-$name.log" ||
        true
    if [ "$merge" = "--merge" ]; then
        "$build/fuzz_$name" -merge=1 -max_len=65536 -rss_limit_mb=2560 -malloc_limit_mb=2048 \
            -artifact_prefix="$build/artifacts/$name-merge-" "$kept" "$work" 2>/dev/null ||
            echo "merging the corpus of $name failed"
    fi
done
# The same inputs as the program meets them: each file through quilla-spihost, the host code
# path of the thumbnails and the preview. The host must survive every one, and each must decode
# or fail with its reason.
if [ -n "${QUILLA_FUZZ_HOST_TESTS:-}" ]; then
    echo "== the corpus through the plug-in helpers"
    if ! QUILLA_FUZZ_CORPUS=$build/corpus "$QUILLA_FUZZ_HOST_TESTS" \
        --gtest_filter=Shipped.TheFuzzCorpusThroughTheHelpers >"$build/host.log" 2>&1; then
        echo "the plug-in host failed on the corpus:"
        tail -40 "$build/host.log"
        status=1
    fi
    grep -E '^[0-9]+ inputs from' "$build/host.log" || true
fi
exit $status
