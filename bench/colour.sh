#!/usr/bin/env bash
# Colour profile cost: thumbnails of COUNT 4000 × 3000 JPEGs (12 megapixels) carrying the AdobeRGB
# profile against the same files without a profile, made as the grid's workers make them (the
# shared cache off), on one core, the two sets in turn ROUNDS times. Prints milliseconds per image
# of each round and the median ratio (target: at most 1.05).
#   bench/colour.sh [COUNT] [ROUNDS]      (30 files, 9 rounds by default; build first:
#                                           ./build.sh bench)
set -euo pipefail
count=${1:-30}
rounds=${2:-9}
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/bin/bench_thumbs
data=${QUILLA_BENCH_DATA:-/tmp/quilla-bench}/colour
profile=/usr/share/color/icc/colord/AdobeRGB1998.icc
for tool in convert exiftool taskset; do
    command -v $tool >/dev/null || { echo "missing: $tool (apt-get install imagemagick libimage-exiftool-perl util-linux)"; exit 2; }
done
[ -f "$profile" ] || { echo "missing: $profile (apt-get install colord-data)"; exit 2; }
[ -x "$bin" ] || { echo "build first: ./build.sh bench"; exit 2; }
mkdir -p "$data"
[ -f "$data/base.jpg" ] || convert -size 4000x3000 plasma:fractal -blur 0x2 -quality 90 "$data/base.jpg"
plain=() tagged=()
for i in $(seq 1 "$count"); do
    p=$data/plain$i.jpg t=$data/adobe$i.jpg
    [ -f "$p" ] || cp "$data/base.jpg" "$p"
    [ -f "$t" ] || exiftool -q -o "$t" "-icc_profile<=$profile" "$data/base.jpg"
    plain+=("$p") tagged+=("$t")
done
cat "${plain[@]}" "${tagged[@]}" >/dev/null
ratios=()
for r in $(seq 1 "$rounds"); do
    # In turn, each set first every other round, so that neither gains from going second.
    if [ $((r % 2)) -eq 1 ]; then
        a=$(taskset -c 0 "$bin" 160 "${tagged[@]}" 2>/dev/null)
        b=$(taskset -c 0 "$bin" 160 "${plain[@]}" 2>/dev/null)
    else
        b=$(taskset -c 0 "$bin" 160 "${plain[@]}" 2>/dev/null)
        a=$(taskset -c 0 "$bin" 160 "${tagged[@]}" 2>/dev/null)
    fi
    ratio=$(echo "scale=4; $a / $b" | bc)
    ratios+=("$ratio")
    echo "round $r: with profile $a ms, without $b ms, ratio $ratio"
done
median=$(printf '%s\n' "${ratios[@]}" | sort -n | sed -n "$(((rounds + 1) / 2))p")
echo "median ratio (with / without profile): $median"
