#!/usr/bin/env bash
# Quilla's one set-up script.
#   ./build.sh run      install what is missing, build, and start Quilla
#   ./build.sh test     install what is missing, build, run the whole test suite, and build and
#                       check the Debian package
#   ./build.sh package  install what is missing, build, and make the Debian package
#                       build/quilla_<version>_<arch>.deb
#   ./build.sh deps     only install the missing Debian packages
# Extra arguments after "run" are passed to Quilla.
set -euo pipefail
cd "$(dirname "$0")"

# Debian packages the build, the tests and the program need.
PACKAGES=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev libx11-dev
    libjpeg62-turbo-dev libpng-dev libgif-dev libtiff-dev libexif-dev libimagequant-dev zlib1g-dev
    libwebp-dev libheif-dev libjxl-dev libseccomp-dev
    libgtest-dev googletest
    fonts-ipafont-gothic qt6-translations-l10n
    dpkg-dev file
)
# Independent readers and writers of image files that the tests check against, openssl for the
# version check's TLS test, clang with libFuzzer for fuzzing the import plug-ins, and the menu
# entry's validator.
TEST_PACKAGES=(imagemagick libimage-exiftool-perl python3-pil webp libheif-examples libjxl-tools
    openssl clang libclang-rt-14-dev desktop-file-utils)

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends \
        "${missing[@]}"
}

build() {
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLA_WERROR=ON "$@" >/dev/null
    cmake --build build -j"$(nproc)"
}

cmd=${1:-run}
[ $# -gt 0 ] && shift
case "$cmd" in
deps)
    install_missing
    ;;
run)
    install_missing
    build -DQUILLA_BUILD_TESTS=OFF
    exec build/bin/quilla "$@"
    ;;
package)
    install_missing
    build -DQUILLA_BUILD_TESTS=OFF
    (cd build && cpack -G DEB)
    ;;
test)
    install_missing "${TEST_PACKAGES[@]}"
    build -DQUILLA_BUILD_TESTS=ON
    status=0
    (cd build && ctest -j"$(nproc)" --output-on-failure --timeout 300) || status=1
    # The Debian package: made, its contents and Depends listed and checked, its programs run.
    packaging/check-package.sh build || status=1
    # Every test once more under AddressSanitizer and UBSan, leaks included.
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQUILLA_SANITIZE=ON -DQUILLA_WERROR=ON \
        -DQUILLA_BUILD_TESTS=ON >/dev/null
    cmake --build build-asan -j"$(nproc)" --target imaging_tests quilla_tests convert_tests \
        update_tests quilla-convert
    # intercept_tls_get_addr=0: the leak checker of GCC 12's runtime can misread a thread's
    # dynamic TLS block as an old glibc header and crash at exit with no leak to report.
    (cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest -j"$(nproc)" --output-on-failure --timeout 1200) || status=1
    # The code that runs on several threads (the imaging library, the thumbnail engine, the file
    # operations, the batch conversion) once more under ThreadSanitizer. Tests that start other
    # programs while the workers run are left out: ThreadSanitizer cannot follow threads started
    # after a multi-threaded fork.
    cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLA_TSAN=ON -DQUILLA_WERROR=ON \
        -DQUILLA_BUILD_TESTS=ON >/dev/null
    cmake --build build-tsan -j"$(nproc)" --target imaging_tests quilla_tests convert_tests \
        quilla-convert
    (cd build-tsan && QT_QPA_PLATFORM=offscreen \
        TSAN_OPTIONS="halt_on_error=1 die_after_fork=0 suppressions=$PWD/../tests/sanitizers/tsan.supp" \
        ctest -j"$(nproc)" --output-on-failure --timeout 1200 \
        -R '^(Threads|Thirty|Cached|SomeBroken|Loading|Commands|Engine|Transfer|ShellOp|Batch|Tool|SpiSandbox.HelperPool|SusieHostTest.Threads)') ||
        status=1
    # The import plug-ins under libFuzzer, two minutes each, on their kept corpus. The seed is
    # fixed so that a run can be repeated; by hand, plugins/fuzz/run.sh explores afresh.
    QUILLA_FUZZ_SEED=${QUILLA_FUZZ_SEED:-1} plugins/fuzz/run.sh "${QUILLA_FUZZ_SECONDS:-120}" ||
        status=1
    exit $status
    ;;
*)
    echo "usage: $0 run|test|package|deps" >&2
    exit 2
    ;;
esac
