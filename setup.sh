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
#                     installer (as ./setup.sh windows makes them), unless
#                     PACKAGE_WINDOWS=no
#   ./setup.sh windows  install the mingw-w64 cross compiler, NSIS and Wine,
#                     build for 64-bit Windows into build-win/ with the Qt SDK
#                     from QT_MINGW_PREFIX or ../shared/toolchains/, make
#                     build-win/servo-tool-<version>-win64.zip and the
#                     installer servo-tool-<version>-win64.exe, run the
#                     programs from the zip and every test under Wine 10
#                     (from a Debian 13 root kept in ~/.cache/servo-tool;
#                     needs root), the serial ones through COM ports, then
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

BASE_PACKAGES=(cmake g++ make qtbase5-dev libqt5serialport5-dev qttools5-dev-tools fonts-wqy-microhei)
FUZZ_PACKAGES=(clang)
PACKAGE_PACKAGES=(dpkg-dev file desktop-file-utils appstream lintian man-db debootstrap)
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix wine64 wine xvfb x11-utils unzip fonts-liberation nsis debootstrap)

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

# build_preset <preset> [cmake options]: configures and builds one of the
# variants of CMakePresets.json.
build_preset() {
    local preset=$1
    shift
    step "cmake --preset $preset $*"
    cmake --preset "$preset" "$@"
    step "cmake --build --preset $preset"
    cmake --build --preset "$preset" --parallel "$JOBS"
}

test_preset() {
    step "ctest --preset $1"
    ctest --preset "$1"
}

[ $# -ge 1 ] || usage
command=$1
shift

case "$command" in
run)
    step "packages"
    install_missing "${BASE_PACKAGES[@]}"
    build_preset release
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

    build_preset release
    test_preset release
    build_preset asan
    test_preset asan
    if [ "$fuzz" = yes ]; then
        build_preset fuzz -DSERVO_FUZZ_SECONDS="$FUZZ_SECONDS"
        test_preset fuzz
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
    build_preset release
    # CPack makes the package; desktop-file-validate, appstreamcli,
    # man --warnings and lintian check it (packaging/linux.cmake).
    test_preset packaging
    step "package built and validated: $(echo "$ROOT"/build/servo-tool_*.deb)"
    # The Windows zip and installer too, when a Qt SDK for Windows is at hand;
    # `./setup.sh windows` also runs them under Wine.
    if [ "${PACKAGE_WINDOWS:-yes}" = no ]; then
        step "Windows packages left to ./setup.sh windows (PACKAGE_WINDOWS=no)"
    elif [ -n "${QT_MINGW_PREFIX:-}" ] || [ -f "$ROOT/../shared/toolchains/qt5.15.8-mingw64.tar.xz" ]; then
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
    windows_started=$SECONDS
    windows_build
    windows_wine
    windows_line_helpers
    windows_fresh_prefix
    windows_programs
    windows_tests
    windows_window_serial
    serial_through_wine
    windows_installer
    step "Windows: $(basename "$ZIP") and $(basename "$SETUP") built, programs and tests ran under $(wine --version), the installer installed and uninstalled ($((SECONDS - windows_started)) s)"
    ;;
*)
    usage
    ;;
esac
