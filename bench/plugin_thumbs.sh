#!/usr/bin/env bash
# Thumbnails of plug-in formats through the program's own thumbnail path (bench_thumbs: the
# grid's worker routine, the plug-ins in their sandboxed helpers, the reduced entry
# GetPictureScaled), timed in pairs by bench/pair.py on one core against the peers:
#   - a 24-megapixel DNG with a full-size JPEG preview against djpeg -scale 1/8 on the preview
#     dcraw -e extracts;
#   - HEIC with a 320 x 240 thumbnail inside and without one, WebP, AVIF and JPEG XL
#     (4000 x 3000) against vipsthumbnail -s 160.
# Each pair twice: one file a process (start-up included: Qt, the image library, a helper
# process and the plug-in's libraries on Quilla's side), and eight files a process (the helpers
# started once, as in the grid; djpeg run eight times in a shell loop).
#   bench/plugin_thumbs.sh [RUNS [FILE...]]   (build first: ./build.sh bench, or the targets
#                                       bench_thumbs webp_spi heif_spi jxl_spi raw_spi quilla-spihost)
# FILE names the pairs to run (full.dng thumb.heic plain.heic p.webp p.avif p.jxl; all by default).
set -euo pipefail
runs=${1:-7}
shift $(($# > 0 ? 1 : 0))
wanted_files=${*:-full.dng thumb.heic plain.heic p.webp p.avif p.jxl}
wanted() { [[ " $wanted_files " == *" $1 "* ]]; }
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/bin
data=${QUILLA_BENCH_DATA:-/tmp/quilla-bench}/plugin-thumbs
for tool in convert vipsthumbnail cwebp heif-enc cjxl dcraw djpeg python3; do
    command -v $tool >/dev/null || { echo "missing: $tool (apt-get install imagemagick libvips-tools webp libheif-examples libjxl-tools dcraw libjpeg-turbo-progs)"; exit 2; }
done
[ -x "$bin/bench_thumbs" ] && [ -f "$bin/plugins/raw.spi" ] || { echo "build first: ./build.sh bench"; exit 2; }
mkdir -p "$data/out" "$data/many" "$data/home"
cd "$data"
[ -f base.png ] || convert -size 4000x3000 -seed 1 plasma:fractal -depth 8 PNG24:base.png
! wanted p.webp || [ -f p.webp ] || cwebp -quiet -q 80 base.png -o p.webp
! wanted thumb.heic || [ -f thumb.heic ] || heif-enc -q 80 -t 320 base.png -o thumb.heic >/dev/null
! wanted plain.heic || [ -f plain.heic ] || heif-enc -q 80 base.png -o plain.heic >/dev/null
! wanted p.avif || [ -f p.avif ] || heif-enc -A -q 80 base.png -o p.avif >/dev/null
! wanted p.jxl || [ -f p.jxl ] || cjxl base.png p.jxl -d 1 --quiet
if wanted full.dng && [ ! -f full.dng ]; then
    convert base.png -resize 6000x4000! -quality 92 preview.jpg
    python3 "$root/bench/make_dng.py" full.dng 6000 4000 preview.jpg 6000 4000
fi
! wanted full.dng || dcraw -e -c full.dng >extracted.jpg
# Eight names for each file (a peer might keep a decoded file by its name).
for i in 1 2 3 4 5 6 7 8; do
    for f in $wanted_files; do ln -sf "../$f" "many/$i-$f"; done
done
export HOME=$data/home VIPS_CONCURRENCY=1 OMP_NUM_THREADS=1 QUILLA_PLUGINS=$bin/plugins
# The median ratios of one pair; a command that failed in any run is said instead (vipsthumbnail
# writes -o relative to each input's folder, so the output folder is given whole).
pair() {
    printf '%-34s %s\n' "$1" "$("$root/bench/pair.py" -n "$runs" --pin 1 --timeout 1800 --vs "$3" -- $2 2>&1 |
        awk '/^[AB] exit/ && $3 != "0" { bad = bad " " $1 " failed" }
             /^A\/B cpu/ { c = $4 } /^A\/B wall/ { w = $4 }
             END { if (bad != "") print bad; else printf "A/B cpu %s  wall %s", c, w }')"
}
loop8() { echo "sh -c 'for i in 1 2 3 4 5 6 7 8; do $1; done'"; }
others() { for f in thumb.heic plain.heic p.webp p.avif p.jxl; do ! wanted $f || echo $f; done; }
echo "== one file a process, box 160 (medians of the pairs)"
! wanted full.dng ||
    pair "DNG vs djpeg -scale 1/8" "$bin/bench_thumbs 160 full.dng" "djpeg -scale 1/8 -outfile /dev/null extracted.jpg"
for f in $(others); do
    pair "$f vs vipsthumbnail -s 160" "$bin/bench_thumbs 160 $f" "vipsthumbnail -s 160 -o $data/out/%s.jpg $f"
done
echo "== eight files a process"
! wanted full.dng ||
    pair "DNG vs djpeg -scale 1/8" "$bin/bench_thumbs 160 $(echo many/?-full.dng)" \
        "$(loop8 'djpeg -scale 1/8 -outfile /dev/null extracted.jpg')"
for f in $(others); do
    pair "$f vs vipsthumbnail -s 160" "$bin/bench_thumbs 160 $(echo many/?-$f)" \
        "vipsthumbnail -s 160 -o $data/out/%s.jpg $(echo many/?-$f)"
done
