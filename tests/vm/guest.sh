# Guest script of the sg_vm test: the in-VM tests, then the SG benchmark when it came along.
echo "== devices"
for d in /sys/class/scsi_generic/*; do
  echo "${d##*/} $(basename "$(readlink "$d/device")")"
done
echo "== sg_vm_guest"
start=$(cut -d' ' -f1 /proc/uptime)
sg_vm_guest || exit 1
end=$(cut -d' ' -f1 /proc/uptime)
echo "QXVM-TIMING tests=$(awk -v a="$start" -v b="$end" 'BEGIN{printf "%.2f", b - a}')s"
if command -v qxscsi >/dev/null; then
  echo "== qxscsi"
  disk= failures=0
  for d in /sys/class/scsi_generic/*; do
    case $(readlink "$d/device") in */0:0:1:0) disk=/dev/${d##*/} ;; esac
  done
  # expect STATUS TEXT ARGS...: the tool exits with STATUS and prints TEXT.
  expect() {
    want=$1 text=$2; shift 2
    out=$(qxscsi "$@" 2>&1); got=$?
    echo "\$ qxscsi $*  -> $got"; echo "$out" | sed 's/^/  /'
    if [ "$got" != "$want" ] || ! echo "$out" | grep -q -- "$text"; then
      echo "QXVM-CLI FAIL: qxscsi $* exited $got (want $want), output lacks '$text'"
      failures=$((failures + 1))
    fi
  }
  expect 0 "^$disk .*\[0:0:1:0\]" list
  expect 0 "\[0:0:2:0\]" list
  expect 0 "QEMU HARDDISK" inquiry "$disk"
  expect 0 "QEMU HARDDISK" --address 0:1:0 inquiry //./scsi0:
  expect 0 "QEMU CD-ROM" --address 0:2:0 inquiry //./scsi0:
  # Nodes and adapters that are not there: 50 + ENOENT, as sg3_utils' tools exit. An address
  # without a device is found only when the command is sent: 15, no errno.
  expect 15 "error -11" --address 0:9:0 tur //./scsi0:
  expect 31 "needs --address" tur //./scsi0:
  expect 52 "error -11" --address 0:1:0 tur //./scsi5:
  expect 52 "error -11" tur /dev/sg99
  [ "$failures" -eq 0 ] || exit 1
fi
if command -v bench_sg_tur >/dev/null; then
  echo "== bench_sg_tur"
  # Interleaved repetitions, compared by their medians: the emulation's pace drifts with host load.
  bench_sg_tur --benchmark_min_time=0.2 --benchmark_repetitions=7 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true >/tmp/bench.txt 2>&1 || { cat /tmp/bench.txt; exit 1; }
  cat /tmp/bench.txt
  awk '/^BM_TurLibrary.*_median/{lib=$2} /^BM_TurBareSgIo.*_median/{bare=$2}
       END{if (lib > 0 && bare > 0) printf "QXVM-BENCH library/bare speed ratio=%.3f\n", bare / lib}' /tmp/bench.txt
fi
exit 0
