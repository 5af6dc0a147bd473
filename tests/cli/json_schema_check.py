#!/usr/bin/python3
"""Runs the built qxscsi with --json for every subcommand, failures included, and checks that each
run prints exactly one JSON document that the schema in schema/ accepts and whose exit_status is
the process's. Usage: json_schema_check.py TOOL SCHEMA"""
import json
import os
import subprocess
import sys
import tempfile

import jsonschema

LIST_FILE = os.path.join(tempfile.gettempdir(), "qxscsi_schema_check_list.bin")
# A 64-block disk image with a pattern (so that /dev/zero reads back different) and a copy's output.
IMAGE = os.path.join(tempfile.gettempdir(), "qxscsi_schema_check_disk.img")
IMAGE_DISK = "emulated:disk?file=" + IMAGE
COPY_OUT = os.path.join(tempfile.gettempdir(), "qxscsi_schema_check_copy.bin")

# (arguments, expected exit status)
CASES = [
    (["inquiry"], 0),
    (["inquiry", "emulated:tape"], 0),
    (["inquiry", "--vpd", "0"], 0),
    (["inquiry", "--vpd", "0x80"], 0),
    (["inquiry", "--vpd", "0x83"], 0),
    (["inquiry", "--vpd", "0xb0"], 0),
    (["inquiry", "--vpd", "ei"], 0),
    (["inquiry", "--vpd", "0xb1"], 0),
    (["inquiry", "--vpd", "lbpv"], 0),
    (["inquiry", "--vpd", "ai"], 5),
    (["inquiry", "--vpd", "all"], 0),
    (["inquiry", "--vpd", "all", "emulated:changer"], 0),
    (["inquiry", "--vpd", "all", "emulated:disk?hostile=lengths"], 97),
    (["inquiry", "--vpd", "all", "emulated:disk?hostile=busy"], 26),
    (["inquiry", "--vpd", "0x99"], 5),
    (["inquiry", "emulated:disk?hostile=lengths"], 0),
    (["inquiry", "--vpd", "0x83", "emulated:disk?hostile=lengths"], 97),
    (["-t", "3", "inquiry"], 0),
    (["tur"], 0),
    (["tur", "emulated:disk?hostile=busy"], 26),
    (["tur", "emulated:disk?hostile=sense255"], 11),
    (["tur", "emulated:disk?hostile=sense0"], 98),
    (["-t", "2", "tur", "emulated:disk?hostile=timeout"], 33),
    (["sense"], 0),
    (["sense", "emulated:changer"], 0),
    (["luns", "emulated:disk?luns=3"], 0),
    (["-t", "5", "luns", "emulated:disk?luns=3"], 0),
    (["luns", "emulated:disk?hostile=lengths&luns=4"], 97),
    (["luns", "--select", "2", "emulated:disk?luns=256"], 0),
    (["luns", "--select", "3"], 5),
    (["luns", "--select", "256"], 1),
    (["opcodes"], 0),
    (["opcodes", "--timeouts"], 0),
    (["opcodes", "--opcode", "0x28", "--timeouts"], 0),
    (["opcodes", "--opcode", "0x5e,1"], 0),
    (["opcodes", "--opcode", "0xff"], 0),
    (["opcodes", "--opcode", "0x5e"], 5),
    (["opcodes", "--sa", "1"], 31),
    (["opcodes", "emulated:tape"], 9),
    (["raw", "--cdb", "12 00 00 00 ff 00", "--in", "255"], 0),
    (["raw", "--cdb", "ff 00 00 00 00 00"], 9),
    (["raw", "--cdb", "28 00 ff ff ff ff 00 00 01 00", "--in", "512"], 22),
    (["raw", "--cdb", "zz"], 1),
    (["raw", "--cdb", "12 00 00 00 24 00", "--in", "36", "--out", "/dev/null"], 31),
    (["raw", "--cdb", "12 00 00 00 24 00"], 1),
    (["raw"], 1),
    (["xcopy", "--list", LIST_FILE], 0),
    (["xcopy", "--list", "/nonexistent/list"], 15),
    (["copy-results", "--sa", "3"], 0),
    (["copy-results"], 5),
    (["decode-sense", "70 00 05 00 00 00 00 0a 00 00 00 00 24 00 00 c0 00 02"], 0),
    (["decode-sense", "f2 06 29 00 00 00 00 0c 00 0a 80 00 00 00 00 00 de ad be ef 00 00"], 0),
    (["decode-sense", "0x"], 1),
    # Every descriptor type decoded, a cut one, vendor-specific and non-sense response codes.
    (["decode-sense", "72 05 24 00 00 00 00 5a 00 0a 80 00 00 00 00 00 00 00 12 34 01 0a 00 00 00 00 00 00 00 00 00 09"
      " 02 06 00 00 cb 00 11 00 03 02 00 5a 04 02 00 80 05 02 00 20 0a 06 02 04 04 00 80 00"
      " 0b 1a 01 00 00 00 00 01 00 00 00 00 00 00 00 10 00 00 00 00 00 00 00 20 01 00 00 07"
      " 0c 0c 01 02 70 00 05 00 00 00 00 00 00 00 0f 06 00 00 00 00 00 3c 80 02 de ad"], 0),
    (["decode-sense", "72 01 00 1d 00 00 00 4e 09 0c 01 04 00 02 00 03 00 04 00 05 40 51"
      " 06 1e 00 00 00 00 00 00 00 00 00 01 00 00 00 02 00 00 00 00 00 00 01 00 00 00 00 00 00 01 00 00"
      " 08 0e 00 00 00 00 00 00 00 00 00 01 00 00 00 02 0e 0e 00 01 02 01 00 08 41 42 43 44 45 46 47 48"], 0),
    (["decode-sense", "72 03 11 00 00 00 00 28 0d 1c a0 00 80 00 07 0c 00 00 00 00 00 00 12 34 00 00 00 00 00 00 00 09"
      " 00 00 00 00 00 00 07 22 00 00"], 0),
    (["decode-sense", "72 05 24 00 00 00 00 0c 00 0a 80 00"], 0),
    (["decode-sense", "7f 00 05 00"], 0),
    (["decode-sense", "60 00 05 00"], 0),
    (["decode-sense", "70 00 0b 00 00 00 00 0a 00 00 00 00 08 00 00 80 00 00"], 0),
    (["list"], 0),
    (["list", "--portal", "127.0.0.1:1"], 15),
    (["tur", "no-such-device"], 15),
    (["tur", ""], 1),
    (["tur", "/dev/qxscsi-no-such-node"], 52),
    (["--address", "0:0:0", "tur"], 31),
    (["--param", "novalue", "tur"], 1),
    (["-t", "0", "tur"], 1),
    (["bogus-subcommand"], 1),
    (["inquiry", "--no-such-option"], 1),
    ([], 1),
    (["readcap"], 0),
    (["readcap", "--long", "emulated:disk?capacity=300&block=4096"], 0),
    (["readcap", "emulated:tape"], 9),
    (["start", "--stop"], 0),
    (["start", "--eject", "--immed"], 0),
    (["start", "--load", "--stop"], 31),
    (["sync", "--lba", "0x100000000", "--count", "8"], 22),  # SYNCHRONIZE CACHE(16) beyond the end
    (["sync", "--lba", "8", "--count", "8"], 0),
    (["sync", "--lba", "18446744073709551616"], 1),
    (["modes"], 0),
    (["modes", "-p", "ca", "-c", "changeable", "--six", "--dbd"], 0),
    (["modes", "-p", "0x99"], 1),
    (["modes", "--set", "caching.WCE=0", "--save"], 0),
    (["modes", "--set", "rw.ARRE=0", "-6"], 0),
    (["modes", "--set", "control.SWP=1"], 5),
    (["modes", "--set", "caching.NOPE=1"], 1),
    (["modes", "--set", "ie.MRIE=99"], 1),
    (["modes", "--set", "caching.WCE=0", "emulated:changer"], 9),
    (["modes", "--six", "emulated:tape"], 0),
    (["modes", "emulated:changer"], 9),
    (["logs"], 0),
    (["logs", "-p", "2"], 0),
    (["logs", "-p", "03h", "--ppointer", "5"], 0),
    (["logs", "-p", "0x0d"], 0),
    (["logs", "-p", "0x10"], 0),
    (["logs", "-p", "0x2f", "-c", "default_cumulative"], 0),
    (["logs", "-p", "0x18"], 5),  # a page the disk does not keep
    (["logs", "-p", "64"], 1),
    (["logs", "-c", "saved"], 1),
    (["logs", "emulated:disk?hostile=busy"], 26),
    (["persist"], 0),
    (["persist", "--read-reservation"], 0),
    (["persist", "--report-capabilities"], 0),
    (["persist", "--out", "--register", "--param-sark", "0xffffffffffffffff"], 0),
    (["persist", "--out", "--reserve", "--param-rk", "1", "--prout-type", "1"], 24),  # not registered
    (["persist", "--in", "--clear"], 31),
    (["persist", "--out"], 1),
    (["persist", "-o", "-R", "-K", "18446744073709551616"], 1),
    (["persist", "emulated:tape"], 9),
    (["rtpg"], 0),
    (["copy", "--if", IMAGE_DISK, "--of", COPY_OUT, "--verify", "--bs", "5"], 0),
    (["copy", "--if", COPY_OUT, "--of", IMAGE_DISK, "--seek", "60", "--fua"], 0),  # stops at the end
    (["copy", "--if", "emulated:disk", "--of", "/dev/null", "--skip", "0x10", "--count", "16"], 0),
    (["copy", "--if", IMAGE_DISK, "--of", "file:/dev/zero", "--verify"], 14),
    (["copy", "--if", IMAGE_DISK, "--of", "/dev/null", "--skip", "65"], 1),
    (["copy", "--if", "emulated:disk", "--of", "/dev/null", "--bs", "0"], 1),
    (["copy", "--of", "/dev/null"], 1),
    (["copy", "--if", "/dev/null", "--of", COPY_OUT], 31),
    (["copy", "--if", "emulated:tape", "--of", "/dev/null"], 9),
    (["copy", "--if", "emulated:disk?hostile=conflict", "--of", "/dev/null"], 24),
    (["copy", "--if", "/nonexistent/in", "--of", "emulated:disk"], 52),
    (["-t", "2", "copy", "--if", "emulated:disk?hostile=timeout", "--of", "/dev/null"], 33),
    (["rtpg", "--extended"], 0),
    (["rtpg", "emulated:tape"], 9),
    (["rtpg", "emulated:disk?hostile=lengths"], 97),
]


