#!/bin/bash
# Checks that the manual pages and the bash completion tell what the programs'
# --help tells: the same options, the same exit codes, the same commands; and
# that the completion matches field names in any case.
#
#   check-docs.sh <servo-cli> <servo-sim> <servo-bench> <packaging/linux directory>
set -eu

cli=$1
sim=$2
bench=$3
dir=$4
failed=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# differ <what> <expected> <actual>: reports the lines one has and the other
# has not (files, or <(commands)); the expected side, from --help, must have
# at least one.
differ() {
    sort -u "$2" >"$work/a"
    sort -u "$3" >"$work/b"
    [ -s "$work/a" ] || { echo "$1: none found in --help"; failed=1; }
    if ! cmp -s "$work/a" "$work/b"; then
        echo "$1: only in --help: $(comm -23 "$work/a" "$work/b" | tr '\n' ' ')," \
            "only in the documentation: $(comm -13 "$work/a" "$work/b" | tr '\n' ' ')"
        failed=1
    fi
}

# The options a help text defines: "  -p, --port PORT  ..." lines.
help_options() {
    grep -E '^ +(-[a-z], )?--[a-z]' | grep -oE '^ +(-[a-z], )?--[a-z-]+' | grep -oE -- '-[a-z-]+'
}

# The exit codes in the paragraph that starts with "Exit codes:" or "Exit
# status:": the numbers that open a line or follow a comma or a colon.
help_exit_codes() {
    sed -n '/^Exit \(codes\|status\):/,/^$/p' |
        grep -oE '(^|[:,]) *[0-9]+ ' | grep -oE '[0-9]+'
}

# Every option a manual page mentions outside its examples (which run the
# other programs too), and the codes of its EXIT STATUS.
man_options() {
    awk '/^\.SH/ { skip = /EXAMPLES/ } !skip' "$1" | sed 's/\\-/-/g; s/\\f[BIRP]//g' | grep -oE -- '(^|[^a-z0-9-])--?[a-z][a-z-]*' |
        grep -oE -- '--?[a-z][a-z-]*' | grep -vE '^-[a-z][a-z]' || true
}
man_exit_codes() {
    awk '/^\.SH/ { on = /EXIT STATUS/ } on' "$1" | sed -n '/^\.TP/{n;p}' | grep -oE '[0-9]+'
}

# servo-cli: each command's options against the completion, the options and
# exit codes of all of them against the manual page.
. "$dir/servo-cli.bash-completion"
"$cli" --help >"$work/global"
sed -n '/^Commands:/,/^$/p' "$work/global" | grep -oE '^  [a-z]+' | tr -d ' ' >"$work/commands"
differ "servo-cli commands in the completion" "$work/commands" <(_servo_cli_commands | tr ' ' '\n')

help_exit_codes <"$work/global" >"$work/codes"
# options the global help names ("servo-cli --version")
grep -oE -- '--[a-z][a-z-]*' "$work/global" >"$work/options"
for command in $(cat "$work/commands"); do
    "$cli" "$command" --help >"$work/help"
    help_options <"$work/help" >"$work/command-options"
    cat "$work/command-options" >>"$work/options"
    help_exit_codes <"$work/help" >>"$work/codes"
    differ "servo-cli $command options in the completion" <(grep -- '^--' "$work/command-options") \
        <(_servo_cli_options "$command" | tr ' ' '\n')
done
# Field names complete in any case, as get and set take them.
[ "$(_servo_cli_match max TorqueGain MAXDuty MinPulseWidth MAXPulseWidth | tr '\n' ' ')" = "MAXDuty MAXPulseWidth " ] ||
    { echo "servo-cli completion: field names do not complete in any case"; failed=1; }
differ "servo-cli options in servo-cli.1" "$work/options" <(man_options "$dir/servo-cli.1")
differ "servo-cli exit codes in servo-cli.1" "$work/codes" <(man_exit_codes "$dir/servo-cli.1")

# servo-sim
"$sim" --help >"$work/help"
differ "servo-sim options in servo-sim.1" <(help_options <"$work/help") <(man_options "$dir/servo-sim.1")
differ "servo-sim exit codes in servo-sim.1" <(help_exit_codes <"$work/help") <(man_exit_codes "$dir/servo-sim.1")

# servo-bench: its options (its --help, printed without a display, names no
# exit codes)
"$bench" --help >"$work/help"
differ "servo-bench options in servo-bench.1" <(help_options <"$work/help") <(man_options "$dir/servo-bench.1")

if [ "$failed" -ne 0 ]; then
    echo "FAIL: the documentation and --help disagree"
    exit 1
fi
echo "manual pages and completion agree with --help"
