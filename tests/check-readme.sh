#!/bin/bash
# Keeps the README true to the build it describes:
#   - every build/... path it names exists in the build folder (a Debian
#     package it names carries the project's version);
#   - every "./setup.sh COMMAND" it shows is a command setup.sh accepts;
#   - every servo-cli and servo-sim command line of its examples parses: the
#     command exists ("servo-cli COMMAND --help") and each option it uses is
#     one that command's --help lists;
#   - the walk-through of "First minutes" runs as shown, against servo-sim,
#     in a folder of its own that stands for /tmp/.
#
#   check-readme.sh <README.md> <setup.sh> <build folder> <version>
set -u

readme=$1
setup=$2
build=$3
version=$4
bin=$(cd "$build/bin" && pwd) || { echo "no bin/ in $build"; exit 1; }
failed=0
work=$(mktemp -d)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL  $*"
    failed=1
}

# The lines of the README's code blocks: indented by four spaces, or fenced.
code_lines() {
    awk '/^```/ { fenced = !fenced; next }
         fenced { print; next }
         /^    / { print substr($0, 5) }' "$readme"
}

# 1. Paths in the build folder.
grep -oE '(^|[^-a-zA-Z0-9_/.])\.?/?build/[A-Za-z0-9_./<>-]*' "$readme" |
    sed -E 's:^[^b.]*::; s:^\./::; s:[.,)]*$::' | sort -u >"$work/paths"
[ -s "$work/paths" ] || fail "the README names no build/ path"
while read -r path; do
    case $path in
    *'<'*) continue ;; # a pattern, such as build/servo-tool_<version>_<arch>.deb
    *.deb)
        [[ $path =~ ^build/servo-tool_${version//./\\.}_[a-z0-9]+\.deb$ ]] ||
            fail "$path: the package of version $version is build/servo-tool_${version}_<arch>.deb"
        ;;
    *)
        [ -e "$build/${path#build/}" ] || fail "$path: no such file in the build folder"
        ;;
    esac
done <"$work/paths"

# 2. setup.sh commands: the labels of its command case.
accepted=$(grep -oE '^[a-z][a-z|]*\)$' "$setup" | tr -d ')' | tr '|\n' '  ')
[ -n "$accepted" ] || fail "no commands found in $setup"
grep -oE '\./setup\.sh +[a-z]+' "$readme" | awk '{ print $2 }' | sort -u >"$work/setup-commands"
[ -s "$work/setup-commands" ] || fail "the README shows no ./setup.sh command"
while read -r command; do
    [[ " $accepted " == *" $command "* ]] || fail "./setup.sh $command: setup.sh accepts only: $accepted"
done <"$work/setup-commands"

# 3. Command lines of servo-cli and servo-sim in the examples: from the
# program's name (bare, or a path ending in it, after an optional "$ ") up to
# a comment, a pipe, a redirection or the end of the line.
code_lines | sed -E 's/^\$ //' | grep -E '^(\S*/)?servo-(cli|sim)( |$)' |
    sed -E 's/ +#.*//; s/ *[|;&<>].*//' >"$work/command-lines"
[ -s "$work/command-lines" ] || fail "the README shows no servo-cli or servo-sim command line"
while read -r program args; do
    program=${program##*/}
    help_args=(--help)
    # servo-cli's first word that is not an option, nor an option's value, is
    # its command; its own help lists the command's options.
    if [ "$program" = servo-cli ]; then
        set -- $args
        command=
        while [ $# -gt 0 ]; do
            case $1 in
            -p | --port | --timeout | --retries | --out | --backup | --log) shift 2 ;;
            -*) shift ;;
            *) command=$1 && break ;;
            esac
        done
        [ -n "$command" ] && help_args=("$command" --help)
    fi
    if ! "$bin/$program" "${help_args[@]}" >"$work/help" 2>&1; then
        fail "$program ${help_args[*]}: not a command of $program (line: $program $args)"
        continue
    fi
    for option in $(grep -oE '(^| )--?[a-z][a-z-]*' <<<"$args"); do
        grep -qE "(^|[ ,\"])$option([ ,=\"]|$)" "$work/help" ||
            fail "$program ${help_args[*]} does not list $option (line: $program $args)"
    done
done <"$work/command-lines"

# 4. The walk-through: the first block that starts servo-sim in the
# background, run line by line in one shell with the build's programs on
# PATH; after the line that starts servo-sim, the link it makes is awaited.
awk '/^    servo-sim .*&/ { on = 1 } on && !/^    / { exit } on { print substr($0, 5) }' "$readme" |
    sed "s:/tmp/:$work/:g" >"$work/walk.sh"
if [ ! -s "$work/walk.sh" ]; then
    fail "no walk-through (a code block that starts with \"servo-sim ... &\")"
else
    link=$(grep -oE -- '--link +[^ ]+' "$work/walk.sh" | head -n 1 | awk '{ print $2 }')
    {
        echo 'set -e'
        echo "cd \"$work\""
        echo "export PATH=\"$bin:\$PATH\""
        head -n 1 "$work/walk.sh"
        echo 'echo "$!" >sim.pid'
        [ -n "$link" ] && echo "for i in \$(seq 100); do [ -e \"$link\" ] && break; sleep 0.1; done"
        tail -n +2 "$work/walk.sh"
    } >"$work/run.sh"
    if ! bash "$work/run.sh" >"$work/walk.out" 2>&1; then
        fail "the walk-through failed:"
        sed 's/^/      /' "$work/walk.out"
    fi
    sim_pid=$(cat "$work/sim.pid" 2>/dev/null)
    [ -n "${VERBOSE:-}" ] && cat "$work/walk.out"
fi

if [ "$failed" -ne 0 ]; then
    echo "FAIL: the README and the build disagree"
    exit 1
fi
echo "README: $(wc -l <"$work/paths") build paths, $(wc -l <"$work/command-lines") command lines" \
    "and the walk-through agree with the build"
