# Guest script of the iscsi_lio_vm test: the kernel's own iSCSI target (LIO) on the guest's
# 127.0.0.1:3260, set up through configfs by hand, with a 16 MiB file-backed LUN 0; then the tool
# against it. The modules are loaded by vm_run.sh (--module, in dependency order).
iqn=iqn.2026-12.org.qxscsi:lio
url=iscsi://127.0.0.1/$iqn/0
cfg=/sys/kernel/config/target
failures=0

echo "== LIO"
ifconfig lo 127.0.0.1 up || exit 1
mount -t configfs configfs /sys/kernel/config || exit 1
set -e
dev=$cfg/core/fileio_0/disk0
mkdir -p "$dev"
echo "fd_dev_name=/tmp/lio-disk0.img,fd_dev_size=16777216" >"$dev/control"
echo QXLIO0001 >"$dev/wwn/vpd_unit_serial"
echo 1 >"$dev/enable"
mkdir -p "$cfg/iscsi"
tpg=$cfg/iscsi/$iqn/tpgt_1
mkdir -p "$tpg/np/127.0.0.1:3260" "$tpg/lun/lun_0"
ln -s "$dev" "$tpg/lun/lun_0/disk0"
echo 1 >"$tpg/attrib/generate_node_acls"
echo 1 >"$tpg/attrib/cache_dynamic_acls"
echo 0 >"$tpg/attrib/authentication"
echo 0 >"$tpg/attrib/demo_mode_write_protect"
echo 1 >"$tpg/enable"
# A second target on the same portal wants one-way CHAP (the TPG's own account in demo mode).
ctpg=$cfg/iscsi/$iqn-chap/tpgt_1
mkdir -p "$ctpg/np/127.0.0.1:3260" "$ctpg/lun/lun_0"
ln -s "$dev" "$ctpg/lun/lun_0/disk0"
echo 1 >"$ctpg/attrib/generate_node_acls"
echo 1 >"$ctpg/attrib/cache_dynamic_acls"
echo 0 >"$ctpg/attrib/demo_mode_write_protect"
printf %s qxuser >"$ctpg/auth/userid"  # a newline would become part of the name
printf %s qxsecret0123 >"$ctpg/auth/password"
echo 1 >"$ctpg/attrib/authentication"
echo 1 >"$ctpg/enable"
set +e
echo "LIO target $iqn on 127.0.0.1:3260, LUN 0: $(cat "$dev/info" | head -n1)"

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

