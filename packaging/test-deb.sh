#!/bin/bash
# Installs the Debian package as a user would, in a fresh minimal Debian 12
# root, and checks what the desktop and the shell find there. Run by CTest as
# packaging_deb_installs (packaging/linux.cmake), after CPack made the package:
#
#   test-deb.sh <servo-tool_<version>_<arch>.deb> <application id>...
#
#   - apt-get install ./servo-tool_*.deb pulls in what it depends on, the
#     font that stands in for the window's face among it;
#   - the four programs are on PATH; servo-cli, servo-sim and servo-bench
#     answer --help, servo-bench --version names the package's version, and
#     servo-cli reads a servo-sim on a pseudo-terminal;
#   - for each application id (a window: the servo tool, the bench), the
#     desktop entry, the metadata that launches it and its icon, of its own,
#     are where the desktop looks for them;
#   - each window, started by its entry's Exec line on the offscreen
#     platform, is still running after 5 s;
#   - the manual pages and the completion are where the shell looks for them;
#   - dpkg -r removes every file the package put there.
#
# Needs root, debootstrap and a Debian archive (MIRROR, by default the one
# this machine's apt is configured with); exits 77 (skipped) without them.
set -euo pipefail

deb=$(realpath "$1")
shift
APP_IDS=("$@")
cd "$(dirname "$0")/.."
skip() {
    echo "test-deb.sh: skipped: $*"
    exit 77
}
[ "$(id -u)" -eq 0 ] || skip "needs root (debootstrap, chroot)"
command -v debootstrap >/dev/null || skip "debootstrap is missing"
MIRROR=${MIRROR:-$(packaging/apt-mirror.sh)} || skip "no Debian archive in apt's configuration (set MIRROR)"

die() {
    echo "test-deb.sh: $*" >&2
    exit 1
}

root=$(mktemp -d /var/tmp/servo-tool-deb.XXXXXX)
chmod 755 "$root" # apt's download user must get in
cleanup() {
    local m
    for m in dev/pts dev sys proc; do
        mountpoint -q "$root/$m" && umount -l "$root/$m"
    done
    rm -rf --one-file-system "$root"
}
trap cleanup EXIT

in_root() {
    chroot "$root" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME=/root \
        LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
}

failures=0
passes=0
check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok    $what"
        passes=$((passes + 1))
    else
        echo "FAIL  $what"
        failures=$((failures + 1))
    fi
}

echo "==> debootstrap --variant=minbase bookworm $root"
debootstrap --variant=minbase bookworm "$root" "$MIRROR" >"$root.log" 2>&1 ||
    { tail -n 20 "$root.log"; die "debootstrap failed (log: $root.log)"; }
rm -f "$root.log"
mount -t proc proc "$root/proc"
mount -t sysfs sys "$root/sys"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"

echo "==> apt-get install ./$(basename "$deb")"
cp "$deb" "$root/tmp/"
in_root apt-get update -q >/dev/null
# Everything in the root before the package comes.
in_root find / -xdev -path /proc -prune -o -path /sys -prune -o -path /dev -prune -o -print | sort >"$root/before-install.txt"
in_root sh -c "cd /tmp && apt-get install -y -q ./$(basename "$deb")" >"$root/install.log" 2>&1 ||
    { tail -n 30 "$root/install.log"; die "apt-get install failed"; }
grep -E '^(Setting up|Unpacking) servo-tool' "$root/install.log" || true
in_root dpkg -L servo-tool | sort >"$root/package-files.txt"

echo "==> the programs"
for program in servo-tool servo-bench servo-cli servo-sim; do
    check "$program is /usr/bin/$program on PATH" \
        test "$(in_root sh -c "command -v $program")" = "/usr/bin/$program"
done
check "fonts-wqy-microhei, the stand-in for the window's face, came with it" \
    test "$(in_root dpkg-query -W -f='${Status}' fonts-wqy-microhei 2>/dev/null)" = "install ok installed"
