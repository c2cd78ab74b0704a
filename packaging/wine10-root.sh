#!/bin/bash
# Makes (once) and enters a Debian 13 minbase root with Wine 10, kept outside
# the clone so that later runs and CI on the same machine reuse it:
#
#   packaging/wine10-root.sh dir      print the root's folder (made if missing)
#   packaging/wine10-root.sh make     make the root if it is missing
#
# The root is ${XDG_CACHE_HOME:-$HOME/.cache}/servo-tool/wine10-<hash>, <hash>
# being that of the recipe below: a changed recipe makes a new root (and the
# old ones are removed). Needs root rights, debootstrap and Debian's archive,
# taken from apt's configuration (MIRROR overrides it). Exits 3 when the root
# cannot be made here (no root rights, no debootstrap, no mirror).
set -euo pipefail

SUITE=trixie
PACKAGES=(wine wine64 xvfb xauth fonts-dejavu-core libqt5core5t64 libqt5serialport5)
RECIPE="debootstrap --variant=minbase $SUITE; apt-get install --no-install-recommends ${PACKAGES[*]}"
HASH=$(printf '%s\n' "$RECIPE" | sha256sum | cut -c1-12)
CACHE=${XDG_CACHE_HOME:-$HOME/.cache}/servo-tool
ROOTDIR=$CACHE/wine10-$HASH

cannot() {
    echo "wine10-root.sh: cannot make the Wine 10 root: $*" >&2
    exit 3
}

make_root() {
    [ -f "$ROOTDIR/.complete" ] && return 0
    [ "$(id -u)" -eq 0 ] || cannot "needs root rights (debootstrap, chroot)"
    command -v debootstrap >/dev/null || cannot "debootstrap is not installed"
    [ -f "/usr/share/debootstrap/scripts/$SUITE" ] || cannot "this debootstrap does not know Debian $SUITE"
    local mirror=${MIRROR:-$("$(dirname "$0")/apt-mirror.sh" 2>/dev/null)}
    [ -n "$mirror" ] || cannot "no Debian archive in apt's configuration (set MIRROR)"
    mkdir -p "$CACHE"
    # Roots made by another recipe are of no further use.
    local old
    for old in "$CACHE"/wine10-*; do
        [ -d "$old" ] && [ "$old" != "$ROOTDIR" ] && [ ! -e "$old.lock" ] || continue
        echo "wine10-root.sh: removing $old (another recipe)"
        rm -rf --one-file-system "$old"
    done
    rm -rf --one-file-system "$ROOTDIR"
    local partial=$ROOTDIR.partial
    rm -rf --one-file-system "$partial"
    mkdir -p "$partial"
    chmod 755 "$partial"
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

case ${1:-} in
dir) make_root >&2; echo "$ROOTDIR" ;;
make) make_root ;;
*) echo "usage: $0 dir | make" >&2; exit 2 ;;
esac
