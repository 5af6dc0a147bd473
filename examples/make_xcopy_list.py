#!/usr/bin/env python3
"""Writes an EXTENDED COPY (LID1) parameter list that copies blocks between two logical units.

Usage: make_xcopy_list.py QXSCSI SOURCE_DEVICE DEST_DEVICE SRC_LBA DST_LBA BLOCKS OUT [BLOCK_SIZE]

The NAA designators of both units are read with `QXSCSI inquiry --vpd 0x83 --json`; the list holds two
identification descriptors (E4h) and one block-to-block segment descriptor (02h).
"""
import json
import subprocess
import sys


def naa_descriptor(tool, device):
    out = subprocess.run([tool, "inquiry", device, "--vpd", "0x83", "--json"], check=True,
                         capture_output=True, text=True).stdout
    for d in json.loads(out)["designators"]:
        if d["designator_type"] == 3 and d["association"] == 0:
            body = bytes.fromhex(d["designator"])
            return bytes([d["code_set"], d["designator_type"], 0, len(body)]) + body
    sys.exit(f"{device}: no NAA designator of the logical unit")


def main():
    if len(sys.argv) not in (8, 9):
        sys.exit(__doc__)
    tool, src, dst = sys.argv[1:4]
    src_lba, dst_lba, blocks = (int(v, 0) for v in sys.argv[4:7])
    block_size = int(sys.argv[8], 0) if len(sys.argv) == 9 else 512
    header = bytearray(16)
    header[2:4] = (64).to_bytes(2, "big")  # CSCD descriptor list length
    header[8:12] = (28).to_bytes(4, "big")  # segment descriptor list length
    cscds = bytearray()
    for device in (src, dst):
        d = bytearray(32)
        d[0] = 0xE4
        ident = naa_descriptor(tool, device)
        d[4:4 + len(ident)] = ident
        d[29:32] = block_size.to_bytes(3, "big")
        cscds += d
    seg = bytearray(28)
    seg[0] = 0x02
    seg[2:4] = (0x18).to_bytes(2, "big")
    seg[4:6] = (0).to_bytes(2, "big")  # source: descriptor 0
    seg[6:8] = (1).to_bytes(2, "big")  # destination: descriptor 1
    seg[10:12] = blocks.to_bytes(2, "big")
    seg[12:20] = src_lba.to_bytes(8, "big")
    seg[20:28] = dst_lba.to_bytes(8, "big")
    with open(sys.argv[7], "wb") as f:
        f.write(header + cscds + seg)


if __name__ == "__main__":
    main()
