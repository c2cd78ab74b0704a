#!/bin/sh
# Prints the Debian archive this machine's apt is configured with: the first
# URI of a "deb" source that is not a security archive, from deb822 files
# (/etc/apt/sources.list.d/*.sources) or one-line ones (/etc/apt/sources.list,
# /etc/apt/sources.list.d/*.list). Scripts that make Debian roots with
# debootstrap use it, so that they work behind whatever mirror is set up.
#
#   packaging/apt-mirror.sh [apt folder]     (default /etc/apt)
set -eu
dir=${1:-/etc/apt}

set --
for f in "$dir"/sources.list.d/*.sources "$dir"/sources.list "$dir"/sources.list.d/*.list; do
    [ -f "$f" ] && set -- "$@" "$f"
done
# deb822 files: one stanza per paragraph, kept when its Types has deb and no
# suite is a security one. One-line files: deb [options] URI suite components.
# (Without any file awk reads the empty standard input.)
awk '
    function flush() {
        if (deb && !security && uri != "") print uri
        deb = 0; security = 0; uri = ""
    }
    FNR == 1 { flush(); stanzas = FILENAME ~ /\.sources$/ }
    !stanzas { sub(/#.*/, ""); gsub(/\[[^]]*\]/, "") }
    !stanzas && $1 == "deb" && $3 !~ /-security$|\/updates$/ { print $2 }
    !stanzas || /^[ \t]*#/ { next }
    /^[ \t]*$/ { flush(); next }
    tolower($1) == "types:" { for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1 }
    tolower($1) == "uris:" { uri = $2 }
    tolower($1) == "suites:" { for (i = 2; i <= NF; i++) if ($i ~ /-security$|\/updates$/) security = 1 }
    tolower($1) == "enabled:" && tolower($2) == "no" { deb = 0 }
    END { flush() }
' "$@" </dev/null | sed 's:/*$::' | head -n 1 | grep . || {
    echo "apt-mirror.sh: no Debian archive found in $dir/sources.list or $dir/sources.list.d/" >&2
    exit 1
}
