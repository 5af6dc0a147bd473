#!/usr/bin/env bash
# Configures and builds one build tree: scripts/build.sh DIR [extra cmake arguments].
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1; shift
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir" -j "$jobs"
