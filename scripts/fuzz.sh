#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) in build-fuzz and fuzzes each of them.
#   scripts/fuzz.sh [-j N] [SECONDS] [TARGET...]   run every target (or the named ones) for SECONDS
#                                                   (default 30), N at a time (default 1)
#   scripts/fuzz.sh --build-only                    configure and build the fuzz tree only
# Prints executions and crashes per target; exits non-zero when any target crashed. New inputs
# go to build-fuzz/fuzz/corpus/<target>, crash inputs to build-fuzz/fuzz/artifacts/<target>-*
# (QXSCSI_FUZZ_BUILD names another build directory).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${QXSCSI_FUZZ_BUILD:-build-fuzz}

build() {
  CC=clang CXX=clang++ bash scripts/build.sh "$dir" -DQXSCSI_BUILD_FUZZERS=ON \
    -DQXSCSI_BUILD_TESTS=OFF -DQXSCSI_BUILD_BENCHMARKS=OFF -DQXSCSI_BUILD_TOOLS=OFF \
    -DQXSCSI_BUILD_BACKENDS=OFF -DQXSCSI_BUILD_EXAMPLES=OFF -DQXSCSI_FUZZ_SECONDS=30
}

jobs=1
if [ "${1:-}" = "--build-only" ]; then
  build
  exit 0
fi
if [ "${1:-}" = "-j" ]; then
  jobs=$2
  shift 2
fi
seconds=${1:-30}
shift || true

build >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/*_fuzzer.cpp; do
    name=$(basename "$f" _fuzzer.cpp)
    [ -x "$dir/fuzz/fuzz_$name" ] && targets+=("$name")
  done
fi

out=$dir/fuzz/logs
mkdir -p "$out" "$dir/fuzz/artifacts"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

run() {
  local name=$1
  mkdir -p "$dir/fuzz/corpus/$name"
  "$dir/fuzz/fuzz_$name" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$dir/fuzz/artifacts/$name-" "$dir/fuzz/corpus/$name" "fuzz/corpus/$name" \
    >"$out/$name.log" 2>&1
  echo $? >"$out/$name.rc"
}

artifacts() { ls "$dir/fuzz/artifacts" | grep -c "^$1-" || true; }
declare -A before
for name in "${targets[@]}"; do
  before[$name]=$(artifacts "$name")
done
for name in "${targets[@]}"; do
  rm -f "$out/$name.rc"
  run "$name" &
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
done
wait || true

failed=0
printf '%-18s %14s %8s %9s\n' target executions crashes corpus
for name in "${targets[@]}"; do
  log=$out/$name.log
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  [ -n "$execs" ] || execs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -1)
  crashes=$(($(artifacts "$name") - ${before[$name]}))
  rc=$(cat "$out/$name.rc" 2>/dev/null || echo 1)
  if [ "$rc" != 0 ]; then
    failed=1
    [ "$crashes" -gt 0 ] || crashes="exit $rc"
  fi
  printf '%-18s %14s %8s %9s\n' "$name" "${execs:-?}" "$crashes" "$(ls "$dir/fuzz/corpus/$name" | wc -l)"
done
echo "logs in $out; crash inputs in $dir/fuzz/artifacts"
exit $failed
