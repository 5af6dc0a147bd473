# Guest script of the real-device checks: the kernel's SCSI target (LIO) through its loopback fabric
# (tcm_loop) gives two sg nodes of file-backed LUNs with a copy manager; on them and on QEMU's disk
# the tool's EXTENDED COPY and RECEIVE COPY RESULTS are proven, and every subcommand is compared with
# its sg3_utils tool (same exit status, same values). The modules are loaded by vm_run.sh.
cfg=/sys/kernel/config/target
loop=$cfg/loopback/naa.5001405c0ffee001/tpgt_1
failures=0
fail() { echo "QXVM-CMP FAIL: $*"; failures=$((failures + 1)); }
for t in jq sg_inq sg_dd sg_copy_results sg_xcopy; do
  command -v $t >/dev/null || { echo "QXVM-CMP FAIL: $t is not in the guest"; exit 1; }
done

echo "== LIO loopback"
[ -d $cfg ] || mount -t configfs configfs /sys/kernel/config || exit 1
set -e
# Two 8 MiB file-backed LUNs; the NAA designator LIO derives from the serial's hex digits.
for i in 0 1; do
  dev=$cfg/core/fileio_$((i + 1))/loop$i
  mkdir -p $dev
  echo "fd_dev_name=/tmp/loop$i.img,fd_dev_size=8388608" >$dev/control
  echo qx00c0ffee0$i >$dev/wwn/vpd_unit_serial
  echo 1 >$dev/enable
  echo 1 >$dev/attrib/emulate_3pc
done
# The nexus first: each LUN linked afterwards appears as a SCSI device at once.
mkdir -p $loop
echo naa.5001405c0ffee0f0 >$loop/nexus
for i in 0 1; do
  mkdir -p $loop/lun/lun_$i
  ln -s $cfg/core/fileio_$((i + 1))/loop$i $loop/lun/lun_$i/loop$i
done
set +e

