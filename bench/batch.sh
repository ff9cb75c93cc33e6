#!/usr/bin/env bash
# Batch conversion benchmark, side by side in one run:
#   1. quilla-convert -j 2 against -j 1 on two cores (taskset -c 0,1): files per second.
#   2. quilla-convert -j 1 against ImageMagick's mogrify with the same settings, both on one core
#      (taskset -c 0, MAGICK_THREAD_LIMIT=1): JPEG (quality 85, 4:1:1), PNG, GIF (256 colours,
#      dithered, with the mean PSNR of the result against its source).
#   3. The conversion command's progress window during a 3000 x 2000 PNG save: how long a click
#      on "中止" and other events wait, with the conversion on a worker thread as the command runs
#      it, and on the user-interface thread for comparison.
#   bench/batch.sh [COUNT] [ROUNDS]      (build first: ./build.sh bench)
#   PARTS="1 3" bench/batch.sh ...      runs only those parts
# Each timing is the best of ROUNDS runs (default 3), the contenders taking turns, so that other
# load on the machine touches both alike.
set -euo pipefail
count=${1:-16}
rounds=${2:-3}
parts=" ${PARTS:-1 2 3} "
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/bin
data=${QUILLA_BENCH_DATA:-/tmp/quilla-bench}/batch
for tool in convert mogrify compare taskset bc; do
    command -v $tool >/dev/null || { echo "missing: $tool"; exit 2; }
done
[ -x "$bin/quilla-convert" ] && [ -x "$bin/bench_convert_ui" ] || { echo "build first: ./build.sh bench"; exit 2; }
export MAGICK_THREAD_LIMIT=1 OMP_NUM_THREADS=1
# quilla-convert reads no settings of the user's: every option comes from the command line.
config=$(mktemp -d)
export XDG_CONFIG_HOME=$config
out=$(mktemp -d)
trap 'rm -rf "$config" "$out"' EXIT

mkdir -p "$data"
[ -f "$data/base.miff" ] || convert -size 2400x1600 -seed 7 plasma:fractal "$data/base.miff"
files=()
for i in $(seq 1 "$count"); do
    f=$data/$(printf '%03d' "$i").jpg
    [ -f "$f" ] || convert "$data/base.miff" -roll +$((i * 89))+$((i * 53)) -quality 90 "$f"
    files+=("$f")
done
[ -f "$data/big.jpg" ] || convert "$data/base.miff" -resize '3000x2000!' -quality 90 "$data/big.jpg"
cat "${files[@]}" >/dev/null

now() { date +%s%N; }
# best CMD...: the best wall time in milliseconds of one run of CMD over the rounds.
time_ms() {
    local t0 t1
    t0=$(now); "$@" >/dev/null; t1=$(now)
    echo $(( (t1 - t0) / 1000000 ))
}
min() { local m=$1; shift; for v; do [ "$v" -lt "$m" ] && m=$v; done; echo "$m"; }
psnr() { # dir ext -> mean PSNR of the results against their sources
    local sum=0 n=0 v
    for f in "${files[@]}"; do
        v=$(compare -metric PSNR "$f" "$1/$(basename "${f%.jpg}").$2" null: 2>&1 || true)
        sum=$(echo "$sum + $v" | bc -l); n=$((n + 1))
    done
    echo "scale=2; $sum / $n" | bc -l
}
fps() { echo "scale=2; $count * 1000 / $1" | bc; }

[[ $parts == *" 1 "* ]] && echo "== 1. quilla-convert on two cores: $count files of 2400 x 1600 JPEG"
for fmt in png jpeg; do
    [[ $parts == *" 1 "* ]] || break
    j1=() j2=()
    for r in $(seq 1 "$rounds"); do
        rm -rf "$out"/*
        j1+=("$(time_ms taskset -c 0,1 "$bin/quilla-convert" -q -j 1 -f $fmt -o "$out/j1" "${files[@]}")")
        j2+=("$(time_ms taskset -c 0,1 "$bin/quilla-convert" -q -j 2 -f $fmt -o "$out/j2" "${files[@]}")")
    done
    a=$(min "${j1[@]}") b=$(min "${j2[@]}")
    printf '%-5s -j 1 %6s files/s | -j 2 %6s files/s | -j 2 / -j 1 = %s\n' $fmt "$(fps "$a")" \
        "$(fps "$b")" "$(echo "scale=2; $a / $b" | bc)"
done

[[ $parts == *" 2 "* ]] && echo "== 2. one core each (taskset -c 0): quilla-convert -j 1 against mogrify"
for fmt in jpeg png gif; do
    [[ $parts == *" 2 "* ]] || break
    case $fmt in
    jpeg) q=(-f jpeg --quality 85 --subsampling 4:1:1); m=(-format jpg -quality 85 -sampling-factor 2x2); ext=jpg ;;
    png) q=(-f png); m=(-format png); ext=png ;;
    gif) q=(-f gif -c 256); m=(-format gif -dither FloydSteinberg -colors 256); ext=gif ;;
    esac
    tq=() tm=()
    for r in $(seq 1 "$rounds"); do
        rm -rf "$out/q" "$out/m"; mkdir -p "$out/q" "$out/m"
        tq+=("$(time_ms taskset -c 0 "$bin/quilla-convert" -q -j 1 "${q[@]}" -o "$out/q" "${files[@]}")")
        tm+=("$(time_ms taskset -c 0 mogrify -path "$out/m" "${m[@]}" "${files[@]}")")
    done
    a=$(min "${tq[@]}") b=$(min "${tm[@]}")
    line=$(printf '%-5s quilla %6s files/s | ImageMagick %6s files/s | quilla faster by %sx' \
        $fmt "$(fps "$a")" "$(fps "$b")" "$(echo "scale=2; $b / $a" | bc)")
    [ $fmt = gif ] && line="$line | PSNR quilla $(psnr "$out/q" gif) dB, ImageMagick $(psnr "$out/m" gif) dB"
    echo "$line"
    echo "      output bytes: quilla $(du -sb "$out/q" | cut -f1), ImageMagick $(du -sb "$out/m" | cut -f1)"
done

if [[ $parts == *" 3 "* ]]; then
    echo "== 3. the progress window while a 3000 x 2000 PNG is saved"
    "$bin/bench_convert_ui" "$data/big.jpg" "$out/ui" 2>/dev/null
fi
