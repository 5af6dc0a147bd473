#!/bin/sh
# Writes a help2man include file with the --help of every subcommand of the qxscsi at $1.
set -e
tool=$1
echo "[SUBCOMMANDS]"
for sub in inquiry tur sense luns raw xcopy copy-results decode-sense list; do
  echo ".SS $sub"
  echo ".nf"
  # Each subcommand's help without the footer that the main help already carries.
  "$tool" "$sub" --help | sed -e '/^Device names:/,$d' -e 's/\\/\\e/g' -e 's/^\./\\\&./'
  echo ".fi"
done
