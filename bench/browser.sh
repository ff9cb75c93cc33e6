#!/usr/bin/env bash
# Browser benchmark, headless, on one core:
#  1. a folder of N image files (100,000 unless given; names, sizes and dates only: the files are
#     empty or sparse): time from listing to the first painted screen, and memory per entry before
#     pictures load; then the same folder ordered by size and by date: the first screen (names)
#     and the final order once the worker's sizes and dates are in, and a refresh;
#  2. idle loading of 200 camera-size (4000 × 3000) JPEGs without and with Exif thumbnails:
#     thumbnails per second (when bench/thumbnails.sh has made its files).
#   bench/browser.sh [N]       (build first: ./build.sh bench; part 2 reuses bench/thumbnails.sh's files)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/bin/bench_browser
data=${QUILLA_BENCH_DATA:-/tmp/quilla-bench}
count=${1:-100000}
[ -x "$bin" ] || { echo "build first: ./build.sh bench"; exit 2; }
[[ $count =~ ^[0-9]+$ ]] && [ "$count" -gt 0 ] || { echo "usage: $0 [N]"; exit 2; }

# The 100,000-file folder keeps its old name and names; other counts get a folder of their own.
if [ "$count" = 100000 ]; then big=$data/listing; width=6; else big=$data/listing-$count; width=7; fi
last=$(printf "img%0${width}d" $((count - 1)))
if ! ls "$big/$last".* >/dev/null 2>&1; then
    mkdir -p "$big"
    python3 - "$big" "$count" "$width" <<'PY'
import os, random, sys
d, n, w = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
random.seed(1)
exts = ['.jpg', '.JPG', '.png', '.gif', '.bmp', '.tif']
for i in range(n):
    p = os.path.join(d, 'img%0*d%s' % (w, i, exts[i % len(exts)]))
    with open(p, 'wb') as f:
        f.truncate(random.randint(1000, 8000000))
    t = 1500000000 + random.randint(0, 200000000)
    os.utime(p, (t, t))
PY
fi
echo "== listing"
taskset -c 0 "$bin" listing "$big" 2>/dev/null
# The same folder ordered by size and by date: names first, the order when the sizes and dates
# are in (the worker shares the one core).
for key in size date; do
    echo "== ordered by $key"
    taskset -c 0 "$bin" order "$big" $key 2>/dev/null
done

echo "== idle loading"
[ -d "$data/photo" ] || { echo "skipped: run bench/thumbnails.sh first for the camera-size files"; exit 0; }
for kind in plain exif; do
    dir=$data/idle-$kind
    if [ ! -d "$dir" ]; then
        mkdir -p "$dir"
        src=$data/photo; [ $kind = exif ] && src=$data/photo/exif
        n=0
        for round in 1 2 3 4 5; do
            for f in "$src"/[0-9]*.jpg; do
                n=$((n + 1)); ln -s "$f" "$dir/$(printf '%03d' $n).jpg"
            done
        done
    fi
    cat "$dir"/*.jpg >/dev/null
    printf '%-6s ' "$kind"
    taskset -c 0 "$bin" idle "$dir" 2>/dev/null
done
