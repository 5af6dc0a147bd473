#!/usr/bin/env bash
# Boots a throw-away virtual machine with a parallel SCSI host adapter (LSI 53C895A, driven by
# sym53c8xx), a disk at 0:0:1:0 and an empty CD-ROM at 0:0:2:0, runs guest scripts in it, one
# after the other in one boot, and passes their exit status back through the serial console.
#
#   vm_run.sh [--timeout SEC] [--bin FILE]... [--module NAME]... [--wait-for NODE] GUEST_SCRIPT...
#
# Every --bin FILE is copied to /opt/qx/bin in the guest with the shared libraries that ldd finds
# (at their host paths, so build-tree run paths keep working); the sg3_utils tools the guest
# scripts compare with, and jq, come along when installed. Every --module NAME (found anywhere in
# the module tree) is loaded after the SCSI modules, in the order given. The guest scripts run
# under busybox sh with /opt/qx/bin on PATH, in /tmp, with no standard input.
# The kernel and its modules come from /boot and /lib/modules (override with QXSCSI_VM_KERNEL and
# QXSCSI_VM_MODULES).
# Exit status: 0 when every guest script exited 0, else the first failing one's; 124 on timeout,
# 125 when the VM gave no result, 77 when no usable kernel or emulator is installed (ctest treats
# 77 as skipped).
set -euo pipefail

timeout_s=600
wait_for=/dev/sg1
bins=()
extra_modules=()
while [ $# -gt 0 ]; do
  case $1 in
    --timeout) timeout_s=$2; shift 2 ;;
    --bin) bins+=("$2"); shift 2 ;;
    --module) extra_modules+=("$2"); shift 2 ;;
    --wait-for) wait_for=$2; shift 2 ;;
    --) shift; break ;;
    -*) echo "vm_run: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || { echo "usage: vm_run.sh [--timeout SEC] [--bin FILE]... GUEST_SCRIPT..." >&2; exit 2; }

qemu=${QXSCSI_VM_QEMU:-qemu-system-x86_64}
modules=(scsi_common scsi_mod scsi_transport_spi sym53c8xx sg st ch)

skip() { echo "vm_run: SKIP: $*"; exit 77; }
command -v "$qemu" >/dev/null || skip "$qemu not installed"
command -v busybox >/dev/null || skip "busybox not installed"
command -v cpio >/dev/null || skip "cpio not installed"

# A kernel whose module tree holds the sg driver.
kernel=${QXSCSI_VM_KERNEL:-}
moddir=${QXSCSI_VM_MODULES:-}
if [ -z "$kernel" ]; then
  for k in $(ls -1 /boot/vmlinuz-* 2>/dev/null | sort -rV); do
    ver=${k#/boot/vmlinuz-}
    if ls /lib/modules/"$ver"/kernel/drivers/scsi/sg.ko* >/dev/null 2>&1; then
      kernel=$k; moddir=/lib/modules/$ver; break
    fi
  done
fi
[ -n "$kernel" ] && [ -r "$kernel" ] || skip "no readable kernel with SCSI modules in /boot"

work=$(mktemp -d "${TMPDIR:-/tmp}/qxscsi-vm.XXXXXX")
qemu_pid=
cleanup() {
  if [ -n "$qemu_pid" ]; then kill "$qemu_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

prep_start=$(date +%s.%N)
root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,tmp,lib/modules,opt/qx/bin}
cp "$(command -v busybox)" "$root/bin/busybox"

# Kernel modules, decompressed on the host so that any insmod loads them.
copy_module() {
  local m=$1 src
  src=$(find "$2" -name "$m.ko*" | head -n1)
  [ -n "$src" ] || skip "module $m not found under $moddir"
  case $src in
    *.ko) cp "$src" "$root/lib/modules/$m.ko" ;;
    *.ko.xz) xz -dc "$src" >"$root/lib/modules/$m.ko" ;;
    *.ko.zst) zstd -qdc "$src" >"$root/lib/modules/$m.ko" ;;
    *.ko.gz) gzip -dc "$src" >"$root/lib/modules/$m.ko" ;;
    *) skip "unknown module format: $src" ;;
  esac
}
for m in "${modules[@]}"; do copy_module "$m" "$moddir/kernel/drivers/scsi"; done
for m in "${extra_modules[@]}"; do copy_module "$m" "$moddir/kernel"; done
modules+=("${extra_modules[@]}")

# Programs with their shared libraries at the paths ldd resolves.
copy_libs() {
  ldd "$1" 2>/dev/null | awk '/=> \//{print $3} /^[[:space:]]*\//{print $1}' | while read -r lib; do
    if [ ! -e "$root$lib" ]; then
      mkdir -p "$root$(dirname "$lib")"
      cp -L "$lib" "$root$lib"
    fi
  done
}
for tool in sg_inq sg_vpd sg_readcap sg_turs sg_luns sg_modes sg_logs sg_start sg_sync sg_persist \
    sg_rtpg sg_requests sg_opcodes sg_copy_results sg_xcopy sg_dd jq; do
  if path=$(command -v "$tool"); then bins+=("$path"); fi
