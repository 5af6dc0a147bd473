#!/bin/sh
# Whole-process cost of the qxscsi program beside its sg3_utils and libiscsi peers, measured with
# hyperfine in alternating rounds (the machine is usually shared: read the median ratio and the
# load printed with each round):
#   qxscsi decode-sense BYTES      against  sg_decode_sense BYTES
#   qxscsi inquiry iscsi://...     against  iscsi-inq iscsi://...  (a private tgtd on 127.0.0.1)
# Usage: [QXSCSI=PROGRAM] scripts/bench_process.sh [BUILD_DIR [ROUNDS [RUNS]]]   (defaults: build, 9, 20)
# Needs hyperfine (scripts/setup.sh), sg3-utils, libiscsi-bin and tgt; tgtd needs root.
set -eu

build=${1:-build}
rounds=${2:-9}
runs=${3:-20}
qxscsi=${QXSCSI:-$build/tools/qxscsi}
sense="70 00 05 00 00 00 00 0a 00 00 00 00 24 00 00 00 00 00"
iqn=iqn.2026-12.org.example:bench-process

for tool in "$qxscsi" /usr/bin/hyperfine /usr/bin/sg_decode_sense /usr/bin/iscsi-inq /usr/sbin/tgtd \
  /usr/sbin/tgtadm; do
  [ -x "$tool" ] || { echo "bench_process: $tool is missing" >&2; exit 2; }
done

work=$(mktemp -d /tmp/bench-process.XXXXXX)
tgtd_pid=
control=
# tgtd does not end on SIGTERM while it has targets: SIGKILL, by its pid.
cleanup() {
  if [ -n "$tgtd_pid" ]; then
    kill -KILL "$tgtd_pid" 2>/dev/null || true
    wait "$tgtd_pid" 2>/dev/null || true
    tgtd_pid=
  fi
  [ -n "$control" ] && rm -f "/var/run/tgtd/socket.$control" "/var/run/tgtd/socket.$control.lock"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A free port on loopback, and a tgtd control number nobody uses.
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
control=$((700 + $$ % 200))
while [ -e "/var/run/tgtd/socket.$control" ] || [ -e "/var/run/tgtd/socket.$control.lock" ]; do
  control=$((control + 1))
done
/usr/sbin/tgtd -f -C "$control" --iscsi "portal=127.0.0.1:$port" >"$work/tgtd.log" 2>&1 &
tgtd_pid=$!
tgtadm() { /usr/sbin/tgtadm -C "$control" --lld iscsi "$@"; }
i=0
until tgtadm --op show --mode sys >/dev/null 2>&1; do
  i=$((i + 1))
  [ $i -lt 200 ] || { echo "bench_process: tgtd did not start" >&2; cat "$work/tgtd.log" >&2; exit 2; }
  sleep 0.05
done
truncate -s 16M "$work/lun1.img"
tgtadm --op new --mode target --tid 1 -T "$iqn"
tgtadm --op new --mode logicalunit --tid 1 --lun 1 -b "$work/lun1.img"
tgtadm --op bind --mode target --tid 1 -I ALL
url="iscsi://127.0.0.1:$port/$iqn/1"

# Every command must work before it is timed.
# shellcheck disable=SC2086
"$qxscsi" decode-sense $sense >/dev/null
# shellcheck disable=SC2086
/usr/bin/sg_decode_sense $sense >/dev/null
"$qxscsi" inquiry "$url" >/dev/null
/usr/bin/iscsi-inq "$url" >/dev/null

# One hyperfine run of the two commands in the given order; prints "ours theirs" median seconds.
measure() {
  json=$work/round.json
  /usr/bin/hyperfine -N --style none --warmup 5 --runs "$runs" --export-json "$json" "$1" "$2" >/dev/null 2>&1
  /usr/bin/python3 -c '
import json, sys
r = {x["command"]: x["median"] for x in json.load(open(sys.argv[1]))["results"]}
print(r[sys.argv[2]], r[sys.argv[3]])' "$json" "$3" "$4"
}

# Rounds alternate which command hyperfine runs first; the median of the rounds' ratios is the figure.
compare() {
  label=$1 ours=$2 theirs=$3 goal=$4
  ratios=
  r=1
  while [ $r -le "$rounds" ]; do
    if [ $((r % 2)) -eq 1 ]; then set -- $(measure "$ours" "$theirs" "$ours" "$theirs")
    else set -- $(measure "$theirs" "$ours" "$ours" "$theirs"); fi
    ratio=$(/usr/bin/python3 -c "print(f'{$1 / $2:.3f}')")
    printf '%s round %d: %.2f ms against %.2f ms, ratio %s; %s\n' "$label" "$r" \
      "$(/usr/bin/python3 -c "print($1 * 1000)")" "$(/usr/bin/python3 -c "print($2 * 1000)")" "$ratio" \
      "$(uptime | sed 's/.*load/load/')"
    ratios="$ratios $ratio"
    r=$((r + 1))
  done
  /usr/bin/python3 -c '
import statistics, sys
print(f"{sys.argv[1]}: median ratio {statistics.median(map(float, sys.argv[3:])):.3f} (goal at most {sys.argv[2]})")' \
    "$label" "$goal" $ratios
}

echo "qxscsi: $(ldd "$qxscsi" | wc -l) shared objects; sg_decode_sense: $(ldd /usr/bin/sg_decode_sense | wc -l);" \
  "iscsi-inq: $(ldd /usr/bin/iscsi-inq | wc -l)"
compare decode-sense "$qxscsi decode-sense $sense" "/usr/bin/sg_decode_sense $sense" 1.5
compare inquiry "$qxscsi inquiry $url" "/usr/bin/iscsi-inq $url" 1.2
