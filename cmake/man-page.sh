#!/usr/bin/env bash
# Makes velinor's man page from the program's own help: help2man for the overview (`velinor
# --help`, `velinor --version`), and one section per command listed there, from `velinor
# COMMAND --help`. A command whose help fails stops the build, so the page never leaves one out.
#
#   cmake/man-page.sh PROGRAM OUTPUT.1.gz [HELP2MAN]
set -euo pipefail
program="$1"
output="$2"
help2man="${3:-help2man}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The help is plain text: escapes and leading dots made harmless, hyphens as minus signs, option
# lines ("  --name VALUE   what it does") as tagged paragraphs with their continuation lines,
# other indented lines kept as they are, blank lines as paragraph breaks (none before a tag).
to_roff() {
    awk '
    function esc(s) {
        gsub(/\\/, "\\e", s)
        gsub(/-/, "\\-", s)
        if (s ~ /^[.'"'"']/) s = "\\&" s
        return s
    }
    function para() { if (pending) print ".PP"; pending = 0 }
    /^$/ { pending = 1; tagged = 0; next }
    /^  [^ ]/ && match($0, /[^ ]   */) && RSTART < length($0) {
        tag = substr($0, 3, RSTART - 2)
        text = substr($0, RSTART + RLENGTH)
        if (text == "") { para(); print ".nf"; print esc(substr($0, 3)); print ".fi"; next }
        pending = 0
        print ".TP"
        if (tag ~ /^-/) {
            n = index(tag, " ")
            if (n) print "\\fB" esc(substr(tag, 1, n - 1)) "\\fR \\fI" esc(substr(tag, n + 1)) "\\fR"
            else print "\\fB" esc(tag) "\\fR"
        } else print esc(tag)
        print esc(text)
        tagged = 1
        next
    }
    /^      */ && tagged { sub(/^ */, ""); print esc($0); next }
    /^ / { para(); tagged = 0; print ".nf"; print esc($0); print ".fi"; next }
    { para(); tagged = 0; print esc($0) }
    '
}

help="$("$program" --help)"
commands="$(printf '%s\n' "$help" | awk '/^commands:/ { on = 1; next } on && /^$/ { exit } on { print $1 }')"
[[ -n "$commands" ]] || { echo "man-page: no commands in '$program --help'" >&2; exit 1; }

{
    echo "[SYNOPSIS]"
    echo ".B velinor"
    echo "\\fICOMMAND\\fR [\\fIoptions\\fR]"
    echo "[COMMANDS]"
    for command in $commands; do
        echo ".SS \"velinor $command\""
        "$program" "$command" --help | to_roff
    done
    echo "[FILES]"
    echo ".TP"
    echo ".I ~/.config/velinor/velinor.ini"
    echo "the last receiver, port and rate (section BaudSet)"
    echo ".TP"
    echo ".I QvxSixSigma_YYYY_MM.txt"
    echo "the monthly diagnostic log, in the current folder"
} >"$work/include"

"$help2man" --no-info --section=1 --include="$work/include" \
    --name="get a GNSS receiver on a serial cable to the baud rate you want" \
    --output="$work/velinor.1" "$program"
gzip -9n -c "$work/velinor.1" >"$output"
