#!/usr/bin/env bash
# Builds the Debian package in a build folder (cpack -G DEB) and checks it: its control fields and
# Depends, its files, the menu entry, the icons, and that the programs run from the unpacked
# package, finding their modules through the links in usr/bin.
#   packaging/check-package.sh [BUILD-FOLDER]      (default: build, already built)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
problems=0
fail() {
    echo "check-package: $*" >&2
    problems=$((problems + 1))
}

desktop-file-validate packaging/quilla.desktop || fail "packaging/quilla.desktop is not valid"

version=$(sed -n 's/^project(Quilla VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb="$build/quilla_${version}_$(dpkg --print-architecture).deb"
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
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)'"
[ "$(field Section)" = graphics ] || fail "Section is '$(field Section)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
[ -n "$depends" ] || fail "Depends is empty"
for p in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6dbus6 \
    libjpeg62-turbo libpng16-16 libgif7 libtiff6 libexif12 libimagequant0 libwebp7 libheif1 \
    libjxl0.7 libseccomp2 qt6-translations-l10n fonts-ipafont-gothic; do
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
    ./usr/lib/quilla/libik6effect.so
    ./usr/lib/quilla/plugins/webp.spi ./usr/lib/quilla/plugins/heif.spi
    ./usr/lib/quilla/plugins/jxl.spi
    ./usr/share/applications/quilla.desktop
    ./usr/share/icons/hicolor/scalable/apps/quilla.svg
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

# The unpacked package: a valid menu entry, icons of their sizes, stripped programs that run.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dpkg-deb -x "$deb" "$tmp/root"
desktop-file-validate "$tmp/root/usr/share/applications/quilla.desktop" ||
    fail "the packaged quilla.desktop is not valid"
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
