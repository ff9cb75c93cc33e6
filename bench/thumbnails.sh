#!/usr/bin/env bash
# Thumbnail benchmark: fits COUNT generated 4000 × 3000 JPEGs into a 76 × 76 box, on one core,
# with Quilla and, in the same run, with ImageMagick (mogrify -thumbnail), libvips
# (vipsthumbnail) and libjpeg-turbo's djpeg -scale 1/8 (the decoder's floor), for photo-like
# files (about 2 MB) and very detailed ones (about 10 MB); then Quilla alone on the same files
# carrying Exif thumbnails. Prints milliseconds per image and the ratios.
#   bench/thumbnails.sh [COUNT]      (build first: ./build.sh bench)
set -euo pipefail
count=${1:-40}
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/bin/bench_thumbs
data=${QUILLA_BENCH_DATA:-/tmp/quilla-bench}
for tool in convert mogrify vipsthumbnail djpeg exiftool taskset; do
    command -v $tool >/dev/null || { echo "missing: $tool (apt-get install imagemagick libvips-tools libjpeg-turbo-progs libimage-exiftool-perl)"; exit 2; }
done
[ -x "$bin" ] || { echo "build first: ./build.sh bench"; exit 2; }
export MAGICK_THREAD_LIMIT=1 VIPS_CONCURRENCY=1 OMP_NUM_THREADS=1

make_set() { # kind quality base-options...
    local kind=$1 q=$2; shift 2
    local dir=$data/$kind
    mkdir -p "$dir"
    [ -f "$dir/base.miff" ] || convert -size 4000x3000 "$@" "$dir/base.miff"
    for i in $(seq 1 "$count"); do
        local f=$dir/$(printf '%03d' "$i").jpg
        [ -f "$f" ] || convert "$dir/base.miff" -roll +$((i * 97))+$((i * 61)) -quality "$q" "$f"
    done
    # The same files with a 160 × 120 Exif thumbnail.
    mkdir -p "$dir/exif"
    for i in $(seq 1 "$count"); do
        local f=$dir/$(printf '%03d' "$i").jpg e=$dir/exif/$(printf '%03d' "$i").jpg
        if [ ! -f "$e" ]; then
            convert "$f" -thumbnail 160x120 "$dir/exif/thumb.jpg"
            exiftool -q -o "$e" -Make=Bench "-ThumbnailImage<=$dir/exif/thumb.jpg" "$f"
        fi
    done
}

now() { date +%s%N; }
per_image() { # start end → ms per image
    echo "scale=2; ($2 - $1) / 1000000 / $count" | bc
}

run_set() {
    local kind=$1 dir=$data/$1
    local files=()
    for i in $(seq 1 "$count"); do files+=("$dir/$(printf '%03d' "$i").jpg"); done
    local size
    size=$(du -b "${files[0]}" | cut -f1)
    local out
    out=$(mktemp -d)
    # Warm the page cache so every tool reads from memory.
    cat "${files[@]}" >/dev/null

    local t0 t1 quilla vips magick djpeg exif
    quilla=$(taskset -c 0 "$bin" 76 "${files[@]}")
    t0=$(now); taskset -c 0 vipsthumbnail -s 76 -o "$out/%s_v.jpg" "${files[@]}"; t1=$(now)
    vips=$(per_image "$t0" "$t1")
    t0=$(now); taskset -c 0 mogrify -path "$out" -thumbnail 76x76 "${files[@]}"; t1=$(now)
    magick=$(per_image "$t0" "$t1")
    t0=$(now); for f in "${files[@]}"; do taskset -c 0 djpeg -scale 1/8 -outfile /dev/null "$f"; done; t1=$(now)
    djpeg=$(per_image "$t0" "$t1")
    cat "$dir"/exif/*.jpg >/dev/null
    exif=$(taskset -c 0 "$bin" 76 "$dir"/exif/[0-9]*.jpg)
    rm -rf "$out"
    printf '%-9s %6.1f MB | quilla %7s | vipsthumbnail %7s | mogrify %7s | djpeg 1/8 %7s | quilla/vips %5s | quilla/djpeg %5s | with Exif thumbnail %6s ms\n' \
        "$kind" "$(echo "scale=1; $size / 1000000" | bc)" "$quilla" "$vips" "$magick" "$djpeg" \
        "$(echo "scale=2; $quilla / $vips" | bc)" "$(echo "scale=2; $quilla / $djpeg" | bc)" "$exif"
}

make_set photo 88 -seed 1 plasma:fractal
make_set detailed 95 -seed 2 plasma:fractal \( -size 4000x3000 xc:gray50 -seed 3 +noise Gaussian \) -compose overlay -composite
echo "milliseconds per image, $count images of 4000 x 3000, one core (taskset -c 0)"
run_set photo
run_set detailed
