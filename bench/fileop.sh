#!/usr/bin/env bash
# Copy throughput: a folder of photo-sized files (default 400 files of 5 MB, 2 GB) copied by
# Quilla's shell file operation (bench_fileop, the copy-to path with its worker and progress
# window, headless) and by `cp -r`, taking turns, on the same disk, several rounds.
#   bench/fileop.sh [FILES] [MB_EACH] [ROUNDS]   (build first: ./build.sh bench)
# The source stays in the page cache between rounds (run it on a machine with the memory for it),
# so both copies are measured reading from memory and writing to the file system of $data.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/bin/bench_fileop
data=${QUILLA_BENCH_DATA:-/tmp/quilla-bench}/copy
files=${1:-400}
mb=${2:-5}
rounds=${3:-5}
[ -x "$bin" ] || { echo "build first: ./build.sh bench"; exit 2; }

src=$data/photos-$files-$mb
if [ ! -f "$src/photo$(printf '%04d' $((files - 1))).jpg" ]; then
    rm -rf "$src"
    mkdir -p "$src"
    for i in $(seq 0 $((files - 1))); do
        head -c $((mb * 1024 * 1024)) /dev/urandom >"$src/photo$(printf '%04d' "$i").jpg"
    done
fi
cat "$src"/* >/dev/null # into the page cache

now() { date +%s%N; }
mbps() { echo "$(( files * mb * 1024 * 1024 / 1000000 )) $1" | awk '{ printf "%.0f MB/s (%.2f s)", $1 / ($2 / 1e9), $2 / 1e9 }'; }
echo "copying $files files of $mb MB, $rounds rounds"
for r in $(seq 1 "$rounds"); do
    rm -rf "$data/by-quilla" "$data/by-cp"
    mkdir -p "$data/by-quilla" "$data/by-cp"
    sync
    t0=$(now)
    "$bin" copy "$data/by-quilla" "$src" >/dev/null
    t1=$(now)
    sync
    t2=$(now)
    cp -r "$src" "$data/by-cp/"
    t3=$(now)
    printf 'round %d  quilla %s   cp -r %s\n' "$r" "$(mbps $((t1 - t0)))" "$(mbps $((t3 - t2)))"
    cmp -s "$src/photo0000.jpg" "$data/by-quilla/$(basename "$src")/photo0000.jpg" ||
        { echo "copy differs"; exit 1; }
done
rm -rf "$data/by-quilla" "$data/by-cp"
