#!/usr/bin/env bash
# Set-up for a fresh Debian 12 or Ubuntu machine.
#
#   ./setup.sh run    install what is missing, build Release into build/ and
#                     start build/bin/servo-tool (further arguments go to it)
#   ./setup.sh test   install what is missing (clang and libFuzzer too), then
#                     build/       Release build, every test through CTest
#                     build-asan/  -DSERVO_SANITIZE=ON, every test again
#                     build-fuzz/  clang, -DSERVO_FUZZ=ON, each fuzzer for
#                                  FUZZ_SECONDS seconds (default 60)
#   ./setup.sh package
#                     install what is missing (the packaging tools and the
#                     validators too), build Release into build/, make the
#                     Debian package build/servo-tool_<version>_<arch>.deb
#                     and check it: desktop-file-validate, appstreamcli
#                     validate, man --warnings, lintian (no errors); with a
#                     Qt SDK for Windows at hand, also the Windows zip and
#                     installer (as ./setup.sh windows makes them)
#   ./setup.sh windows  install the mingw-w64 cross compiler, NSIS and Wine,
#                     build for 64-bit Windows into build-win/ with the Qt SDK
#                     from QT_MINGW_PREFIX or ../shared/toolchains/, make
#                     build-win/servo-tool-<version>-win64.zip and the
#                     installer servo-tool-<version>-win64.exe, run the
#                     programs from the zip and every test under Wine, then
#                     install, run and uninstall with the installer
#                     (packaging/windows.sh)
#
# Environment: JOBS (parallel build jobs, default: number of cores),
# FUZZ_SECONDS. Packages are installed with apt-get, through sudo when not
# run as root.
set -euo pipefail

cd "$(dirname "$0")"
ROOT=$(pwd)

JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
FUZZERS=(fuzz_receive fuzz_receive_fixup fuzz_paramline)

BASE_PACKAGES=(cmake g++ make qtbase5-dev libqt5serialport5-dev qttools5-dev-tools fonts-wqy-microhei)
FUZZ_PACKAGES=(clang)
PACKAGE_PACKAGES=(dpkg-dev file desktop-file-utils appstream lintian man-db debootstrap)
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix wine64 wine xvfb x11-utils unzip fonts-liberation nsis)

step() {
    echo
    echo "==> $*"
}

die() {
    echo "setup.sh: $*" >&2
    exit 1
}

usage() {
    echo "usage: $0 run [arguments for servo-tool] | test | package | windows" >&2
    exit 2
}

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || die "not root and sudo is not installed; install the packages as root"
    SUDO=(sudo)
fi

APT_UPDATED=no
apt_update_once() {
    if [ "$APT_UPDATED" = no ]; then
        step "apt-get update"
        "${SUDO[@]}" apt-get update || die "apt-get update failed"
        APT_UPDATED=yes
    fi
}