done
for b in "${bins[@]}"; do
  [ -f "$b" ] || { echo "vm_run: no such program: $b" >&2; exit 2; }
  cp -L "$b" "$root/opt/qx/bin/"
  copy_libs "$b"
done
mkdir -p "$root/guest"
for s in "$@"; do
  [ -f "$s" ] || { echo "vm_run: no such guest script: $s" >&2; exit 2; }
  cp "$s" "$root/guest/"
  echo "${s##*/}" >>"$root/guest/order"
done

cat >"$root/init" <<INIT
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/opt/qx/bin:/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /tmp  # the initramfs root is writable; a tmpfs here would hide programs copied under /tmp
for m in ${modules[*]}; do insmod /lib/modules/\$m.ko || echo "QXVM: insmod \$m failed"; done
i=0
while [ ! -e $wait_for ] && [ \$i -lt 200 ]; do sleep 0.1; i=\$((i + 1)); done
echo "QXVM-BEGIN uptime=\$(cut -d' ' -f1 /proc/uptime)"
cd /tmp
rc=0
while read -r s; do
  t0=\$(cut -d' ' -f1 /proc/uptime)
  sh /guest/\$s </dev/null; r=\$?
  echo "QXVM-SCRIPT \$s rc=\$r from=\$t0 to=\$(cut -d' ' -f1 /proc/uptime)"
  [ \$rc -ne 0 ] || rc=\$r
done </guest/order
echo "QXVM-RESULT rc=\$rc uptime=\$(cut -d' ' -f1 /proc/uptime)"
sync
poweroff -f
INIT
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1 >"$work/initrd.gz")

truncate -s 64M "$work/disk.img"
echo "vm_run: initramfs of $(du -k "$work/initrd.gz" | cut -f1) KiB built in $(
  awk -v a="$prep_start" -v b="$(date +%s.%N)" 'BEGIN{printf "%.1f", b - a}') s"

log=$work/console.log
start=$(date +%s.%N)
"$qemu" -accel tcg -cpu max -m 512 -nographic -no-reboot \
  -kernel "$kernel" -initrd "$work/initrd.gz" \
  -append "console=ttyS0 quiet panic=-1" \
  -device lsi53c895a,id=scsi0 \
  -drive file="$work/disk.img",if=none,format=raw,id=d0 \
  -device scsi-hd,drive=d0,bus=scsi0.0,scsi-id=1,lun=0 \
  -device scsi-cd,bus=scsi0.0,scsi-id=2,lun=0 \
  </dev/null >"$log" 2>&1 &
qemu_pid=$!

status=
deadline=$(($(date +%s) + timeout_s))
while kill -0 "$qemu_pid" 2>/dev/null; do
  if [ "$(date +%s)" -ge "$deadline" ]; then
    status=124
    kill "$qemu_pid" 2>/dev/null || true
    break
  fi
  sleep 0.2
done
wait "$qemu_pid" 2>/dev/null || true
qemu_pid=
elapsed=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN{printf "%.1f", b - a}')

# Carriage returns and the firmware's terminal escapes out of the console text.
tr -d '\r' <"$log" | sed 's/\x1b\[[0-9;?]*[A-Za-z]//g; s/\x1bc//g' >"$log.txt"
result=$(grep -a -o 'QXVM-RESULT rc=[0-9]*' "$log.txt" | tail -n1 | sed 's/.*rc=//' || true)
begin=$(grep -a -o 'QXVM-BEGIN uptime=[0-9.]*' "$log.txt" | sed 's/.*uptime=//' || true)
endup=$(grep -a -o 'QXVM-RESULT rc=[0-9]* uptime=[0-9.]*' "$log.txt" | sed 's/.*uptime=//' || true)

if [ -n "$begin" ]; then
  sed -n '/QXVM-BEGIN/,/QXVM-RESULT/p' "$log.txt"
else
  cat "$log.txt"
fi
if [ -z "$status" ]; then
  if [ -n "$result" ]; then status=$result; else status=125; fi
fi
echo "vm_run: guest ready after ${begin:-?} s of guest uptime, guest scripts took $(
  awk -v a="${begin:-0}" -v b="${endup:-0}" 'BEGIN{printf "%.1f", b - a}') s, wall time ${elapsed} s"
case $status in
  0) echo "vm_run: PASS" ;;
  124) echo "vm_run: FAIL: timed out after ${timeout_s} s" ;;
  125) echo "vm_run: FAIL: the guest reported no result"; [ -n "$begin" ] && tail -n 40 "$log.txt" ;;
  *) echo "vm_run: FAIL: a guest script exited with $status" ;;
esac
exit "$status"
