#!/usr/bin/env bash
# The built-in formats against libvips: one 160-pixel thumbnail of the same photo-like file as
# JPEG 12 MP and 24 MP, PNG, LZW TIFF (as ImageMagick writes it) and GIF, made by Quilla (the
# grid's own worker code, bench_thumbs, shared cache off) and by `vipsthumbnail -s 160`, each a
# whole process on one core (taskset -c 0), timed in alternating pairs; the ratio is the median of
# the pairs' ratios. Then the peak memory (maximum resident set, /usr/bin/time -v) of both for the
# TIFF, and the size of an LZW TIFF saved by Quilla against libvips and ImageMagick.
#   bench/formats.sh [PAIRS]      (build first: ./build.sh test, or the bench_thumbs target)
set -euo pipefail
pairs=${1:-15}
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/bin/bench_thumbs
data=${QUILLA_BENCH_DATA:-/tmp/quilla-bench}/formats
for tool in convert vips vipsthumbnail taskset bc; do
    command -v $tool >/dev/null || { echo "missing: $tool (apt-get install imagemagick libvips-tools bc)"; exit 2; }
done
[ -x /usr/bin/time ] || { echo "missing: /usr/bin/time (apt-get install time)"; exit 2; }
[ -x "$bin" ] || { echo "build first: ./build.sh test"; exit 2; }
export MAGICK_THREAD_LIMIT=1 VIPS_CONCURRENCY=1 OMP_NUM_THREADS=1 QT_QPA_PLATFORM=offscreen
mkdir -p "$data"

# One photo-like picture (smooth colour with fine grain), in every format.
photo() { # width height out
    [ -f "$3" ] || convert -size "$1x$2" -seed 1 plasma:fractal \
        \( -size "$1x$2" xc:gray50 -seed 3 +noise Gaussian -blur 0x0.5 \) \
        -compose overlay -composite -depth 8 "$3"
}
photo 4000 3000 "$data/base12.ppm"
photo 6000 4000 "$data/base24.ppm"
[ -f "$data/p12.jpg" ] || convert "$data/base12.ppm" -quality 90 "$data/p12.jpg"
[ -f "$data/p24.jpg" ] || convert "$data/base24.ppm" -quality 90 "$data/p24.jpg"
[ -f "$data/p12.png" ] || convert "$data/base12.ppm" "$data/p12.png"
[ -f "$data/p12.tif" ] || convert "$data/base12.ppm" -compress LZW "$data/p12.tif"
[ -f "$data/p12.gif" ] || convert "$data/base12.ppm" -colors 256 "$data/p12.gif"

now() { date +%s%N; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# Median of A/B over the pairs, and the medians of A and B in milliseconds.
pair() { # file
    local f=$1 ratios=() as=() bs=() t0 t1 t2
    cat "$f" >/dev/null
    for _ in 1 2; do # warm-up
        taskset -c 0 "$bin" 160 "$f" >/dev/null 2>&1
        taskset -c 0 vipsthumbnail -s 160 -o "$out/%s.jpg" "$f"
    done
    for _ in $(seq 1 "$pairs"); do
        t0=$(now); taskset -c 0 "$bin" 160 "$f" >/dev/null 2>&1; t1=$(now)
        taskset -c 0 vipsthumbnail -s 160 -o "$out/%s.jpg" "$f"; t2=$(now)
        as+=($(((t1 - t0) / 1000)))
        bs+=($(((t2 - t1) / 1000)))
        ratios+=("$(echo "scale=4; ($t1 - $t0) / ($t2 - $t1)" | bc)")
    done
    median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
    printf '%-10s %8.1f ms %8.1f ms   %s\n' "$(basename "$f")" \
        "$(echo "scale=1; $(median "${as[@]}") / 1000" | bc)" \
        "$(echo "scale=1; $(median "${bs[@]}") / 1000" | bc)" "$(median "${ratios[@]}")"
}

peak() { # command... → maximum resident set in MB
    /usr/bin/time -v "$@" 2>&1 >/dev/null | awk '/Maximum resident/ {printf "%.1f", $6 / 1024}'
}

echo "one 160-pixel thumbnail, whole process, one core, $pairs pairs (median)"
printf '%-10s %11s %11s   %s\n' file quilla vipsthumb quilla/vips
for f in p12.jpg p24.jpg p12.png p12.tif p12.gif; do
    pair "$data/$f"
done
echo
echo "peak memory of the TIFF thumbnail: quilla $(peak taskset -c 0 "$bin" 160 "$data/p12.tif") MB," \
    "vipsthumbnail $(peak taskset -c 0 vipsthumbnail -s 160 -o "$out/%s.jpg" "$data/p12.tif") MB"

# LZW TIFF written by each: Quilla through the conversion's own load and save (bench_convert).
conv=$root/build/bin/bench_convert
vips tiffsave "$data/base12.ppm" "$out/vips.tif" --compression lzw --predictor horizontal
convert "$data/base12.ppm" -compress LZW -define tiff:predictor=2 "$out/magick.tif"
[ -x "$conv" ] && "$conv" tiff "$out" "$data/p12.png" >/dev/null 2>&1
echo "LZW TIFF of the 12 MP picture: Quilla $(du -b "$out/p12.tif" | cut -f1) B," \
    "libvips $(du -b "$out/vips.tif" | cut -f1) B, ImageMagick $(du -b "$out/magick.tif" | cut -f1) B"
