#!/usr/bin/env bash
# A manual page against its program: every long option and subcommand that
# the program's --help lists is described, the page has its exit status
# section, and groff renders it without a warning.
#   check-man-page.sh PROGRAM PAGE
set -euo pipefail
program=$1 page=$2
failed=0
fail() { echo "$page: $*" >&2; failed=1; }

help=$("$program" --help)
# The page as text with roff's escaped hyphens made plain.
text=$(sed 's/\\-/-/g' "$page")

mapfile -t options < <(grep -oE -- '--[a-z][a-z0-9-]*' <<< "$help" | sort -u)
[ ${#options[@]} -gt 0 ] || fail "no options found in '$program --help'"
for option in "${options[@]}"; do
  grep -qF -- "$option" <<< "$text" || fail "does not describe $option"
done
# CLI11 lists subcommands under their own heading, one a line.
mapfile -t commands < <(awk '/^[A-Za-z]*ubcommands:/ {on = 1; next} on && NF == 0 {on = 0}
                            on {print $1}' <<< "$help")
# A command is described where it heads a tagged paragraph (.TP).
tags=$(awk '/^\.TP/ {getline; print}' <<< "$text")
for command in "${commands[@]}"; do
  grep -qE "^\.B[IR]? +\"?$command\b" <<< "$tags" || fail "does not describe the command $command"
done

grep -q '^\.SH EXIT STATUS' "$page" || fail "has no EXIT STATUS section"
warnings=$(groff -k -man -ww -z -Tutf8 "$page" 2>&1)
[ -z "$warnings" ] || fail "groff: $warnings"
exit $failed
