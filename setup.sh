#!/usr/bin/env bash
# Set-up for a fresh Debian 12 or 13, or Ubuntu, machine: installs what is missing
# with apt-get (through sudo when not root), then builds and tests through the
# presets of CMakePresets.json (see README.md):
#
#   ./setup.sh run      build/, then start build/bin/servo-tool with the arguments
#   ./setup.sh test     every test of build/ and build-asan/; the fuzzers of
#                       build-fuzz/ for FUZZ_SECONDS each (default 60)
#   ./setup.sh package  the Debian package, checked and installed in a fresh
#                       root; the Windows zip and installer too when a Qt SDK
#                       for Windows is at hand, unless PACKAGE_WINDOWS=no
#   ./setup.sh windows  build-win/ and every test of it under Wine 10 and Xvfb
#                       (the Qt SDK from QT_MINGW_PREFIX or ../shared/toolchains/)
#
# JOBS sets the parallel build jobs (default: the number of cores).
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}
FUZZ_SECONDS=${FUZZ_SECONDS:-60}

BASE_PACKAGES=(cmake g++ make qtbase5-dev libqt5serialport5-dev qttools5-dev-tools fonts-wqy-microhei)
PACKAGE_PACKAGES=(dpkg-dev file desktop-file-utils appstream lintian man-db debootstrap)
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix gcc wine64 wine xvfb xauth fonts-liberation nsis debootstrap)
SDK_FOLDER=$ROOT/../shared/toolchains
# An absolute path: Wine 10's root mounts the SDK at its own path.
[ -z "${QT_MINGW_PREFIX:-}" ] || QT_MINGW_PREFIX=$(realpath "$QT_MINGW_PREFIX")

step() { printf '\n==> %s\n' "$*"; }
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

# Installs those of the given packages that are not installed yet
# (apt-get update first, once).
APT_UPDATED=no
install_missing() {
    local missing=() p
    for p in "$@"; do
        [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)" = "install ok installed" ] || missing+=("$p")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    if [ $APT_UPDATED = no ]; then
        step "apt-get update"
        "${SUDO[@]}" apt-get update || die "apt-get update failed"
        APT_UPDATED=yes
    fi
    step "apt-get install ${missing[*]}"
    "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}" ||
        die "apt-get install ${missing[*]} failed"
}

# clang with libFuzzer: its runtime comes with clang (libclang-common-N-dev)
# on older systems, and is libclang-rt-N-dev on Debian 12 and newer Ubuntu.
have_libfuzzer() {
    echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }' |
        clang++ -x c++ -fsanitize=fuzzer -o /dev/null - >/dev/null 2>&1
}
install_libfuzzer() {
    install_missing clang
    have_libfuzzer && return 0
    local rt
    rt=libclang-rt-$(clang++ -dumpversion | cut -d. -f1)-dev
    apt-cache show "$rt" >/dev/null 2>&1 && install_missing "$rt" && have_libfuzzer
}

build_preset() { # <preset> [cmake options]
    step "cmake --preset $*"
    cmake --preset "$@"
    step "cmake --build --preset $1"
    cmake --build --preset "$1" --parallel "$JOBS"
}
test_preset() {
    step "ctest --preset $1"
    ctest --preset "$1"
}

# The windows preset takes the Qt SDK from QT_MINGW_PREFIX, or unpacks
# ../shared/toolchains/qt5.15.8-mingw64.tar.xz into build-win/ itself
# (packaging/windows/toolchain.cmake); an empty value chooses the tarball.
windows_build() {
    install_missing "${BASE_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}"
    build_preset windows -DQT_MINGW_PREFIX="${QT_MINGW_PREFIX:-}"
}

[ $# -ge 1 ] || usage
command=$1
shift
[ "$command" = run ] || [ $# -eq 0 ] || usage
case "$command" in
run)
    install_missing "${BASE_PACKAGES[@]}"
    build_preset release
    step "start build/bin/servo-tool"
    exec "$ROOT/build/bin/servo-tool" "$@"
    ;;
test)
    install_missing "${BASE_PACKAGES[@]}"
    build_preset release
    test_preset release
    build_preset asan
    test_preset asan
    if install_libfuzzer; then
        build_preset fuzz -DSERVO_FUZZ_SECONDS="$FUZZ_SECONDS"
        test_preset fuzz
    else
        step "fuzzing skipped: no clang with libFuzzer (-fsanitize=fuzzer) could be installed"
    fi
    step "all tests passed"
    ;;
package)
    install_missing "${BASE_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
    build_preset release
    test_preset packaging # CPack makes the package, the validators check it
    if [ "${PACKAGE_WINDOWS:-yes}" != no ] && { [ -n "${QT_MINGW_PREFIX:-}" ] || [ -f "$SDK_FOLDER/qt5.15.8-mingw64.tar.xz" ]; }; then
        windows_build
        step "cpack -G \"ZIP;NSIS\" in build-win/"
        (cd build-win && cpack -G "ZIP;NSIS")
    fi
    step "packages built: $(ls build/servo-tool_*.deb build-win/servo-tool-*-win64.* 2>/dev/null | tr "\n" " ")"
    ;;
windows)
    windows_build
    # ptypair and ptymodem.so, Linux helpers of the serial tests under Wine.
    step "cmake --build --preset release --target ptypair ptymodem"
    cmake --preset release >/dev/null
    cmake --build --preset release --parallel "$JOBS" --target ptypair ptymodem
    step "ctest --preset windows, under Wine 10 (packaging/wine10-root.sh) and Xvfb"
    packaging/wine10-root.sh run \
        xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" ctest --preset windows
    ;;
*)
    usage
    ;;
esac
