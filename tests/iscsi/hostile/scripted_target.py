#!/usr/bin/python3
"""A scripted iSCSI target for the hostile-target tests (standard library only).

    scripted_target.py MODE [--lifetime SEC]

Listens on 127.0.0.1 at a free port, prints "PORT <n>" on one line, and serves any number of
connections until the lifetime (default 30 s) is over; then it exits by itself. Logins pass with
whatever the initiator offers; SendTargets lists one target; INQUIRY, TEST UNIT READY, REPORT
LUNS, READ CAPACITY(10), REQUEST SENSE, READ(10) and WRITE(10) answer as a 1 MiB disk would. The
mode then spoils one part of the exchange (the opening's INQUIRY and TEST UNIT READY are left
alone unless the mode is about the login):

  good                 nothing spoiled
  sense-short          CHECK CONDITION whose SenseLength says 18 bytes while 6 follow
  sense-none           CHECK CONDITION with an empty data segment (no SenseLength at all)
  sense-one            CHECK CONDITION with a one-byte data segment
  underflow-all        Data-In carries all data, the status claims an underflow of all of it
  underflow-beyond     the status claims an underflow larger than the expected length
  overflow-max         the status claims an overflow of 0xFFFFFFFF bytes
  both-flags           the status sets both the overflow and the underflow flag
  no-data-claims-all   a SCSI Response without any Data-In and without residual flags
  data-beyond-buffer   Data-In carries twice the expected length
  silent-login         the connection is accepted, nothing is ever answered
  silent-command       the login passes, commands get no answer
  close-login          half a Login Response header, then the connection is closed
  close-command        a Data-In header promising data, part of the data, then a close
  name-not-utf8        SendTargets lists a target name that is not UTF-8
  chap-n-not-utf8      the Login Response carries a CHAP_N that is not UTF-8
  mrdsl-zero           the login declares MaxRecvDataSegmentLength=0; a WRITE gets an R2T
"""
import os
import socket
import struct
import sys
import threading

MODES = {
    "good", "sense-short", "sense-none", "sense-one", "underflow-all", "underflow-beyond",
    "overflow-max", "both-flags", "no-data-claims-all", "data-beyond-buffer", "silent-login",
    "silent-command", "close-login", "close-command", "name-not-utf8", "chap-n-not-utf8",
    "mrdsl-zero",
}
TARGET_NAME = b"iqn.2026-12.org.qxscsi:scripted"
BAD_NAME = TARGET_NAME + b":\xff\xfe\xc3("  # bytes no UTF-8 decoder accepts
BLOCK = 512
BLOCKS = 2048

# Opcodes (initiator -> target, target -> initiator).
NOP_OUT, SCSI_CMD, LOGIN_REQ, TEXT_REQ, DATA_OUT, LOGOUT_REQ = 0x00, 0x01, 0x03, 0x04, 0x05, 0x06
NOP_IN, SCSI_RSP, LOGIN_RSP, TEXT_RSP, DATA_IN, LOGOUT_RSP, R2T = 0x20, 0x21, 0x23, 0x24, 0x25, 0x26, 0x31
F_BIT, U_BIT, O_BIT, S_BIT = 0x80, 0x02, 0x04, 0x01
CHECK_CONDITION = 0x02


def padded(data):
    return data + b"\0" * (-len(data) % 4)


def keys(pairs):
    return b"".join(k + b"=" + v + b"\0" for k, v in pairs)


def parse_keys(data):
    out = {}
    for item in data.split(b"\0"):
        if b"=" in item:
            k, v = item.split(b"=", 1)
            out[k] = v
    return out


def fixed_sense(key, asc, ascq):
    s = bytearray(18)
    s[0], s[2], s[7], s[12], s[13] = 0x70, key, 10, asc, ascq
    return bytes(s)