def main():
    tool, schema_path = sys.argv[1], sys.argv[2]
    with open(schema_path) as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    with open(LIST_FILE, "wb"):
        pass  # an empty parameter list: EXTENDED COPY with nothing to do
    with open(IMAGE, "wb") as f:
        f.write(bytes((i * 7 + 1) & 0xFF for i in range(64 * 512)))
    failures = 0
    for args, expected in CASES:
        run = subprocess.run([tool, "--json"] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        where = " ".join(args) or "(no arguments)"
        try:
            doc = json.loads(run.stdout.decode("utf-8"))  # one document, nothing around it
        except ValueError as e:
            print("FAIL %s: stdout is not one JSON document (%s): %r" % (where, e, run.stdout[:200]))
            failures += 1
            continue
        problems = [e.message for e in validator.iter_errors(doc)]
        if run.returncode != expected:
            problems.append("exit %d, expected %d" % (run.returncode, expected))
        if isinstance(doc, dict):
            if doc.get("exit_status") != run.returncode:
                problems.append("exit_status %r but the process exited %d" % (doc.get("exit_status"), run.returncode))
            if "error" in doc and doc["error"].get("exit_status") != run.returncode:
                problems.append("error.exit_status differs from the exit status")
            if run.returncode in (1, 15, 31, 52, 97) and "error" not in doc:
                problems.append("a failure without an error object")
            if run.stderr and "error" not in doc:
                problems.append("stderr has a line that the document lacks: %r" % run.stderr[:200])
        for p in problems:
            print("FAIL %s: %s" % (where, p))
        failures += bool(problems)
    for path in (LIST_FILE, IMAGE, IMAGE + ".state", COPY_OUT):
        if os.path.exists(path):
            os.remove(path)
    print("%d of %d runs failed" % (failures, len(CASES)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