installed() {
    [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" = "install ok installed" ]
}

# Installs those of the given packages that are not installed yet.
install_missing() {
    local missing=()
    local p
    for p in "$@"; do
        installed "$p" || missing+=("$p")
    done
    if [ ${#missing[@]} -eq 0 ]; then
        echo "already installed: $*"
        return
    fi
    apt_update_once
    step "apt-get install ${missing[*]}"
    "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}" ||
        die "apt-get install ${missing[*]} failed"
}

# Compiles and links an empty fuzz target: true when clang has libFuzzer.
have_libfuzzer() {
    local dir
    dir=$(mktemp -d)
    printf '%s\n' 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }' \
        >"$dir/probe.cpp"
    local rc=0
    clang++ -fsanitize=fuzzer "$dir/probe.cpp" -o "$dir/probe" >/dev/null 2>&1 || rc=$?
    rm -rf "$dir"
    return $rc
}

# The package that carries clang's libFuzzer runtime: libclang-rt-N-dev on
# Debian 12 and newer Ubuntu, part of libclang-common-N-dev on older ones.
# Returns 1 when there is still no libFuzzer afterwards.
install_libfuzzer() {
    command -v clang++ >/dev/null 2>&1 || return 1
    have_libfuzzer && return 0
    local major
    major=$(clang++ -dumpversion | cut -d. -f1)
    apt_update_once
    local p
    for p in "libclang-rt-$major-dev" "libclang-common-$major-dev"; do
        if apt-cache show "$p" >/dev/null 2>&1; then
            install_missing "$p"
            have_libfuzzer && return 0
        fi
    done
    return 1
}

configure_and_build() {
    local dir=$1
    shift
    step "configure $dir ($*)"
    cmake -S "$ROOT" -B "$ROOT/$dir" "$@"
    step "build $dir"
    cmake --build "$ROOT/$dir" --parallel "$JOBS"
}

run_ctest() {
    local dir=$1
    step "ctest in $dir"
    (cd "$ROOT/$dir" && ctest --output-on-failure)
}

run_fuzzers() {
    local dir=$ROOT/build-fuzz
    local failed=()
    local t
    for t in "${FUZZERS[@]}"; do
        local work=$dir/fuzz-work/$t
        mkdir -p "$work/corpus" "$work/artifacts"
        local max_len=4096
        [ "$t" = fuzz_paramline ] && max_len=10000
        step "fuzz $t for $FUZZ_SECONDS s"
        local rc=0
        "$dir/bin/$t" -max_total_time="$FUZZ_SECONDS" -max_len="$max_len" -timeout=10 \
            -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
            "$work/corpus" "$ROOT/tools/fuzz/corpus/$t" >"$work/log.txt" 2>&1 || rc=$?
        grep -E '^#[0-9]+.*DONE|stat::number_of_executed_units' "$work/log.txt" || true
        if [ $rc -ne 0 ] || grep -qE 'ERROR: (AddressSanitizer|libFuzzer)|runtime error:|SUMMARY:' "$work/log.txt"; then
            echo "!! $t failed (exit $rc); log: $work/log.txt" >&2
            tail -n 40 "$work/log.txt" >&2
            ls "$work/artifacts" >&2 || true
            failed+=("$t")
        fi
    done
    if [ ${#failed[@]} -gt 0 ]; then
        die "fuzzers failed: ${failed[*]}"
    fi
}

# Makes build/servo-tool_<version>_<arch>.deb from the Release build.
build_deb() {
    step "cpack -G DEB"
    rm -f "$ROOT"/build/servo-tool_*.deb
    (cd "$ROOT/build" && cpack -G DEB)
}

# Runs the validators on the files of the package: every one must pass, and
# lintian must find no error (its warnings and notes are shown).
validate_deb() {
    local deb
    deb=$(echo "$ROOT"/build/servo-tool_*.deb)
    local dir
    dir=$(mktemp -d)
    dpkg-deb -x "$deb" "$dir"
    local failed=()
    step "desktop-file-validate"
    if desktop-file-validate "$dir"/usr/share/applications/*.desktop; then
        echo "$(basename "$dir"/usr/share/applications/*.desktop): valid"
    else
        failed+=(desktop-file-validate)
    fi
    step "appstreamcli validate --no-net"
    appstreamcli validate --no-net "$dir"/usr/share/metainfo/*.metainfo.xml || failed+=(appstreamcli)
    step "man --warnings -l"
    local page
    for page in "$dir"/usr/share/man/man1/*; do
        local warnings
        warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || warnings="man failed: $warnings"
        if [ -n "$warnings" ]; then
            echo "$(basename "$page"): $warnings"
            failed+=("man $(basename "$page")")
        else
            echo "$(basename "$page"): no warnings"
        fi
    done
    rm -rf "$dir"
    step "lintian $(basename "$deb")"
    lintian --fail-on error --display-info "$deb" || failed+=(lintian)
    if [ ${#failed[@]} -gt 0 ]; then
        die "validation failed: ${failed[*]}"
    fi
    step "package built and validated: $deb"
}

[ $# -ge 1 ] || usage
command=$1
shift

case "$command" in
run)
    step "packages"
    install_missing "${BASE_PACKAGES[@]}"
    configure_and_build build -DCMAKE_BUILD_TYPE=Release
    step "start build/bin/servo-tool"
    exec "$ROOT/build/bin/servo-tool" "$@"
    ;;
test)
    [ $# -eq 0 ] || usage
    step "packages"
    install_missing "${BASE_PACKAGES[@]}"
    install_missing "${FUZZ_PACKAGES[@]}"
    fuzz=yes
    install_libfuzzer || fuzz=no

    configure_and_build build -DCMAKE_BUILD_TYPE=Release
    run_ctest build

    configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DSERVO_SANITIZE=ON
    run_ctest build-asan

    if [ "$fuzz" = yes ]; then
        step "configure build-fuzz (clang, SERVO_FUZZ=ON)"
        CC=clang CXX=clang++ cmake -S "$ROOT" -B "$ROOT/build-fuzz" \
            -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSERVO_FUZZ=ON -DSERVO_TESTS=OFF
        step "build the fuzzers"
        cmake --build "$ROOT/build-fuzz" --parallel "$JOBS" --target "${FUZZERS[@]}"
        run_fuzzers
    else
        step "fuzzing skipped: no clang with libFuzzer (-fsanitize=fuzzer) could be installed"
    fi
    step "all tests passed"
    ;;
package)
    [ $# -eq 0 ] || usage
    step "packages"
    install_missing "${BASE_PACKAGES[@]}"
    install_missing "${PACKAGE_PACKAGES[@]}"
    configure_and_build build -DCMAKE_BUILD_TYPE=Release
    build_deb
    validate_deb
    # The Windows zip and installer too, when a Qt SDK for Windows is at hand;
    # `./setup.sh windows` also runs them under Wine.
    if [ -n "${QT_MINGW_PREFIX:-}" ] || [ -f "$ROOT/../shared/toolchains/qt5.15.8-mingw64.tar.xz" ]; then
        . "$ROOT/packaging/windows.sh"
        windows_sdk
        install_missing "${WINDOWS_PACKAGES[@]}"
        windows_build
        step "packages built: $(echo "$ROOT"/build/servo-tool_*.deb), $ZIP, $SETUP"
    else
        step "Windows packages skipped: no Qt SDK for Windows (QT_MINGW_PREFIX, or ../shared/toolchains/)"
    fi
    ;;
windows)
    [ $# -eq 0 ] || usage
    . "$ROOT/packaging/windows.sh"
    windows_sdk
    step "packages"
    install_missing "${BASE_PACKAGES[@]}"
    install_missing "${WINDOWS_PACKAGES[@]}"
    windows_build
    windows_fresh_prefix
    windows_programs
    windows_tests
    serial_through_wine
    windows_installer
    step "Windows: $(basename "$ZIP") and $(basename "$SETUP") built, programs and tests ran under Wine, the installer installed and uninstalled"
    ;;
*)
    usage
    ;;
esac