check "servo-cli --help" in_root sh -c 'servo-cli --help | grep -q "^Usage: servo-cli"'
check "servo-sim --help" in_root sh -c 'servo-sim --help | grep -q "^Usage: servo-sim"'
check "servo-bench --help" in_root sh -c 'servo-bench --help | grep -q "^Usage: servo-bench"'
version=$(in_root dpkg-query -W -f='${Version}' servo-tool)
check "servo-bench --version is $version" \
    test "$(in_root sh -c 'servo-bench --version')" = "servo-bench $version"
check "servo-cli reads a servo-sim on a pseudo-terminal" in_root sh -c '
    servo-sim --link /tmp/servo >/dev/null & sim=$!
    for i in $(seq 50); do [ -e /tmp/servo ] && break; sleep 0.1; done
    servo-cli read --port /tmp/servo --json | grep -q "\"TorqueGain\""; rc=$?
    kill $sim; wait $sim; exit $rc'

# The window runs until it is closed; timeout's 124 says it was still there
# after 5 s and was then ended by SIGTERM.
window() {
    local rc=0
    in_root sh -c "cd /tmp && QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=/tmp timeout 5 $1" \
        >"$root/window.log" 2>&1 || rc=$?
    if [ $rc -ne 124 ]; then
        echo "      exit status $rc:"
        sed 's/^/      /' "$root/window.log" | tail -n 20
    fi
    [ $rc -eq 124 ]
}

icons=()
for app_id in "${APP_IDS[@]}"; do
    echo "==> $app_id: the desktop entry, the metadata and the icon"
    desktop=/usr/share/applications/$app_id.desktop
    metainfo=/usr/share/metainfo/$app_id.metainfo.xml
    check "$desktop" test -f "$root$desktop"
    exec_line=$(sed -n 's/^Exec=//p' "$root$desktop")
    icon=$(sed -n 's/^Icon=//p' "$root$desktop")
    check "Exec=$exec_line is on PATH" in_root sh -c "command -v ${exec_line%% *} >/dev/null"
    check "Icon=$icon in /usr/share/icons/hicolor" \
        test -f "$root/usr/share/icons/hicolor/48x48/apps/$icon.png" -a -f "$root/usr/share/icons/hicolor/256x256/apps/$icon.png"
    check "$metainfo launches $app_id.desktop" \
        grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$root$metainfo"
    for other in "${icons[@]}"; do
        check "Icon=$icon is not $other" \
            test "$(md5sum <"$root/usr/share/icons/hicolor/48x48/apps/$icon.png")" != \
            "$(md5sum <"$root/usr/share/icons/hicolor/48x48/apps/$other.png")"
    done
    icons+=("$icon")
    check "the window from the entry's Exec line runs on the offscreen platform" window "$exec_line"
done

echo "==> the manual pages and the completion"
for page in servo-tool servo-bench servo-cli servo-sim; do
    check "man $page" test -f "$root/usr/share/man/man1/$page.1.gz"
done
check "bash completion" test -f "$root/usr/share/bash-completion/completions/servo-cli"

echo "==> dpkg -r servo-tool"
in_root dpkg -r servo-tool >/dev/null
# Left: what the package put there (it was not there before) that is still
# there and that no other package owns.
left=()
while read -r path; do
    [ -e "$root$path" ] && ! in_root dpkg-query -S "$path" >/dev/null 2>&1 && left+=("$path")
done < <(comm -23 "$root/package-files.txt" "$root/before-install.txt" | grep -vxF /.)
check "dpkg -r left nothing of $(wc -l <"$root/package-files.txt") paths" test ${#left[@]} -eq 0
[ ${#left[@]} -eq 0 ] || printf '      left: %s\n' "${left[@]}"

echo "test-deb: $passes passed, $failures failed"
[ $failures -eq 0 ]