class Connection:
    def __init__(self, sock, mode):
        self.sock, self.mode = sock, mode
        self.stat_sn = 1
        self.exp_cmd_sn = 0
        self.disk = bytearray(BLOCK * BLOCKS)

    # -- wire helpers --------------------------------------------------------------------------
    def recv_exact(self, n):
        buf = b""
        while len(buf) < n:
            chunk = self.sock.recv(n - len(buf))
            if not chunk:
                raise EOFError
            buf += chunk
        return buf

    def recv_pdu(self):
        bhs = self.recv_exact(48)
        ahs = bhs[4] * 4
        dsl = int.from_bytes(bhs[5:8], "big")
        self.recv_exact(ahs)
        data = self.recv_exact(dsl + (-dsl % 4))[:dsl] if dsl else b""
        return bhs, data

    def header(self, opcode, flags, itt, data_len, b2=0, b3=0, lun=b"\0" * 8, rest=b"\0" * 28,
               stat=True):
        """A target BHS; rest holds bytes 20-47 with StatSN, ExpCmdSN and MaxCmdSN filled in."""
        rest = bytearray(rest)
        stat_sn = self.stat_sn
        if stat:
            self.stat_sn += 1
        struct.pack_into(">III", rest, 4, stat_sn, self.exp_cmd_sn, self.exp_cmd_sn + 63)
        return (bytes([opcode, flags, b2, b3, 0]) + data_len.to_bytes(3, "big") + lun + itt +
                bytes(rest))

    def send(self, bhs, data=b""):
        self.sock.sendall(bhs + padded(data))

    # -- login, text, logout -------------------------------------------------------------------
    def login(self, bhs, data):
        if self.mode == "silent-login":
            return
        offered = parse_keys(data)
        csg, nsg = (bhs[1] >> 2) & 3, bhs[1] & 3
        self.exp_cmd_sn = struct.unpack(">I", bhs[24:28])[0]
        pairs = []
        if csg == 1 or nsg == 3:
            mrdsl = b"0" if self.mode == "mrdsl-zero" else b"262144"
            pairs = [(b"HeaderDigest", b"None"), (b"DataDigest", b"None"),
                     (b"MaxRecvDataSegmentLength", mrdsl), (b"InitialR2T", b"Yes"),
                     (b"ImmediateData", b"No"), (b"MaxBurstLength", b"262144"),
                     (b"FirstBurstLength", b"65536"), (b"MaxOutstandingR2T", b"1"),
                     (b"ErrorRecoveryLevel", b"0")]
            if offered.get(b"SessionType", b"Normal") == b"Normal":
                pairs.append((b"TargetPortalGroupTag", b"1"))
        elif b"AuthMethod" in offered:
            pairs = [(b"AuthMethod", b"None")]
        if self.mode == "chap-n-not-utf8":
            pairs.append((b"CHAP_N", b"\xff\xfe\xc3(target"))
        body = keys(pairs)
        itt = bhs[16:20]
        rest = bytearray(28)
        rsp = bytes([LOGIN_RSP, 0x80 | (csg << 2) | nsg, 0, 0, 0]) + len(body).to_bytes(3, "big")
        rsp += bhs[8:14] + b"\x00\x01" + itt + bytes(rest)
        rsp = bytearray(rsp)
        struct.pack_into(">III", rsp, 24, self.stat_sn, self.exp_cmd_sn, self.exp_cmd_sn + 63)
        self.stat_sn += 1
        if self.mode == "close-login":
            self.sock.sendall(bytes(rsp[:20]))
            raise EOFError
        self.send(bytes(rsp), body)

    def text(self, bhs, data):
        name = BAD_NAME if self.mode == "name-not-utf8" else TARGET_NAME
        port = self.sock.getsockname()[1]
        body = keys([(b"TargetName", name), (b"TargetAddress", b"127.0.0.1:%d,1" % port)])
        rest = bytearray(28)
        rest[0:4] = b"\xff\xff\xff\xff"
        self.send(self.header(TEXT_RSP, F_BIT, bhs[16:20], len(body), rest=rest), body)

    def logout(self, bhs):
        self.send(self.header(LOGOUT_RSP, F_BIT, bhs[16:20], 0))
        raise EOFError

    # -- SCSI ----------------------------------------------------------------------------------
    def status(self, itt, lun, status, flags=0, residual=0, data=b""):
        rest = bytearray(28)
        struct.pack_into(">I", rest, 24, residual)
        self.send(self.header(SCSI_RSP, F_BIT | flags, itt, len(data), b3=status, rest=rest), data)

    def data_in(self, itt, lun, payload, expected, flags=None, residual=None):
        """All of payload in one Data-In PDU that also carries GOOD status."""
        if flags is None:
            flags, residual = 0, 0
            if len(payload) < expected:
                flags, residual = U_BIT, expected - len(payload)
            elif len(payload) > expected:
                flags, residual, payload = O_BIT, len(payload) - expected, payload[:expected]
        rest = bytearray(28)
        rest[0:4] = b"\xff\xff\xff\xff"
        struct.pack_into(">II", rest, 20, 0, residual)
        self.send(self.header(DATA_IN, F_BIT | S_BIT | flags, itt, len(payload), lun=lun, rest=rest),
                  payload)

    def check_condition(self, itt, lun, sense):
        self.status(itt, lun, CHECK_CONDITION, data=struct.pack(">H", len(sense)) + sense)

    def answer(self, cdb, lun):
        """Data and sense of a well-behaved disk: (payload, sense or None)."""
        op = cdb[0]
        if op == 0x12:
            if cdb[1] & 1:
                return b"", fixed_sense(5, 0x24, 0)
            inq = bytearray(36)
            inq[2], inq[3], inq[4] = 5, 2, 31
            inq[8:36] = b"QXTEST  SCRIPTED TARGET 0001"
            return bytes(inq[:int.from_bytes(cdb[3:5], "big")]), None
        if op == 0x00:
            return b"", None
        if op == 0x03:
            return fixed_sense(0, 0, 0)[:cdb[4]], None
        if op == 0xA0:
            return struct.pack(">II", 8, 0) + b"\0" * 8, None
        if op == 0x25:
            return struct.pack(">II", BLOCKS - 1, BLOCK), None
        if op == 0x28:
            lba, count = int.from_bytes(cdb[2:6], "big"), int.from_bytes(cdb[7:9], "big")
            if lba + count > BLOCKS:
                return b"", fixed_sense(5, 0x21, 0)
            return bytes(self.disk[lba * BLOCK:(lba + count) * BLOCK]), None
        return b"", fixed_sense(5, 0x20, 0)  # INVALID COMMAND OPERATION CODE

    def scsi(self, bhs, data):
        itt, lun = bhs[16:20], bhs[8:16]
        expected = struct.unpack(">I", bhs[20:24])[0]
        cmd_sn = struct.unpack(">I", bhs[24:28])[0]
        self.exp_cmd_sn = (cmd_sn + 1) & 0xFFFFFFFF
        cdb = bhs[32:48]
        mode = self.mode
        opening = cdb[0] in (0x12, 0x00)
        if mode == "silent-command" and not opening:
            return
        if cdb[0] == 0x2A:
            return self.write(itt, lun, cdb, expected)
        payload, sense = self.answer(cdb, lun)
        if sense is not None:
            return self.check_condition(itt, lun, sense)
        if opening or mode in ("good", "name-not-utf8", "chap-n-not-utf8", "mrdsl-zero"):
            if payload or expected:
                return self.data_in(itt, lun, payload[:expected], expected)
            return self.status(itt, lun, 0)
        if mode == "sense-short":
            return self.status(itt, lun, CHECK_CONDITION,
                               data=struct.pack(">H", 18) + fixed_sense(3, 0x11, 0)[:6])
        if mode == "sense-none":
            return self.status(itt, lun, CHECK_CONDITION)
        if mode == "sense-one":
            return self.status(itt, lun, CHECK_CONDITION, data=b"\x00")
        payload = payload[:expected]
        if mode == "underflow-all":
            return self.data_in(itt, lun, payload, expected, U_BIT, expected)
        if mode == "underflow-beyond":
            return self.data_in(itt, lun, payload, expected, U_BIT, expected + 4096)
        if mode == "overflow-max":
            return self.data_in(itt, lun, payload, expected, O_BIT, 0xFFFFFFFF)
        if mode == "both-flags":
            return self.data_in(itt, lun, payload, expected, O_BIT | U_BIT, 16)
        if mode == "no-data-claims-all":
            return self.status(itt, lun, 0)
        if mode == "data-beyond-buffer":
            return self.data_in(itt, lun, payload * 2 + b"\xAA" * 64, expected, 0, 0)
        if mode == "close-command":
            rest = bytearray(28)
            rest[0:4] = b"\xff\xff\xff\xff"
            self.sock.sendall(self.header(DATA_IN, F_BIT | S_BIT, itt, max(len(payload), 8), lun=lun,
                                          rest=rest) + payload[:len(payload) // 2])
            raise EOFError
        raise AssertionError(mode)

    def write(self, itt, lun, cdb, expected):
        """WRITE(10): one R2T for the whole length, Data-Out PDUs until the final one, then GOOD."""
        if expected:
            rest = bytearray(28)
            rest[0:4] = b"\x00\x00\x10\x00"  # target transfer tag
            struct.pack_into(">III", rest, 16, 0, 0, expected)  # R2TSN, offset, length
            self.send(self.header(R2T, F_BIT, itt, 0, lun=lun, rest=rest, stat=False))
            got = 0
            while True:
                bhs, data = self.recv_pdu()
                if bhs[0] & 0x3F != DATA_OUT:
                    continue
                got += len(data)
                if bhs[1] & F_BIT or got >= expected:
                    break
        self.status(itt, lun, 0)

    def serve(self):
        try:
            while True:
                bhs, data = self.recv_pdu()
                op = bhs[0] & 0x3F
                if op == LOGIN_REQ:
                    self.login(bhs, data)
                elif op == TEXT_REQ:
                    self.text(bhs, data)
                elif op == SCSI_CMD:
                    self.scsi(bhs, data)
                elif op == LOGOUT_REQ:
                    self.logout(bhs)
                elif op == NOP_OUT:
                    self.send(self.header(NOP_IN, F_BIT, bhs[16:20], len(data)), data)
        except (EOFError, OSError):
            pass
        finally:
            self.sock.close()


def main():
    args = sys.argv[1:]
    lifetime = 30.0
    if "--lifetime" in args:
        i = args.index("--lifetime")
        lifetime = float(args[i + 1])
        del args[i:i + 2]
    if len(args) != 1 or args[0] not in MODES:
        sys.stderr.write("usage: scripted_target.py MODE [--lifetime SEC]; modes: %s\n"
                         % " ".join(sorted(MODES)))
        return 2
    mode = args[0]
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(8)
    # Whatever happens, the process goes away by itself.
    timer = threading.Timer(lifetime, lambda: os._exit(0))
    timer.daemon = True
    timer.start()
    print("PORT %d" % server.getsockname()[1], flush=True)
    while True:
        sock, _ = server.accept()
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        threading.Thread(target=Connection(sock, mode).serve, daemon=True).start()


if __name__ == "__main__":
    sys.exit(main())
