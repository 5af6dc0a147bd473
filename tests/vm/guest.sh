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
