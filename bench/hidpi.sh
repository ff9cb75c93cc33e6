#!/usr/bin/env bash
# Thumbnails for a screen of device pixel ratio 2 against ratio 1: the same folder of COUNT
# generated 4000 × 3000 JPEGs fitted into the default 76 × 76 picture area (152 × 152 device
# pixels at ratio 2) and into 124 × 124 (128 × 128 thumbnails), on one core, the two timed in turn
# ROUNDS times in one run; then the same files carrying a 160 × 120 Exif thumbnail, which serves
# 152 device pixels but not 248: ratio 2 then decodes the file itself.
# Prints the medians in milliseconds per image and the ratio of each pair's times.
#   bench/hidpi.sh [COUNT] [ROUNDS]      (build first: ./build.sh bench)
set -euo pipefail
count=${1:-20}
rounds=${2:-7}
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/bin/bench_thumbs
data=${QUILLA_BENCH_DATA:-/tmp/quilla-bench}/hidpi
for tool in convert exiftool taskset bc; do
    command -v $tool >/dev/null || { echo "missing: $tool (apt-get install imagemagick libimage-exiftool-perl bc)"; exit 2; }
done
[ -x "$bin" ] || { echo "build first: ./build.sh bench"; exit 2; }

mkdir -p "$data/exif"
[ -f "$data/base.miff" ] || convert -size 4000x3000 plasma:fractal -blur 0x1 "$data/base.miff"
files=() exif=()
for i in $(seq 1 "$count"); do
    f=$data/$(printf '%03d' "$i").jpg e=$data/exif/$(printf '%03d' "$i").jpg
    [ -f "$f" ] || convert "$data/base.miff" -roll +$((i * 97))+$((i * 61)) -quality 90 "$f"
    if [ ! -f "$e" ]; then
        convert "$f" -thumbnail 160x120 "$data/exif/thumb.jpg"
        exiftool -q -o "$e" "-ThumbnailImage<=$data/exif/thumb.jpg" "$f"
    fi
    files+=("$f") exif+=("$e")
done
cat "${files[@]}" "${exif[@]}" >/dev/null

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }

pairs() { # label box files...
    local label=$1 box=$2; shift 2
    local one two ratios=()
    : >/tmp/hidpi-one.$$; : >/tmp/hidpi-two.$$
    for _ in $(seq 1 "$rounds"); do
        one=$(taskset -c 0 "$bin" "$box" "$@" 2>/dev/null)
        two=$(taskset -c 0 "$bin" --ratio 2 "$box" "$@" 2>/dev/null)
        echo "$one" >>/tmp/hidpi-one.$$
        echo "$two" >>/tmp/hidpi-two.$$
        ratios+=("$(echo "scale=3; $two / $one" | bc)")
    done
    printf '%-36s ratio 1: %6s ms   ratio 2: %6s ms   ratio 2 / ratio 1: %s (median of %d pairs)\n' \
        "$label" "$(median </tmp/hidpi-one.$$)" "$(median </tmp/hidpi-two.$$)" \
        "$(printf '%s\n' "${ratios[@]}" | median)" "$rounds"
    rm -f /tmp/hidpi-one.$$ /tmp/hidpi-two.$$
}

for box in 76 124; do
    pairs "4000 x 3000 JPEG, ${box} x ${box}" "$box" "${files[@]}"
    pairs "with an Exif thumbnail, ${box} x ${box}" "$box" "${exif[@]}"
done