# node H:C:T:L: the sg node of that address, once it exists (up to 10 s).
node() {
  i=0
  while [ $i -lt 100 ]; do
    for d in /sys/class/scsi_generic/*; do
      case $(readlink "$d/device") in */"$1") echo /dev/${d##*/}; return 0 ;; esac
    done
    sleep 0.1; i=$((i + 1))
  done
  return 1
}
disk=$(node 0:0:1:0) cd=$(node 0:0:2:0)
host=
for h in /sys/class/scsi_host/host*; do [ "$(cat $h/proc_name)" = tcm_loopback ] && host=${h##*host}; done
lio0=$(node "$host:0:1:0") && lio1=$(node "$host:0:1:1") || { echo "QXVM-CMP FAIL: no tcm_loop sg nodes"; exit 1; }
echo "QEMU disk $disk, CD $cd; LIO LUN 0 $lio0, LUN 1 $lio1 (host $host)"
# A new LUN's first command meets a unit attention (REPORTED LUNS DATA HAS CHANGED): taken here.
for n in $disk $cd $lio0 $lio1; do sg_turs $n >/dev/null 2>&1; sg_turs $n >/dev/null 2>&1; done

# hexof: standard input's bytes as lower-case hex without spaces.
hexof() { od -An -v -tx1 | tr -d ' \n'; }
# bytes HEX >FILE: writes the bytes a hex string spells.
bytes() { printf "$(echo "$1" | sed 's/../\\x&/g')"; }
# sghex: the bytes of an sg3_utils hex dump ("OFFSET  HH HH ...  ASCII") as hex without spaces.
sghex() { cut -c1-57 | awk '$1 ~ /^[0-9a-f]+$/ { for (i = 2; i <= NF; i++) if ($i ~ /^[0-9a-f][0-9a-f]$/) printf "%s", $i }'; }

echo "== EXTENDED COPY through LIO's copy manager"
# naa NODE: the identification descriptor (code set, type, reserved, length, designator) of the
# node's NAA logical-unit designator, as the tool decodes it.
naa() {
  d=$(qxscsi --json inquiry --vpd 0x83 "$1" | jq -r 'first(.designators[] | select(.designator_type == 3
    and .association == 0)) | .designator_hex')
  [ -n "$d" ] && printf '010300%02x%s' $((${#d} / 2)) "$d"
}
# cscd NODE: a 32-byte identification CSCD descriptor (E4h) of 512-byte blocks.
cscd() {
  d=$(naa "$1") || return 1
  pad=$(echo 00000000000000000000000000000000000000000000000000 | cut -c1-$((50 - ${#d})))
  echo "e4000000$d${pad}000200"
}
# The list: header (CSCD list 64 bytes, segment list 28), two CSCDs, one block-to-block segment:
# 16 blocks from LUN 0 LBA 0 to LUN 1 LBA 100.
header=00000040000000000000001c00000000
segment=02000018000000010000$(printf %04x 16)$(printf %016x 0)$(printf %016x 100)
list_hex=$header$(cscd $lio0)$(cscd $lio1)$segment
bytes "$list_hex" >/tmp/xcopy.list
echo "list: $(wc -c </tmp/xcopy.list) bytes: $list_hex"
[ "$(wc -c </tmp/xcopy.list)" -eq 108 ] || fail "the parameter list is not 108 bytes"
head -c 8192 /dev/urandom >/tmp/blocks.bin
sg_dd if=/tmp/blocks.bin of=$lio0 bs=512 count=16 2>/dev/null || fail "sg_dd could not write LUN 0"
out=$(qxscsi xcopy $lio0 --list /tmp/xcopy.list 2>&1); rc=$?
echo "\$ qxscsi xcopy $lio0 --list /tmp/xcopy.list -> $rc"; echo "$out" | sed 's/^/  /'
[ $rc -eq 0 ] || fail "xcopy exited $rc"
sg_dd if=$lio1 of=/tmp/copied.bin bs=512 skip=100 count=16 2>/dev/null
cmp /tmp/blocks.bin /tmp/copied.bin && echo "16 copied blocks read back by sg_dd: equal" ||
  fail "the blocks copied to LUN 1 differ from LUN 0's"
# The other way round with sg_xcopy, read back by the tool.
sg_xcopy if=$lio1 skip=100 of=$lio0 seek=300 bs=512 count=16 2>/dev/null || fail "sg_xcopy failed"
ours=$(qxscsi --json raw --cdb "28 00 00 00 01 2c 00 00 10 00" --in 8192 $lio0 | jq -r .data_hex)
[ "$ours" = "$(hexof </tmp/blocks.bin)" ] && echo "16 blocks copied by sg_xcopy read back by the tool: equal" ||
  fail "the tool reads other blocks than sg_xcopy copied"
# A copy LIO cannot make is its answer, not a failure of the tool: a destination designator it does
# not know, and a destination range past the end of LUN 1 (16384 blocks).
bad=$(echo "$list_hex" | sed 's/0c0ffee01/0c0ffee09/')
bytes "$bad" >/tmp/unknown.list
bytes "$header$(cscd $lio0)$(cscd $lio1)02000018000000010000$(printf %04x 16)$(printf %016x 0)$(printf %016x 16380)" >/tmp/past.list
# LIO answers both COPY ABORTED, copy target device not reachable (0Dh/02h): the tool exits 10.
for l in unknown past; do
  out=$(qxscsi xcopy $lio0 --list /tmp/$l.list 2>&1); rc=$?
  echo "\$ qxscsi xcopy $lio0 --list /tmp/$l.list -> $rc"; echo "$out" | sed 's/^/  /'
  [ $rc -eq 10 ] && echo "$out" | grep -q "Copy target device not reachable" ||
    fail "xcopy with the $l list exits $rc, not 10 with LIO's sense"
done
# OPERATING PARAMETERS: the tool's bytes are the first that sg_copy_results shows.
for n in $lio0 $disk; do
  ours=$(qxscsi --json copy-results --sa 3 --len 520 $n); our_rc=$?
  theirs=$(sg_copy_results --params --hex $n 2>/dev/null); their_rc=$?
  ours=$(echo "$ours" | jq -r '.data_hex // ""'); theirs=$(echo "$theirs" | sghex)
  echo "copy-results --sa 3 on $n: ours $our_rc ${ours:--}; sg_copy_results $their_rc ${theirs:--}"
  [ $our_rc -eq $their_rc ] || fail "copy-results on $n exits $our_rc, sg_copy_results $their_rc"
  [ "$ours" = "$(echo "$theirs" | cut -c1-${#ours})" ] || fail "copy-results on $n: other bytes"
done
[ -n "$(qxscsi --json copy-results --sa 3 $lio0 | jq -r '.data_hex // ""')" ] ||
  fail "LIO answered no operating parameters"

echo "== the tool beside sg3_utils"
subcommands=$(qxscsi --help | sed -n 's/^  \([a-z-]*\)  .*/\1/p')
compared=0 skipped=0
# same NODES ARGS OURS SG3 THEIRS: on each node (a variable name), `qxscsi --json ARGS NODE` and
# `SG3 NODE` exit with the same status and, when both succeed, the jq filter OURS on our JSON prints
# the same lines as the shell command THEIRS reading the sg3_utils tool's standard output. OURS
# "raw": SG3 wrote the answer in binary (--raw), compared byte for byte with our data_hex (which may
# go on with zeros: the LSI adapter reports no residual, so all that was asked for counts as
# received, while sg3_utils cuts at the length the answer gives); "-": the exit status alone. A
# row whose subcommand the tool does not have is skipped.
same() {
  nodes=$1 args=$2 ours=$3 sg3=$4 theirs=$5
  if ! echo "$subcommands" | grep -qx -- "${args%% *}"; then
    echo "skip  qxscsi ${args%% *}: no such subcommand"; skipped=$((skipped + 1)); return
  fi
  for n in $nodes; do
    eval "dev=\$$n"
    qxscsi --json $args $dev >/tmp/ours.json 2>/dev/null; our_rc=$?
    $sg3 $dev >/tmp/theirs.out 2>/tmp/theirs.err; their_rc=$?
    ov= tv=
    if [ $our_rc -eq 0 ] && [ $their_rc -eq 0 ]; then
      case $ours in
        raw) ov=$(jq -r '.data_hex // ""' /tmp/ours.json); tv=$(hexof </tmp/theirs.out)
             tail=${ov#"$tv"}
             [ "$tail" != "$ov" ] && [ -z "$(echo "$tail" | tr -d 0)" ] && ov=$tv ;;
        -) ;;
        *) ov=$(jq -r "$ours" /tmp/ours.json); tv=$(eval "$theirs" </tmp/theirs.out) ;;
      esac
    fi
    compared=$((compared + 1))
    if [ $our_rc -eq $their_rc ] && [ "$ov" = "$tv" ]; then
      echo "ok    $n: qxscsi $args | $sg3: exit $our_rc $(echo $ov | cut -c1-64)"
    else
      fail "$n: qxscsi $args exits $our_rc, $sg3 $their_rc"
      echo "  ours:   $(echo $ov | cut -c1-200)"; echo "  theirs: $(echo $tv | cut -c1-200)"
      head -n 3 /tmp/theirs.err | sed 's/^/  /'
    fi
  done
}
# step ARGS SG3: a change of state, made by the tool on LIO's LUN 0 and by the sg3_utils tool on
# LUN 1: both exit with the same status.
step() {
  qxscsi $1 $lio0 >/dev/null 2>&1; our_rc=$?
  $2 $lio1 >/dev/null 2>&1; their_rc=$?
  compared=$((compared + 1))
  [ $our_rc -eq $their_rc ] && echo "ok    qxscsi $1 on lio0 | $2 on lio1: exit $our_rc" ||
    fail "qxscsi $1 on lio0 exits $our_rc, $2 on lio1 $their_rc"
}
# Filters of the sg3_utils tools' text.
field() { sed -n "s/^ *$1[:=] *\(.*[^ ]\) *\$/\1/p"; }
lun_numbers() { sed -n 's/^ *\([0-9a-f]\{4\}\)[0-9a-f]\{12\}$/\1/p' | while read -r l; do echo $((0x$l & 0x3fff)); done; }
pr_keys() { sed -n 's/.*PR generation=\(0x[0-9a-f]*\).*/\1/p; t; s/^ *\(0x[0-9a-f]*\)$/\1/p' |
  while read -r k; do echo $((k)); done; }
inq_ids() { sed -n 's/^ *Vendor identification: *\(.*[^ ]\) *$/\1/p; s/^ *Product identification: *\(.*[^ ]\) *$/\1/p
  s/^ *Product revision level: *\(.*[^ ]\) *$/\1/p'; }
# sg_requests writes its decoding of the sense data to standard error.
sense_texts() { sed -n 's/.*\(Sense key: .*[^ ]\) *$/\1/p; s/^ *\(Additional sense: .*[^ ]\) *$/\1/p' /tmp/theirs.err; }
# differs NODE ARGS OUR_STATUS SG3 THEIR_STATUS: where the two tools part on purpose (see the
# README), each exits as expected.
differs() {
  eval "dev=\$$1"
  qxscsi $2 $dev >/dev/null 2>&1; our_rc=$?
  $4 $dev >/dev/null 2>&1; their_rc=$?
  compared=$((compared + 1))
  [ $our_rc -eq $3 ] && [ $their_rc -eq $5 ] && echo "ok    $1: qxscsi $2 exits $our_rc, $4 $their_rc, as expected" ||
    fail "$1: qxscsi $2 exits $our_rc (want $3), $4 $their_rc (want $5)"
}

# LIO's persistent reservations keep their state under /var/target/pr: without it a change
# succeeds but is answered with NOT READY (logical unit communication failure).
mkdir -p /var/target/pr
all="disk lio0"
#    nodes     qxscsi                  our values                           sg3_utils          their values
same "$all cd" "inquiry"               raw                                  "sg_inq --len=255 --raw"
same "$all cd" "inquiry"               '.vendor, .product, .revision'       "sg_inq"           inq_ids
for page in 0x00 0x80 0x83 0x86 0x89 0xb0 0xb1 0xb2 0xb3; do
same "$all"    "inquiry --vpd $page"   raw                                  "sg_vpd --force --page=$page --raw"
done
same "$all"    "inquiry --vpd 0x80"    '.serial_number'                     "sg_vpd --force --page=0x80" 'field "Unit serial number"'
same "$all"    "inquiry --vpd 0x83"    '.designators[] | select(.designator_type == 3) | "0x" + .designator_hex' \
                                                                            "sg_vpd --page=0x83" 'grep -o "^ *0x[0-9a-f]*$" | tr -d " "'
same "$all"    "readcap"               raw                                  "sg_readcap --raw"
same "$all"    "readcap --long"        raw                                  "sg_readcap --16 --raw"
same "$all"    "readcap"               '.last_logical_block_address, .logical_block_length' \
                                                                            "sg_readcap"       'sed -n "s/.*Last LBA=\([0-9]*\).*/\1/p; s/.*block length=\([0-9]*\) bytes.*/\1/p"'
same "$all cd" "tur"                   -                                    "sg_turs"
same "disk cd" "sense"                 -                                    "sg_requests"
same "lio0"    "sense"                 '.sense | "Sense key: " + .sense_key_text, "Additional sense: " + .additional_sense_text' \
                                                                            "sg_requests"      sense_texts
same "$all"    "luns"                  '.logical_units[].lun'               "sg_luns"          lun_numbers
same "$all"    "luns"                  raw                                  "sg_luns --raw"
same "$all cd" "modes"                 raw                                  "sg_modes --all --raw"
same "$all"    "modes --six"           raw                                  "sg_modes --all --six --raw"
same "$all"    "modes -p 8 -c 1"       raw                                  "sg_modes --page=8 --control=1 --raw"
same "$all"    "modes -p 0x0a -c 2"    raw                                  "sg_modes --page=0x0a --control=2 --raw"
same "$all"    "logs"                  raw                                  "sg_logs --raw"
same "$all"    "logs -p 0x0d"          raw                                  "sg_logs --page=0x0d --raw"
same "$all"    "start --immed"         -                                    "sg_start --start --immed"
same "$all"    "start"                 -                                    "sg_start --start"
same "cd"      "start --load"          -                                    "sg_start --load"
same "$all"    "sync"                  -                                    "sg_sync"
same "$all"    "sync --lba 8 --count 8" -                                   "sg_sync --lba=8 --count=8"
same "$all"    "sync --lba 99999999"   -                                    "sg_sync --lba=99999999"
same "$all"    "rtpg"                  raw                                  "sg_rtpg --raw"
same "disk"    "rtpg --extended"       '.target_port_groups[] | .target_port_group' \
                                                                            "sg_rtpg --extended" 'field "target port group id" | cut -d, -f1 | while read -r g; do echo $((g)); done'
# Where they part: LIO 6.1's extended-header answer counts the header's 4 bytes out of its length,
# so its last port descriptor is cut off: the tool refuses the answer (97), sg_rtpg shows it.
differs "lio0" "rtpg --extended" 97 "sg_rtpg --extended" 0
# sg_vpd refuses a page that VPD 00h does not list without sending it (EDOM: 50 + 33); the tool
# sends it and reports the device's ILLEGAL REQUEST.
differs "lio0" "inquiry --vpd 0x89" 5 "sg_vpd --page=0x89" 83
same "$all"    "opcodes"               raw                                  "sg_opcodes --raw"
same "$all"    "persist -c"            '.data_hex'                          "sg_persist --in --report-capabilities --hex" sghex
# Reservations: the same steps by the tool on LUN 0 and by sg_persist on LUN 1, each LUN then read
# by both tools.
step "persist --out --register --param-sark 0x1234"    "sg_persist --out --register --param-sark=0x1234"
step "persist --out --register --param-sark 0x1234"    "sg_persist --out --register --param-sark=0x1234"
step "persist --out --reserve --param-rk 0x1234 --prout-type 3" "sg_persist --out --reserve --param-rk=0x1234 --prout-type=3"
same "lio0 lio1" "persist -k"          '.generation, .reservation_keys[]'   "sg_persist --in --read-keys" pr_keys
same "lio0 lio1" "persist -r"          '.data_hex[16:]'                     "sg_persist --in --read-reservation --hex" sghex
step "persist --out --register --param-rk 0x9999 --param-sark 0x1" "sg_persist --out --register --param-rk=0x9999 --param-sark=0x1"
step "persist --out --release --param-rk 0x1234 --prout-type 3" "sg_persist --out --release --param-rk=0x1234 --prout-type=3"
same "lio0 lio1" "persist -r"          'if .reservation then "held" else "none" end' \
                                                                            "sg_persist --in --read-reservation" 'sed -n "s/.*NO reservation held.*/none/p"'
step "persist --out --clear --param-rk 0x1234"         "sg_persist --out --clear --param-rk=0x1234"
same "lio0 lio1" "persist -k"          '.generation, .reservation_keys[]'   "sg_persist --in --read-keys" pr_keys
# copy beside sg_dd: the same blocks read by each into a file (same exit status, same bytes), a
# WRITE with FUA answered alike, and blocks the tool writes and verifies read back by sg_dd.
if echo "$subcommands" | grep -qx copy; then
  for n in disk lio0; do
    eval "dev=\$$n"
    bl=$(qxscsi --json readcap $dev | jq -r '.logical_block_length')
    qxscsi copy --if $dev --of /tmp/ours.bin --count 16 >/dev/null 2>&1; our_rc=$?
    sg_dd if=$dev of=/tmp/theirs.bin bs=$bl count=16 >/dev/null 2>&1; their_rc=$?
    compared=$((compared + 1))
    [ $our_rc -eq $their_rc ] && cmp -s /tmp/ours.bin /tmp/theirs.bin &&
      echo "ok    $n: qxscsi copy --count 16 | sg_dd count=16: exit $our_rc, same $((16 * bl)) bytes" ||
      fail "$n: qxscsi copy exits $our_rc, sg_dd $their_rc, or their bytes differ"
  done
  # LIO's fileio LUN advertises no FUA (DPOFUA 0) and refuses a WRITE with FUA: both tools alike.
  qxscsi copy --if /tmp/blocks.bin --of $lio1 --seek 200 --fua >/dev/null 2>&1; our_rc=$?
  sg_dd if=/tmp/blocks.bin of=$lio1 bs=512 seek=200 oflag=fua >/dev/null 2>&1; their_rc=$?
  compared=$((compared + 1))
  [ $our_rc -eq $their_rc ] && echo "ok    lio1: qxscsi copy --fua | sg_dd oflag=fua: exit $our_rc" ||
    fail "lio1: qxscsi copy --fua exits $our_rc, sg_dd oflag=fua $their_rc"
  copy_out=$(qxscsi copy --if /tmp/blocks.bin --of $lio1 --seek 200 --verify 2>&1); our_rc=$?
  sg_dd if=$lio1 of=/tmp/back.bin bs=512 skip=200 count=16 >/dev/null 2>&1
  compared=$((compared + 1))
  [ $our_rc -eq 0 ] && cmp -s /tmp/blocks.bin /tmp/back.bin &&
    echo "ok    lio1: qxscsi copy --verify to LBA 200, read back by sg_dd: equal" || {
    fail "lio1: qxscsi copy --verify exits $our_rc, or sg_dd reads other bytes back"
    echo "$copy_out" | sed 's/^/  /'
  }
else
  echo "skip  qxscsi copy: no such subcommand"; skipped=$((skipped + 1))
fi
# modes --set on QEMU's disk (LIO takes no change in MODE SELECT): WCE cleared, then set again; after each,
# sg_modes reads the bytes the tool reads, and the two states differ.
if echo "$subcommands" | grep -qx modes && qxscsi modes --help | grep -q -- --set; then
  for v in 0 1; do
    qxscsi modes --set caching.WCE=$v $disk >/dev/null 2>&1 || fail "disk: modes --set caching.WCE=$v exits $?"
    sg_modes --page=8 --raw $disk | hexof >/tmp/wce$v.hex
    same "disk" "modes -p 8"           raw                                  "sg_modes --page=8 --raw"
  done
  compared=$((compared + 1))
  cmp -s /tmp/wce0.hex /tmp/wce1.hex && fail "disk: sg_modes sees the same caching page with WCE=0 and WCE=1" ||
    echo "ok    disk: sg_modes sees the caching page change with modes --set caching.WCE"
fi
echo "QXVM-CMP compared=$compared skipped=$skipped failures=$failures"
[ $failures -eq 0 ]
