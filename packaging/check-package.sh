#!/usr/bin/env bash
# Builds the Debian package in a build folder (cpack -G DEB) and checks it: its control fields and
# Depends, its files, the menu entry, the icons, the AppStream metadata (appstreamcli), Debian's
# policy (lintian), and that the programs run from the unpacked package, finding their modules
# through the links in usr/bin.
#   packaging/check-package.sh [BUILD-FOLDER]      (default: build, already built)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
problems=0
fail() {
    echo "check-package: $*" >&2
    problems=$((problems + 1))
}

version=$(sed -n 's/^project(Quilla VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
release=$(sed -n 's/^set(QUILLA_DEBIAN_RELEASE \([0-9]*\))/\1/p' packaging/CMakeLists.txt)
deb="$build/quilla_${version}-${release}_$(dpkg --print-architecture).deb"
rm -f "$build"/quilla_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
[ -f "$deb" ] || { echo "check-package: $deb was not made" >&2; exit 1; }
echo "== dpkg-deb -I $deb"
dpkg-deb -I "$deb"
echo "== dpkg-deb -c $deb"
dpkg-deb -c "$deb"

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = quilla ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version-$release" ] || fail "Version is '$(field Version)'"
[ "$(field Section)" = graphics ] || fail "Section is '$(field Section)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
[ -n "$depends" ] || fail "Depends is empty"
for p in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6dbus6 \
    libjpeg62-turbo libpng16-16 libgif7 libtiff6 libexif12 libimagequant0 libwebp7 libheif1 \
    libjxl0.7 libraw20 libseccomp2 libcurl4 qt6-translations-l10n fonts-ipafont-gothic; do
    tr ',|' '\n\n' <<<"$depends" | awk '{ print $1 }' | grep -Fxq -- "$p" ||
        fail "Depends does not name $p"
done

# Files: the programs and modules in their own folder, links on the PATH, plug-ins, menu entry and
# icons.
listing=$(dpkg-deb -c "$deb" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }')
expect=(
    "./usr/bin/quilla -> ../lib/quilla/quilla"
    "./usr/bin/quilla-convert -> ../lib/quilla/quilla-convert"
    ./usr/lib/quilla/quilla ./usr/lib/quilla/quilla-convert ./usr/lib/quilla/quilla-spihost
    ./usr/lib/quilla/libik6com.so ./usr/lib/quilla/libik6file.so ./usr/lib/quilla/libik6print.so
    ./usr/lib/quilla/libik6effect.so ./usr/lib/quilla/quilla.qhc ./usr/lib/quilla/quilla.qch
    ./usr/lib/quilla/plugins/webp.spi ./usr/lib/quilla/plugins/heif.spi
    ./usr/lib/quilla/plugins/jxl.spi ./usr/lib/quilla/plugins/raw.spi
    ./usr/lib/quilla/plugins/heif-codec.so ./usr/lib/quilla/plugins/jxl-codec.so
    ./usr/share/applications/quilla.desktop
    ./usr/share/icons/hicolor/scalable/apps/quilla.svg
    ./usr/share/metainfo/jp.norvo.pictoquill.metainfo.xml
    ./usr/share/man/man1/quilla.1.gz ./usr/share/man/man1/quilla-convert.1.gz
    ./usr/share/doc/quilla/copyright ./usr/share/doc/quilla/changelog.Debian.gz
)
for size in 16 22 24 32 48 64 128 256; do
    expect+=("./usr/share/icons/hicolor/${size}x${size}/apps/quilla.png")
done
for f in "${expect[@]}"; do
    grep -Fxq -- "$f" <<<"$listing" || fail "the package lacks $f"
done
# Nothing of the build or the tests.
if grep -Eq 'test|\.a$|/include/|build' <<<"$listing"; then
    fail "the package holds files it should not: $(grep -E 'test|\.a$|/include/|build' <<<"$listing")"
fi

# No maintainer scripts and no conffiles: nothing to run at install or removal, and a removed
# package leaves nothing behind (no "config-files" state).
members=$(dpkg-deb -I "$deb" | awk '$1 ~ /^[0-9]+$/ && $2 == "bytes," { print $NF }' | sort | tr '\n' ' ')
[ "$members" = "control md5sums " ] || fail "the control part holds: $members"

# Debian's policy checker: no error and no warning; the informational notes are listed.
if command -v lintian >/dev/null; then
    echo "== lintian -I $deb"
    lintian -I --fail-on error,warning "$deb" || fail "lintian reports errors or warnings"
else
    fail "lintian is not installed"
fi

# The unpacked package: a valid menu entry naming the formats, valid AppStream metadata, icons of
# their sizes, stripped programs that run.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dpkg-deb -x "$deb" "$tmp/root"
entry=$tmp/root/usr/share/applications/quilla.desktop
desktop-file-validate "$entry" || fail "the packaged quilla.desktop is not valid"
mime=$(sed -n 's/^MimeType=//p' "$entry" | tr ';' '\n')
types=(inode/directory image/jpeg image/png image/gif image/bmp image/tiff image/webp image/heic
    image/heif image/avif image/jxl)
raw=(image/x-canon-cr2 image/x-canon-cr3 image/x-nikon-nef image/x-nikon-nrw image/x-sony-arw
    image/x-sony-sr2 image/x-olympus-orf image/x-panasonic-rw2 image/x-fuji-raf image/x-pentax-pef
    image/x-samsung-srw image/x-adobe-dng)
if grep -Fxq ./usr/lib/quilla/plugins/raw.spi <<<"$listing"; then
    types+=("${raw[@]}")
else
    for t in "${raw[@]}"; do
        grep -Fxq -- "$t" <<<"$mime" && fail "MimeType names $t, but raw.spi is not in the package"
    done
fi
for t in "${types[@]}"; do
    grep -Fxq -- "$t" <<<"$mime" || fail "MimeType does not name $t"
done
metainfo=$tmp/root/usr/share/metainfo/jp.norvo.pictoquill.metainfo.xml
if command -v appstreamcli >/dev/null; then
    echo "== appstreamcli validate --no-net"
    appstreamcli validate --no-net --pedantic "$metainfo" || fail "the AppStream metadata is not valid"
    appstreamcli validate-tree --no-net "$tmp/root" || fail "appstreamcli validate-tree failed"
else
    fail "appstreamcli is not installed"
fi
# Its screenshots are the README's, on the product's web site; its names and texts in English
# and Japanese; it launches the menu entry and provides both commands.
home=$(sed -n 's/^set(QUILLA_URL_HOME "\([^"]*\)".*/\1/p' CMakeLists.txt)
shots=$(sed -n 's|.*<image type="source"[^>]*>\([^<]*\)</image>.*|\1|p' "$metainfo")
[ -n "$shots" ] || fail "the AppStream metadata has no screenshots"
for url in $shots; do
    case $url in
    "${home}docs/"*.png) [ -f "docs/${url#"${home}"docs/}" ] || fail "no docs/ file for $url" ;;
    *) fail "screenshot $url is not under ${home}docs/" ;;
    esac
