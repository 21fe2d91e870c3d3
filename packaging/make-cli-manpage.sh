#!/bin/sh
# Writes the manual page kavrimo-cli.1 from the program's own help texts, so that every command and
# option the program knows is in it: the hand-written page TEMPLATE with @VERSION@ and @DATE@ filled
# in and the lines @SYNOPSIS@, @COMMANDS@ and @OPTIONS@ replaced by text made from
# "kavrimo-cli --help" and "kavrimo-cli COMMAND --help".
# Usage: make-cli-manpage.sh KAVRIMO_CLI TEMPLATE VERSION DATE OUTPUT
set -eu
cli=$1 template=$2 version=$3 date=$4 output=$5
here=$(dirname "$0")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$cli" --help >"$work/0"
helps="$work/0"
n=0
for command in $(awk '/^Commands:$/ { f = 1; next } /^$/ { f = 0 } f { print $1 }' "$work/0"); do
  n=$((n + 1))
  "$cli" "$command" --help >"$work/$n"
  helps="$helps $work/$n"
done
[ "$n" -gt 0 ] || { echo "make-cli-manpage.sh: $cli --help lists no command" >&2; exit 1; }
for part in synopsis commands options; do
  # shellcheck disable=SC2086  # the names hold no blanks: they are made above
  awk -v part="$part" -f "$here/help-to-man.awk" $helps >"$work/$part.roff"
done
awk -v dir="$work" -v version="$version" -v date="$date" '
  /^@(SYNOPSIS|COMMANDS|OPTIONS)@$/ {
    file = dir "/" tolower(substr($0, 2, length($0) - 2)) ".roff"
    while ((getline line < file) > 0) print line
    close(file)
    next
  }
  { gsub(/@VERSION@/, version); gsub(/@DATE@/, date); print }
' "$template" >"$output.tmp"
mv "$output.tmp" "$output"
