#!/bin/sh
# Writes a help2man include file with the --help of every subcommand of the qxscsi at $1.
set -e
tool=$1
echo "[SUBCOMMANDS]"
# The subcommands as the main help lists them, so that a new one needs no change here.
subs=$("$tool" --help | sed -n '/^Subcommands:/,/^$/p' | sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p')
[ -n "$subs" ] || { echo "man_subcommands: no subcommands in the help of $tool" >&2; exit 1; }
for sub in $subs; do
  echo ".SS $sub"
  echo ".nf"
  # Each subcommand's help without the footer that the main help already carries.
  "$tool" "$sub" --help | sed -e '/^Device names:/,$d' -e 's/\\/\\e/g' -e 's/^\./\\\&./'
  echo ".fi"
done
