#!/usr/bin/env bash
# Builds everything and runs the main job: the command-line tool on its embedded default device.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build >/dev/null
if [ -x build/tools/qxscsi ]; then
  exec build/tools/qxscsi inquiry "$@"
fi
exec build/examples/example_command_trace "$@"
