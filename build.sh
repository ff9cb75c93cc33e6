#!/usr/bin/env bash
# Quilla's one set-up script.
#   ./build.sh run      install what is missing, build, and start Quilla
#   ./build.sh test     install what is missing, build, run the whole test suite, and build and
#                       check the Debian package (lintian, appstreamcli)
#   ./build.sh sanitize every test again under AddressSanitizer with UBSan, and the tests of the
#                       code that runs on several threads under ThreadSanitizer
#   ./build.sh fuzz     the shipped import plug-ins under libFuzzer, a fixed number of inputs
#                       each, then the corpus they grew through the program's plug-in helpers
#   ./build.sh bench    build the speed measurements of bench/ (build/bin/bench_*)
#   ./build.sh package  install what is missing, build, and make the Debian package
#                       build/quilla_<version>-<release>_<arch>.deb
#   ./build.sh deps     only install the missing Debian packages
# Extra arguments after "run" are passed to Quilla. CI (.ci/run) runs test, sanitize, fuzz
# and bench.
set -euo pipefail
cd "$(dirname "$0")"

# Debian packages the build, the tests and the program need.
PACKAGES=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev libx11-dev
    qt6-tools-dev qt6-tools-dev-tools libqt6sql6-sqlite
    libjpeg62-turbo-dev libpng-dev libgif-dev libtiff-dev libexif-dev libimagequant-dev zlib1g-dev
    libwebp-dev libheif-dev libjxl-dev libraw-dev libseccomp-dev libcurl4-openssl-dev liblcms2-dev
    libgtest-dev googletest
    fonts-ipafont-gothic qt6-translations-l10n
    dpkg-dev file
)
# Independent readers and writers of image files that the tests check against (dcraw and djpeg for
# camera RAW files and their previews; Little CMS's jpgicc and tificc with colord's profiles for
# colour profiles; a virtual X11 screen for the screen's profile), openssl for the version check's TLS test, clang with
# libFuzzer for fuzzing the import plug-ins, and the menu entry's validator, Debian's package
# checker and the AppStream validator.
TEST_PACKAGES=(imagemagick libimage-exiftool-perl python3-pil webp libheif-examples libjxl-tools
    dcraw libjpeg-turbo-progs libtiff-tools liblcms2-utils colord-data xvfb
    openssl clang libclang-rt-14-dev desktop-file-utils lintian appstream)

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

# ccache, where it is installed, lets the build folders reuse what was compiled before.
launcher=()
# Paths are hashed relative to the checkout, so another clone of the same code hits the same
# cache entries.
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
fi

# configure FOLDER [CMAKE-OPTION...]
# A unity build: each target's files are compiled a few at a time, included into one generated
# source, so that the Qt and GoogleTest headers they all include are read once per group rather
# than once per file; a build from nothing takes about a third of the processor time. (A build
# folder set up by hand compiles file by file, which suits editing one file.)
# Groups of 16 files (CMake's default is 8): each group reads the headers once more, and a
# library's files hold no names that clash; the test programs keep groups of 8
# (tests/CMakeLists.txt), whose files share helper names.
configure() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -DQUILLA_WERROR=ON -DCMAKE_UNITY_BUILD=ON -DCMAKE_UNITY_BUILD_BATCH_SIZE=16 \
        "${launcher[@]}" "$@" >/dev/null
}

# The folder "build": optimised, with line tables only (-g1): enough for a backtrace with file
# names and lines, for some 30 % less processor time than full debugging information (-g), which
# only a debugger's look at variables needs. The package strips the programs either way.
release_flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG")

build() {
    configure build "${release_flags[@]}" "$@"
    cmake --build build -j"$(nproc)"
}

# cpu_now: sets cpu to the processor time (user and system, whole seconds) of every program this
# script has waited for so far. Not in a subshell, whose count would start from nothing.
times_file=$(mktemp)
trap 'rm -f "$times_file"' EXIT
cpu_now() {
    times >"$times_file"
    cpu=$(awk 'NR == 2 { s = 0; for (i = 1; i <= 2; i++) { split($i, t, /[ms]/); s += t[1] * 60 + t[2] }
        printf "%d", s }' "$times_file")
}

