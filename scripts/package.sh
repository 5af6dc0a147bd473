#!/usr/bin/env bash
# Builds the Debian packages: scripts/package.sh [BUILD_DIR] (default build-package).
# Configures a plain tree with the /usr layout when it has none, builds it, runs cpack -G DEB and
# prints the paths of the packages.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-package}
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DQXSCSI_BUILD_TESTS=OFF -DQXSCSI_BUILD_BENCHMARKS=OFF -DQXSCSI_BUILD_EXAMPLES=OFF >/dev/null
fi
cmake --build "$dir" -j "$(nproc 2>/dev/null || echo 2)"
out=$(cd "$dir" && pwd)/packages
rm -f "$out"/*.deb
if ! log=$(cpack --config "$dir/CPackConfig.cmake" -G DEB -B "$out" 2>&1); then
  echo "$log" >&2
  exit 1
fi
ls "$out"/*.deb
