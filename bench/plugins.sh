#!/usr/bin/env bash
# Import plug-in benchmark, on one core (taskset -c 0):
#  1. a folder of 100,000 files (empty or sparse; a quarter of them WebP, HEIC, AVIF and JXL names)
#     listed and its first screen painted, without and with the three shipped plug-ins loaded;
#  2. thumbnails (76 × 76) of COUNT 4000 × 3000 photo-like pictures as WebP, HEIC, AVIF and JPEG XL:
#     Quilla through its plug-ins, vipsthumbnail on the same files, and the format's own decoder
#     (dwebp, heif-convert, djxl) writing the whole picture, side by side;
#  3. each plug-in called directly (bench_spi): the reduced picture for a box of 160
#     (GetPictureScaled) against the whole picture (GetPicture) and against vipsthumbnail -s 160,
#     for WebP, HEIC without and with a 320 × 240 thumbnail inside, AVIF and JPEG XL; and a
#     24-megapixel DNG with a full-size JPEG preview: raw.spi's thumbnail against djpeg -scale 1/8
#     on the preview dcraw -e extracts. Timed in pairs by bench/pair.py (whole processes, one core);
#  4. the same thumbnails through the plug-in helpers against the plug-ins loaded into the bench
#     process (bench_pluginpath helper|direct), and the listing with the plug-ins on against off,
#     in pairs by bench/pair.py.
#   bench/plugins.sh [COUNT]      (build first: ./build.sh bench)
set -euo pipefail
count=${1:-10}
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/bin
plugins=$bin/plugins
data=${QUILLA_BENCH_DATA:-/tmp/quilla-bench}
for tool in convert vipsthumbnail cwebp dwebp heif-enc heif-convert cjxl djxl taskset bc; do
    command -v $tool >/dev/null || { echo "missing: $tool (apt-get install imagemagick libvips-tools webp libheif-examples libjxl-tools bc)"; exit 2; }
done
[ -x "$bin/bench_browser" ] && [ -x "$bin/bench_pluginpath" ] && [ -f "$plugins/webp.spi" ] || { echo "build first: ./build.sh bench"; exit 2; }
export VIPS_CONCURRENCY=1 OMP_NUM_THREADS=1

echo "== listing 100,000 files"
big=$data/listing-plugins
if [ ! -f "$big/img099999.jxl" ]; then
    mkdir -p "$big"
    python3 - "$big" <<'PY'
import os, random, sys
d = sys.argv[1]
random.seed(1)
exts = ['.jpg', '.png', '.gif', '.webp', '.jpg', '.heic', '.tif', '.avif', '.bmp', '.jxl', '.JPG', '.txt']
for i in range(100000):
    p = os.path.join(d, 'img%06d%s' % (i, exts[i % len(exts)]))
    with open(p, 'wb') as f:
        f.truncate(random.randint(1000, 8000000))
    t = 1500000000 + random.randint(0, 200000000)
    os.utime(p, (t, t))
PY
fi
printf 'without plug-ins: '; taskset -c 0 "$bin/bench_browser" listing "$big" 2>/dev/null | head -1
printf 'with plug-ins:    '
QUILLA_PLUGINS=$plugins taskset -c 0 "$bin/bench_browser" listing "$big" 2>/dev/null | head -1

echo "== thumbnails of 4000 x 3000 pictures, milliseconds per image, one core"
dir=$data/plugin-photos
mkdir -p "$dir"
[ -f "$dir/base.miff" ] || convert -size 4000x3000 -seed 1 plasma:fractal "$dir/base.miff"
for i in $(seq 1 "$count"); do
    n=$(printf '%03d' "$i")
    [ -f "$dir/$n.png" ] || convert "$dir/base.miff" -roll +$((i * 97))+$((i * 61)) -depth 8 "PNG24:$dir/$n.png"
    [ -f "$dir/$n.webp" ] || cwebp -quiet -q 80 "$dir/$n.png" -o "$dir/$n.webp"
    [ -f "$dir/$n.heic" ] || heif-enc -q 80 "$dir/$n.png" -o "$dir/$n.heic" >/dev/null
    [ -f "$dir/$n.avif" ] || heif-enc -A -q 80 "$dir/$n.png" -o "$dir/$n.avif" >/dev/null
    [ -f "$dir/$n.jxl" ] || cjxl "$dir/$n.png" "$dir/$n.jxl" -d 1 --quiet
