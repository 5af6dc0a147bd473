#!/usr/bin/env bash
# Builds and runs the whole suite: a plain build, a build without back-ends, an ASan + UBSan build
# and the fuzz targets.
# Any failing test or sanitizer report fails the run; ctest's summary closes the output.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)

echo "== plain build"
bash scripts/build.sh build
(cd build && ctest --output-on-failure -j "$jobs" --timeout 900)

echo "== core-only build (no back-ends, so no tool): what remains builds and passes"
bash scripts/build.sh build-core -DQXSCSI_BUILD_BACKENDS=OFF
(cd build-core && ctest --output-on-failure -j "$jobs" --timeout 900 -LE valgrind)

echo "== sanitizer build (ASan + UBSan)"
bash scripts/build.sh build-asan -DQXSCSI_SANITIZE=ON -DQXSCSI_BUILD_BENCHMARKS=OFF
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
(cd build-asan && ctest --output-on-failure -j "$jobs" --timeout 900)

echo "== fuzz build (clang, libFuzzer + ASan + UBSan): every target fuzzed for 30 s"
bash scripts/fuzz.sh --build-only
(cd build-fuzz && ctest --output-on-failure -L fuzz -j "$jobs" --timeout 900)