# phase NAME COMMAND...: one step of the test command; its time and processor time are noted for
# the summary (a busy machine stretches the first, hardly the second).
summary=()
phase() {
    local name=$1 start=$SECONDS cpu before rc=0
    shift
    echo "== $name"
    cpu_now
    before=$cpu
    "$@" || rc=$?
    cpu_now
    summary+=("$(printf '%5d s %6d s CPU  %s' $((SECONDS - start)) $((cpu - before)) "$name")$(
        [ $rc -eq 0 ] || echo '  FAILED')")
    return $rc
}

release_tests() {
    (cd build && ctest -j"$(nproc)" --output-on-failure --timeout 300)
}

# The sanitizer builds are optimised a little (-O1), so that the tests run quickly, and carry line
# tables only (-g1), which is all a sanitizer's report needs; assertions stay on.
sanitizer_flags=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_C_FLAGS_DEBUG=-O1 -g1"
    "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1" -DQUILLA_BUILD_TESTS=ON)

asan_build() {
    configure build-asan "${sanitizer_flags[@]}" -DQUILLA_SANITIZE=ON
    cmake --build build-asan -j"$(nproc)" --target test_programs
}

# Every test once more under AddressSanitizer and UBSan, leaks included (the plug-in helpers, whose
# system-call filter refuses the ptrace that the leak check needs, go without it; see Sandbox.cpp).
# QUILLA_HELPER_STDERR=1 lets the helpers' own reports through.
# intercept_tls_get_addr=0: the leak checker of GCC 12's runtime can misread a thread's dynamic
# TLS block as an old glibc header and crash at exit with no leak to report.
asan_tests() {
    (cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest -j"$(nproc)" --output-on-failure --timeout 1200)
}

# The code that runs on several threads (the imaging library, the thumbnail engine, the file
# operations, the batch conversion) once more under ThreadSanitizer; its test programs hold only
# those test files (QUILLA_THREADED_TESTS in tests/CMakeLists.txt). Tests that start other
# programs while the workers run are left out: ThreadSanitizer cannot follow threads started
# after a multi-threaded fork.
tsan_build() {
    configure build-tsan "${sanitizer_flags[@]}" -DQUILLA_TSAN=ON
    cmake --build build-tsan -j"$(nproc)" --target test_programs
}

tsan_tests() {
    (cd build-tsan && QT_QPA_PLATFORM=offscreen \
        TSAN_OPTIONS="halt_on_error=1 die_after_fork=0 suppressions=$PWD/../tests/sanitizers/tsan.supp" \
        ctest -j"$(nproc)" --output-on-failure --timeout 1200 \
        -R '^(Threads|FileStats_|BlockPool_|Thirty|Cached|SomeBroken|Loading|Commands|Engine|Transfer|ShellOp|Batch|Tool|SpiSandbox.HelperPool|SusieHostTest.Threads|HiDpiGrid.Thumbnails|ColorProfile.ConversionsAreSharedByThreads)')
}

# The ThreadSanitizer build runs in the background from the start of the sanitize command, at the
# lowest priority: it takes only the processor time that the AddressSanitizer build and its tests
# leave idle (a test waiting on a deadline, on another program or on the disk; a link step that
# uses one core), so that the tests see the processors as before. Its output goes to a log that is
# shown when the foreground comes to its tests.
background_dir=
background_pid=

# background_phase TAG NAME COMMAND...: a phase whose output goes to TAG.log, its status to
# TAG.status and its line of the summary to TAG.summary.
background_phase() {
    local tag=$1 name=$2 rc=0
    shift 2
    summary=()
    phase "$name (in the background, niced)" "$@" >"$background_dir/$tag.log" 2>&1 || rc=$?
    printf '%s\n' "${summary[@]}" >"$background_dir/$tag.summary"
    echo $rc >"$background_dir/$tag.status"
}

