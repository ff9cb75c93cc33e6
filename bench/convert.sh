#!/usr/bin/env bash
# Save benchmark: loads COUNT generated 3000 × 2000 JPEGs and saves each as PNG, as GIF with 256
# colours and as JPEG at quality 85, with Quilla and, in the same run on the same files, with
# ImageMagick's convert; one core. Prints milliseconds per file, the ratios, and for GIF the
# mean PSNR of the result against its source.
#   bench/convert.sh [COUNT]      (build first: ./build.sh bench)
set -euo pipefail
count=${1:-50}
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/bin/bench_convert
data=${QUILLA_BENCH_DATA:-/tmp/quilla-bench}/convert
for tool in convert compare taskset bc; do
    command -v $tool >/dev/null || { echo "missing: $tool"; exit 2; }
done
[ -x "$bin" ] || { echo "build first: ./build.sh bench"; exit 2; }
export MAGICK_THREAD_LIMIT=1 OMP_NUM_THREADS=1

mkdir -p "$data"
[ -f "$data/base.miff" ] || convert -size 3000x2000 -seed 5 plasma:fractal "$data/base.miff"
files=()
for i in $(seq 1 "$count"); do
    f=$data/$(printf '%03d' "$i").jpg
    [ -f "$f" ] || convert "$data/base.miff" -roll +$((i * 89))+$((i * 53)) -quality 90 "$f"
    files+=("$f")
done
cat "${files[@]}" >/dev/null

now() { date +%s%N; }
ours=$(mktemp -d) theirs=$(mktemp -d)
trap 'rm -rf "$ours" "$theirs"' EXIT

psnr() { # dir ext → mean PSNR against the sources
    local sum=0 n=0 v
    for f in "${files[@]}"; do
        v=$(compare -metric PSNR "$f" "$1/$(basename "${f%.jpg}").$2" null: 2>&1 || true)
        sum=$(echo "$sum + $v" | bc -l); n=$((n + 1))
    done
    echo "scale=2; $sum / $n" | bc -l
}

echo "milliseconds per file, $count files of 3000 x 2000, one core (taskset -c 0)"
for fmt in png gif jpeg; do
    q=$(taskset -c 0 "$bin" $fmt "$ours" "${files[@]}")
    case $fmt in
    png) args=(); ext=png ;;
    gif) args=(-colors 256); ext=gif ;;
    jpeg) args=(-quality 85 -sampling-factor 2x2); ext=jpg ;;
    esac
    t0=$(now)
    for f in "${files[@]}"; do
        taskset -c 0 convert "$f" "${args[@]}" "$theirs/$(basename "${f%.jpg}").$ext"
    done
    t1=$(now)
    im=$(echo "scale=1; ($t1 - $t0) / 1000000 / $count" | bc)
    line=$(printf '%-5s quilla %8s | ImageMagick %8s | quilla/ImageMagick %5s' "$fmt" "$q" "$im" \
        "$(echo "scale=2; $q / $im" | bc)")
    if [ $fmt = gif ]; then
        line="$line | PSNR quilla $(psnr "$ours" gif) dB, ImageMagick $(psnr "$theirs" gif) dB"
    fi
    echo "$line"
    echo "      output bytes: quilla $(du -sb "$ours" | cut -f1), ImageMagick $(du -sb "$theirs" | cut -f1)"
    rm -f "$ours"/* "$theirs"/*
done