done
for want in '<name xml:lang="ja">' '<summary xml:lang="ja">' '<p xml:lang="ja">' \
    '<launchable type="desktop-id">quilla.desktop</launchable>' '<content_rating type="oars-1.1"' \
    '<binary>quilla</binary>' '<binary>quilla-convert</binary>'; do
    grep -Fq -- "$want" "$metainfo" || fail "the AppStream metadata lacks $want"
done
# The manual pages format without warnings.
for page in quilla quilla-convert; do
    out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$tmp/root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    [ -z "$out" ] || fail "man $page: $out"
done
for size in 16 22 24 32 48 64 128 256; do
    file "$tmp/root/usr/share/icons/hicolor/${size}x${size}/apps/quilla.png" |
        grep -q "PNG image data, $size x $size" || fail "the ${size}x${size} icon is not $size × $size"
done
file -L "$tmp/root/usr/bin/quilla" | grep -q ', stripped' || fail "quilla is not stripped"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$tmp/root/usr/bin/quilla" --version)
[ "$out" = "quilla $version" ] || fail "quilla --version said '$out'"
# quilla-convert finds the imaging modules beside the real program and converts a picture.
mkdir -p "$tmp/home" "$tmp/pics"
printf 'P6\n4 3\n255\n%s' "$(head -c 36 /dev/zero | tr '\0' '\200')" >"$tmp/pics/grey.ppm"
if command -v convert >/dev/null; then
    convert "$tmp/pics/grey.ppm" "$tmp/pics/grey.bmp"
    HOME=$tmp/home XDG_CONFIG_HOME=$tmp/home "$tmp/root/usr/bin/quilla-convert" -q -f png \
        -o "$tmp/out" "$tmp/pics/grey.bmp" || fail "quilla-convert failed from the package"
    [ -s "$tmp/out/grey.png" ] || fail "quilla-convert wrote no PNG"
fi
# The program itself starts on a file and keeps running until it is ended.
set +e
HOME=$tmp/home XDG_CONFIG_HOME=$tmp/home QT_QPA_PLATFORM=offscreen \
    timeout 5 "$tmp/root/usr/bin/quilla" "$tmp/pics/grey.ppm" 2>/dev/null
rc=$?
set -e
[ $rc -eq 124 ] || fail "quilla ended with status $rc instead of running"

if [ $problems -ne 0 ]; then
    echo "check-package: $problems problem(s) with $deb" >&2
    exit 1
fi
echo "check-package: $deb is complete"
