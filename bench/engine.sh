#!/usr/bin/env bash
# The thumbnail engine, headless:
#  1. 200 camera-size JPEGs without Exif thumbnails on one core (taskset -c 0) and on two
#     (taskset -c 0,1), side by side: thumbnails per second and their ratio;
#  2. the user-interface thread's longest stall while a folder of 30 PNGs and 30 TIFFs of
#     4000 × 3000 and 200 camera JPEGs loads, on two cores;
#  3. 20,000 photos scrolled from top to bottom at 320 × 320: peak resident memory against the
#     budget (256 MB by default);
#  4. the first and the second visit of 500 PNGs of 4000 × 3000 (the shared thumbnail cache, in a
#     temporary folder): seconds each and their ratio.
#   bench/engine.sh [PART...]    (build first: ./build.sh bench; parts 1 to 4, all by default)
# Files are made once in /tmp/quilla-bench (or $QUILLA_BENCH_DATA); many are links to a few
# distinct pictures, which the engine decodes as separate files.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/bin/bench_engine
data=${QUILLA_BENCH_DATA:-/tmp/quilla-bench}
[ -x "$bin" ] || { echo "build first: ./build.sh bench"; exit 2; }
for tool in convert taskset; do
    command -v $tool >/dev/null || { echo "missing: $tool"; exit 2; }
done
parts=${*:-1 2 3 4}
export MAGICK_THREAD_LIMIT=1

# A few distinct 4000 × 3000 photo-like pictures, from which every set is made.
base() {
    local dir=$data/engine
    mkdir -p "$dir"
    for i in 1 2 3 4 5; do
        [ -f "$dir/base$i.jpg" ] ||
            convert -size 4000x3000 plasma:fractal -seed $i -blur 0x2 -quality 90 "$dir/base$i.jpg"
    done
}

# links NAME COUNT EXT SOURCE... : a folder of COUNT links cycling over the sources
links() {
    local dir=$data/engine/$1 count=$2 ext=$3; shift 3
    if [ ! -e "$dir/$(printf '%05d' "$count").$ext" ]; then
        rm -rf "$dir"; mkdir -p "$dir"
        local srcs=("$@") n=${#srcs[@]}
        for i in $(seq 1 "$count"); do
            ln -s "${srcs[$(( (i - 1) % n ))]}" "$dir/$(printf '%05d' "$i").$ext"
        done
    fi
    echo "$dir"
}

base
e=$data/engine
if [[ " $parts " == *" 1 "* ]]; then
    jpegs=$(links jpeg200 200 jpg "$e"/base?.jpg)
    cat "$e"/base?.jpg >/dev/null
    echo "== 200 camera JPEGs (4000 x 3000, no Exif thumbnail), thumbnails per second"
    one=$(taskset -c 0 "$bin" rate "$jpegs" 2>/dev/null)
    two=$(taskset -c 0,1 "$bin" rate "$jpegs" 2>/dev/null)
    echo "1 core:  $one"
    echo "2 cores: $two"
    r1=$(echo "$one" | sed 's/.*: \([0-9.]*\) per second/\1/')
    r2=$(echo "$two" | sed 's/.*: \([0-9.]*\) per second/\1/')
    echo "ratio 2 cores / 1 core: $(echo "scale=2; $r2 / $r1" | bc)"
fi
if [[ " $parts " == *" 2 "* ]]; then
    for i in 1 2 3; do
        [ -f "$e/big$i.png" ] || convert "$e/base$i.jpg" "$e/big$i.png"
        [ -f "$e/big$i.tif" ] || convert "$e/base$i.jpg" -compress lzw "$e/big$i.tif"
    done
    mixed=$e/mixed
    if [ ! -e "$mixed/j200.jpg" ]; then
        rm -rf "$mixed"; mkdir -p "$mixed"
        for i in $(seq 1 30); do
            ln -s "$e/big$(( (i - 1) % 3 + 1 )).png" "$mixed/p$(printf '%03d' "$i").png"
            ln -s "$e/big$(( (i - 1) % 3 + 1 )).tif" "$mixed/t$(printf '%03d' "$i").tif"
        done
        for i in $(seq 1 200); do
            ln -s "$e/base$(( (i - 1) % 5 + 1 )).jpg" "$mixed/j$(printf '%03d' "$i").jpg"
        done
    fi
    echo "== 30 PNGs, 30 TIFFs and 200 JPEGs loading in a shown window, 2 cores"
    taskset -c 0,1 "$bin" stall "$mixed" 2>/dev/null
fi
if [[ " $parts " == *" 3 "* ]]; then
    for i in $(seq 1 20); do
        [ -f "$e/photo$i.jpg" ] ||
            convert "$e/base$(( (i - 1) % 5 + 1 )).jpg" -resize 1200x900 -roll +$((i * 37))+0 \
                -quality 85 "$e/photo$i.jpg"
    done
    many=$(links many20000 20000 jpg "$e"/photo*.jpg)
    echo "== 20,000 photos scrolled top to bottom at 320 x 320, 2 cores"
    taskset -c 0,1 "$bin" memory "$many" 2>/dev/null
fi
if [[ " $parts " == *" 4 "* ]]; then
    for i in 1 2 3 4 5; do
        [ -f "$e/big$i.png" ] || convert "$e/base$i.jpg" "$e/big$i.png"
    done
    pngs=$(links png500 500 png "$e"/big?.png)
    echo "== 500 PNGs of 4000 x 3000: first and second visit, 2 cores"
    taskset -c 0,1 "$bin" visit "$pngs" 2>/dev/null
fi