done
now() { date +%s%N; }
per_image() { echo "scale=1; ($2 - $1) / 1000000 / $count" | bc; }
out=$(mktemp -d)
for ext in webp heic avif jxl; do
    files=()
    for i in $(seq 1 "$count"); do files+=("$dir/$(printf '%03d' "$i").$ext"); done
    cat "${files[@]}" >/dev/null
    size=$(du -b "${files[0]}" | cut -f1)
    quilla=$(QUILLA_PLUGINS=$plugins taskset -c 0 "$bin/bench_thumbs" 76 "${files[@]}" 2>/dev/null)
    t0=$(now); taskset -c 0 vipsthumbnail -s 76 -o "$out/%s_v.jpg" "${files[@]}" 2>/dev/null; t1=$(now)
    vips=$(per_image "$t0" "$t1")
    case $ext in
    webp) tool=dwebp; t0=$(now); for f in "${files[@]}"; do taskset -c 0 dwebp -quiet "$f" -ppm -o "$out/x.ppm"; done; t1=$(now) ;;
    heic|avif) tool=heif-convert; t0=$(now); for f in "${files[@]}"; do taskset -c 0 heif-convert "$f" "$out/x.jpg" >/dev/null; done; t1=$(now) ;;
    jxl) tool=djxl; t0=$(now); for f in "${files[@]}"; do taskset -c 0 djxl "$f" "$out/x.ppm" --quiet; done; t1=$(now) ;;
    esac
    own=$(per_image "$t0" "$t1")
    printf '%-5s %5.2f MB | quilla %7s | vipsthumbnail %7s | %-12s %7s | quilla/vips %5s\n' \
        "$ext" "$(echo "scale=2; $size / 1000000" | bc)" "$quilla" "$vips" "$tool" "$own" \
        "$(echo "scale=2; $quilla / $vips" | bc)"
done
rm -rf "$out"

echo "== reduced entry, plug-ins called directly, box 160 (medians of A/B, cpu)"
if ! command -v dcraw >/dev/null ||
    ! command -v djpeg >/dev/null || [ ! -x "$bin/bench_spi" ]; then
    echo "skipped: needs dcraw, djpeg (apt-get install dcraw libjpeg-turbo-progs) and bench_spi"
    exit 0
fi
spi=$bin/bench_spi
# A/B of one pair of commands: the median ratio of cpu seconds and of wall seconds.
pair() {
    "$root/bench/pair.py" -n "${QUILLA_BENCH_RUNS:-7}" --pin 0 --timeout 600 --vs "$2" -- $1 2>&1 |
        awk '/^A\/B cpu/ { c = $4 } /^A\/B wall/ { w = $4 } END { printf "cpu %s  wall %s", c, w }'
}

echo "== plug-in helpers against the same plug-ins in this process (medians of A/B)"
# Thumbnails (box 76) of the COUNT pictures: A through the helper processes as Quilla decodes,
# B the same plug-ins loaded into the bench process; the target is A/B within 1.05. Then the
# listing of 100,000 files with the plug-ins on (A) and off (B). Wall time: the helpers' processor
# time is not all counted in A's cpu figure.
paths=$bin/bench_pluginpath
for ext in webp heic avif jxl; do
    files=()
    for i in $(seq 1 "$count"); do files+=("$dir/$(printf '%03d' "$i").$ext"); done
    printf '%-5s helper/in-process: %s\n' "$ext" \
        "$(pair "$paths helper $plugins 76 ${files[*]}" "$paths direct $plugins 76 ${files[*]}")"
done
printf 'listing 100,000 files, plug-ins on/off: %s\n' \
    "$(pair "env QUILLA_PLUGINS=$plugins $bin/bench_browser listing $big" "$bin/bench_browser listing $big")"

one=$dir/001
[ -f "$one-thumb.heic" ] || heif-enc -q 80 -t 320 "$one.png" -o "$one-thumb.heic" >/dev/null
out=$(mktemp -d)
for f in "$one.webp:webp" "$one.heic:heif" "$one-thumb.heic:heif" "$one.avif:heif" "$one.jxl:jxl"; do
    file=${f%:*}
    plugin=$plugins/${f##*:}.spi
    printf '%-16s reduced/whole: %s | ' "$(basename "$file")" \
        "$(pair "$spi $plugin 160 $file" "$spi $plugin 0 $file")"
    printf 'reduced/vipsthumbnail: %s\n' \
        "$(pair "$spi $plugin 160 $file" "vipsthumbnail -s 160 -o $out/%s.jpg $file")"
done
rm -rf "$out"
raw=$data/raw
mkdir -p "$raw"
if [ ! -f "$raw/full.dng" ]; then
    # A 6000 x 4000 photo-like JPEG preview inside a 24-megapixel DNG, as cameras store it.
    convert "$dir/base.miff" -resize 6000x4000! -quality 92 "$raw/preview.jpg"
    python3 "$root/bench/make_dng.py" "$raw/full.dng" 6000 4000 "$raw/preview.jpg" 6000 4000
fi
dcraw -e -c "$raw/full.dng" >"$raw/extracted.jpg"
printf '%-16s raw.spi thumbnail/djpeg -scale 1/8 on the preview: %s\n' "full.dng" \
    "$(pair "$spi $plugins/raw.spi 160 $raw/full.dng" "djpeg -scale 1/8 -outfile /dev/null $raw/extracted.jpg")"
