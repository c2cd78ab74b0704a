#!/bin/bash
# packaging/wine10-root.sh run COMMAND...: runs COMMAND with wine, wineserver
# and wineboot of Wine 10 first on PATH, from a Debian 13 minbase root made
# once in ${XDG_CACHE_HOME:-~/.cache}/servo-tool/wine10-<hash of the recipe>
# (a changed recipe makes a new root and removes the old). In a mount
# namespace of its own, /proc, /dev, /tmp, the clone, the SDK, the fonts and
# the compiler's runtime DLLs are mounted in the root at their own paths.
# Making the root needs root rights, debootstrap and Debian's archive (from
# apt's configuration, or MIRROR); without them COMMAND runs with the host's
# Wine.
set -euo pipefail

SUITE=trixie
PACKAGES=(wine wine64 xvfb xauth fonts-dejavu-core fonts-wqy-microhei)
RECIPE="debootstrap --variant=minbase $SUITE; apt-get install --no-install-recommends ${PACKAGES[*]}"
HASH=$(printf '%s\n' "$RECIPE" | sha256sum | cut -c1-12)
CACHE=${XDG_CACHE_HOME:-$HOME/.cache}/servo-tool
ROOTDIR=$CACHE/wine10-$HASH

cannot() {
    echo "wine10-root.sh: no Wine 10 root to run in: $*" >&2
    exit 3
}

make_root() {
    [ "$(id -u)" -eq 0 ] || cannot "needs root rights (debootstrap, mount, chroot)"
    [ -f "$ROOTDIR/.complete" ] && return 0
    command -v debootstrap >/dev/null || cannot "debootstrap is not installed"
    [ -f "/usr/share/debootstrap/scripts/$SUITE" ] || cannot "this debootstrap does not know Debian $SUITE"
    local mirror=${MIRROR:-$("$(dirname "$0")/apt-mirror.sh" 2>/dev/null)}
    [ -n "$mirror" ] || cannot "no Debian archive in apt's configuration (set MIRROR)"
    mkdir -p "$CACHE"
    # Roots made by another recipe are of no further use.
    local old
    for old in "$CACHE"/wine10-*; do
        [ -d "$old" ] && [ "$old" != "$ROOTDIR" ] || continue
        echo "wine10-root.sh: removing $old (another recipe)"
        rm -rf --one-file-system "$old"
    done
    local partial=$ROOTDIR.partial
    rm -rf --one-file-system "$ROOTDIR" "$partial"
    mkdir -m 755 "$partial"
    local start=$SECONDS
    echo "==> debootstrap --variant=minbase $SUITE $partial $mirror"
    debootstrap --variant=minbase "$SUITE" "$partial" "$mirror" >"$partial.log" 2>&1 ||
        { tail -n 20 "$partial.log"; cannot "debootstrap failed (log: $partial.log)"; }
    echo "==> apt-get install --no-install-recommends ${PACKAGES[*]}"
    mount -t proc proc "$partial/proc"
    trap 'umount -l "$partial/proc" 2>/dev/null || true' EXIT
    chroot "$partial" /usr/bin/env -i PATH=/usr/bin:/bin:/usr/sbin:/sbin DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --no-install-recommends "${PACKAGES[@]}" >>"$partial.log" 2>&1 ||
        { tail -n 20 "$partial.log"; cannot "apt-get install failed (log: $partial.log)"; }
    chroot "$partial" apt-get clean
    umount -l "$partial/proc"
    trap - EXIT
    printf '%s\n' "$RECIPE" >"$partial/.complete"
    mv "$partial" "$ROOTDIR"
    rm -f "$partial.log"
    echo "==> Wine 10 root made in $((SECONDS - start)) s: $ROOTDIR"
}

# Runs "$@" in a mount namespace where the root has what it needs.
enter() {
    local bind
    mount -t proc proc "$ROOTDIR/proc"
    mount --rbind /dev "$ROOTDIR/dev"
    for bind in /tmp "$(cd "$(dirname "$0")/.." && pwd)" ${QT_MINGW_PREFIX:-} /usr/share/fonts/truetype/liberation \
        /usr/lib/gcc/x86_64-w64-mingw32 /usr/x86_64-w64-mingw32; do
        [ -d "$bind" ] || continue
        mkdir -p "$ROOTDIR$bind"
        mount --rbind "$bind" "$ROOTDIR$bind"
    done
    local wrappers=$ROOTDIR.bin program
    mkdir -p "$wrappers"
    for program in wine wineserver wineboot; do
        # Without TMPDIR: given one, Wine 10 notes its server's folder in the
        # prefix, and every later start reading that note aborts.
        printf '#!/bin/sh\nexec env -u TMPDIR chroot "%s" /bin/sh -c '\''cd "$1" 2>/dev/null || cd /; shift; exec "$@"'\'' sh "$PWD" /usr/bin/%s "$@"\n' \
            "$ROOTDIR" "$program" >"$wrappers/$program"
        chmod +x "$wrappers/$program"
    done
    PATH=$wrappers:$PATH
    echo "Windows programs run under $(wine --version) from $ROOTDIR"
    exec "$@"
}

case ${1:-} in
run)
    shift
    rc=0
    (make_root) >&2 || rc=$?
    if [ $rc -eq 3 ]; then
        echo "!! No Wine 10 root here (above): the Windows programs run under $(wine --version 2>/dev/null)," >&2
        echo "!! which cannot read COM ports; the tests that need the servo programmer's line are skipped." >&2
        exec "$@"
    fi
    [ $rc -eq 0 ] || exit $rc
    exec unshare --mount "$0" enter "$@"
    ;;
enter) shift; enter "$@" ;;
*) echo "usage: $0 run COMMAND..." >&2; exit 2 ;;
esac