# in_background TAG NAME COMMAND...: runs that phase in the background job.
in_background() {
    background_dir=$(mktemp -d)
    trap 'rm -f "$times_file"; stop_background; rm -rf "$background_dir"' EXIT
    (
        trap - EXIT
        times_file=$background_dir/times
        renice -n 19 -p $BASHPID >/dev/null
        background_phase "$@"
        # The job ends only when the foreground waits for it, so that the shell does not add its
        # processor time to whichever step is running when it ends.
        while [ ! -f "$background_dir/reaped" ]; do
            sleep 1
        done
    ) &
    background_pid=$!
}

# await_background TAG NAME: waits for that build, shows its output, notes its line and that of
# the wait NAME for the summary and returns its status. The wait notes no processor time: the
# build's own, which the shell counts once the background job has ended, is on the build's line.
await_background() {
    local start=$SECONDS rc
    echo "== $2"
    while [ ! -f "$background_dir/$1.status" ]; do
        sleep 1
    done
    cat "$background_dir/$1.log"
    rc=$(cat "$background_dir/$1.status")
    # The background job ends here, not during the next step's count.
    touch "$background_dir/reaped"
    wait "$background_pid" || true
    summary+=("$(cat "$background_dir/$1.summary")"
        "$(printf '%5d s %6s      %s' $((SECONDS - start)) - "$2")$([ "$rc" -eq 0 ] || echo '  FAILED')")
    return "$rc"
}

# stop_background: ends the background build (and whatever it started) when the command ends
# early.
stop_background() {
    [ -n "$background_pid" ] || return 0
    kill_tree "$background_pid"
}
kill_tree() {
    local child
    for child in $(ps -o pid= --ppid "$1" 2>/dev/null); do
        kill_tree "$child"
    done
    kill "$1" 2>/dev/null || true
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
    status=0
    phase "build" build -DQUILLA_BUILD_TESTS=ON || exit 1
    phase "tests" release_tests || status=1
    # The Debian package: made, its contents and Depends listed and checked, lintian and
    # appstreamcli, its programs run.
    phase "package" packaging/check-package.sh build || status=1
    echo "== times (wall, processor)"
    printf '%s\n' "${summary[@]}"
    exit $status
    ;;
sanitize)
    # The sanitizer runs: a command of their own, which CI runs after the test command, so that
    # the test command stays quick.
    install_missing "${TEST_PACKAGES[@]}"
    status=0
    in_background tsan "TSan build" tsan_build
    if phase "ASan+UBSan build" asan_build; then
        phase "ASan+UBSan tests" asan_tests || status=1
    else
        status=1
    fi
    if await_background tsan "TSan build (waited for)"; then
        phase "TSan tests" tsan_tests || status=1
    else
        status=1
    fi
    echo "== times (wall, processor)"
    printf '%s\n' "${summary[@]}"
    exit $status
    ;;
fuzz)
    # The import plug-ins under libFuzzer on their kept corpus. The seed and the number of inputs
    # are fixed, so that every run tries the same inputs and a fault found is found again
    # wherever it runs (a run bounded by time tries more or fewer on a faster or slower machine);
    # by hand, plugins/fuzz/run.sh explores afresh.
    # Afterwards the grown corpus also goes through the program's plug-in helpers.
    install_missing "${TEST_PACKAGES[@]}"
    configure build "${release_flags[@]}" -DQUILLA_BUILD_TESTS=ON
    cmake --build build -j"$(nproc)" --target imaging_tests
    QUILLA_FUZZ_SEED=${QUILLA_FUZZ_SEED:-1} QUILLA_FUZZ_RUNS=${QUILLA_FUZZ_RUNS:-fixed} \
        QUILLA_FUZZ_HOST_TESTS=$PWD/build/bin/imaging_tests \
        exec plugins/fuzz/run.sh "${QUILLA_FUZZ_SECONDS:-600}"
    ;;
bench)
    install_missing
    build -DQUILLA_BUILD_TESTS=ON
    cmake --build build -j"$(nproc)" --target benches dialog_shots
    ;;

*)
    echo "usage: $0 run|test|sanitize|fuzz|bench|package|deps" >&2
    exit 2
    ;;
esac