echo "== qxscsi"
start=$(cut -d' ' -f1 /proc/uptime)
# Opening and the standard commands; a fresh session's unit attention is taken by the opening.
expect 0 "ready" tur "$url"
expect 0 "LIO-ORG" inquiry "$url"
expect 0 "QXLIO0001" inquiry --vpd 0x80 "$url"
expect 0 "No Sense" sense "$url"
expect 0 "Peripheral device addressing: lun=0" luns "$url"
# READ CAPACITY(10): 32768 blocks of 512 bytes.
expect 0 '"data_hex": "00007fff00000200"' --json raw --cdb "25 00 00 00 00 00 00 00 00 00" --in 8 "$url"
# WRITE(10) of one block at LBA 7, READ(10) of it back, on two separate sessions.
i=0 pattern=
while [ $i -lt 32 ]; do pattern="${pattern}QXSCSI-LIO-01234"; i=$((i + 1)); done
printf '%s' "$pattern" >/tmp/block.bin
hex=$(od -An -v -tx1 /tmp/block.bin | tr -d ' \n')
[ ${#hex} -eq 1024 ] || { echo "QXVM-CLI FAIL: block file is not 512 bytes"; exit 1; }
expect 0 "GOOD" --json raw --cdb "2a 00 00 00 00 07 00 00 01 00" --out /tmp/block.bin "$url"
expect 0 "\"data_hex\": \"$hex\"" --json raw --cdb "28 00 00 00 00 07 00 00 01 00" --in 512 "$url"
# A WRITE whose data is shorter than its CDB says goes out with the shorter expected length: LIO
# refuses it (ILLEGAL REQUEST, invalid field in command information unit) and the block stays.
head -c 480 /tmp/block.bin >/tmp/short.bin
expect 5 "Invalid field in command information unit" raw --cdb "2a 00 00 00 00 08 00 00 01 00" \
  --out /tmp/short.bin "$url"
# Reading past the end of the LUN is an answer (ILLEGAL REQUEST, LBA out of range), not a failure.
expect 22 "Logical block address out of range" raw --cdb "28 00 00 00 80 00 00 00 01 00" --in 512 "$url"
# The portal lists the target and its LUN; a missing LUN or target fails the opening.
expect 0 "$iqn/0" list --portal 127.0.0.1
expect 15 "error -11" tur "iscsi://127.0.0.1/$iqn/5"
# LIO answers a login to an unknown target with "service unavailable" (0301h), not "not found".
expect 15 "Service unavailable" tur "iscsi://127.0.0.1/$iqn:missing/0"
# CHAP: the right password opens, a wrong one or none is refused.
expect 0 "ready" tur "iscsi://qxuser%qxsecret0123@127.0.0.1/$iqn-chap/0"
expect 15 "error -12" tur "iscsi://qxuser%wrong-secret@127.0.0.1/$iqn-chap/0"
expect 15 "cannot open" tur "iscsi://127.0.0.1/$iqn-chap/0"

# The emulated disk beside LIO: the same commands to both.
emulated="emulated:disk?capacity=32768"
# answer CDB LENGTH DEVICE: the exit status and the data bytes (hex, no spaces) of a raw command.
answer() {
  out=$(qxscsi --json raw --cdb "$1" --in "$2" "$3" 2>/dev/null); rc=$?
  data=$(echo "$out" | sed -n 's/.*"data_hex": "\([0-9a-f]*\)".*/\1/p' | head -n1)
  key=$(echo "$out" | sed -n 's/.*"additional_sense_code_hex": "\(0x[0-9a-f]*\)".*/\1/p' | head -n1)
  echo "$rc ${key:--} ${data:--}"
}
# compare TITLE CDB LENGTH CUT...: both answer with the same exit status and ASC, and each CUT (a
# cut(1) character list of the data's hex) matches.
compare() {
  title=$1 cdb=$2 len=$3; shift 3
  lio=$(answer "$cdb" "$len" "$url"); ours=$(answer "$cdb" "$len" "$emulated")
  echo "\$ raw --cdb '$cdb'  ($title)"; echo "  LIO:      $lio"; echo "  emulated: $ours"
  ok=1
  [ "$(echo "$lio" | cut -d' ' -f1-2)" = "$(echo "$ours" | cut -d' ' -f1-2)" ] || ok=0
  for range in "$@"; do
    [ "$(echo "$lio" | cut -d' ' -f3 | cut -c"$range")" = "$(echo "$ours" | cut -d' ' -f3 | cut -c"$range")" ] || ok=0
  done
  if [ $ok -eq 0 ]; then echo "QXVM-CLI FAIL: $title differs"; failures=$((failures + 1)); fi
}
# peers TITLE CDB LENGTH LIO OURS: where LIO takes a shortcut of its own, each answer as it is
# ("STATUS ASC", from answer's first two fields).
peers() {
  lio=$(answer "$2" "$3" "$url" | cut -d' ' -f1-2); ours=$(answer "$2" "$3" "$emulated" | cut -d' ' -f1-2)
  echo "\$ raw --cdb '$2'  ($1)"; echo "  LIO:      $lio (want $4)"; echo "  emulated: $ours (want $5)"
  if [ "$lio" != "$4" ] || [ "$ours" != "$5" ]; then echo "QXVM-CLI FAIL: $1"; failures=$((failures + 1)); fi
}
echo "== emulated disk beside LIO"
compare "VPD 86h" "12 01 86 00 40 00" 64 1-8
# One group (LIO lists both targets' ports in it), active/optimized.
compare "REPORT TARGET PORT GROUPS" "a3 0a 00 00 00 00 00 00 01 00 00 00" 256 10
compare "MODE SENSE(6), caching: data length, page length" "1a 08 08 00 ff 00" 255 1-2 11-12
compare "READ CAPACITY(16)" "9e 10 00 00 00 00 00 00 00 00 00 00 00 20 00 00" 32 1-64
compare "SYNCHRONIZE CACHE(10)" "35 00 00 00 00 00 00 00 00 00" 0
compare "VERIFY(10), BYTCHK 0" "2f 00 00 00 00 00 00 00 08 00" 0
compare "VERIFY(10) past the end" "2f 00 00 00 80 00 00 00 01 00" 0
compare "PERSISTENT RESERVE IN, READ KEYS" "5e 00 00 00 00 00 00 00 ff 00" 255 1-16
compare "PERSISTENT RESERVE IN, REPORT CAPABILITIES: length, type mask" "5e 02 00 00 00 00 00 00 08 00" 8 1-4 9-12
compare "PERSISTENT RESERVE IN, service action 1Fh" "5e 1f 00 00 00 00 00 00 08 00" 8
compare "START STOP UNIT, start, immediate" "1b 01 00 00 01 00" 0
# LIO 6.1 has no LOG SENSE and no REPORT SUPPORTED OPERATION CODES, and takes START STOP UNIT only
# with IMMED and START set.
peers "LOG SENSE, supported pages" "4d 00 40 00 00 00 00 01 00 00" 256 "9 0x20" "0 -"
peers "REPORT SUPPORTED OPERATION CODES, READ(10)" "a3 0c 01 28 00 00 00 00 01 00 00 00" 256 "9 0x20" "0 -"
peers "START STOP UNIT, start, not immediate" "1b 00 00 00 01 00" 0 "5 0x24" "0 -"

end=$(cut -d' ' -f1 /proc/uptime)
echo "QXVM-TIMING tests=$(awk -v a="$start" -v b="$end" 'BEGIN{printf "%.2f", b - a}')s"
[ "$failures" -eq 0 ] || exit 1
exit 0
