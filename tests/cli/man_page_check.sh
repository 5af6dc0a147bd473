#!/bin/sh
# The generated man page has a section for every subcommand the program's help lists.
# Usage: man_page_check.sh TOOL MAN_PAGE
set -e
tool=$1 page=$2
subs=$("$tool" --help | sed -n '/^Subcommands:/,/^$/p' | sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p')
[ -n "$subs" ] || { echo "no subcommands in the help"; exit 1; }
missing=0
for sub in $subs; do
  grep -q "^\.SS $sub\$" "$page" || { echo "the man page lacks $sub"; missing=1; }
done
exit $missing
