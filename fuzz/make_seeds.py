#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into corpus/<target>/ (run from anywhere).

Each seed follows the input layout that its target reads; the names say what it covers."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
SEEDS = {}


def seed(target, name, data):
    SEEDS.setdefault(target, {})[name] = bytes(data)


def u16(v):
    return struct.pack(">H", v)


def u32(v):
    return struct.pack(">I", v)


# sense_data: mode, view (shape, [u16 length], bytes), additionalSense max, then per mode.
FIXED = bytes.fromhex("700005000001020A00000000240000C00002")
seed("sense_data", "fixed_format_18", [0] + [0x00] + list(u16(18)) + list(FIXED) + list(u16(100)))
seed("sense_data", "short_view_5", [0, 0x00] + list(u16(5)) + list(FIXED[:5]) + list(u16(4)))
seed("sense_data", "additional_past_view", [0, 0x00] + list(u16(20)) + [0x70, 0, 5, 0, 0, 0, 0, 0xF0] + [0] * 12 + list(u16(300)))
seed("sense_data", "no_buffer_length_9", [0, 0x0F] + list(u16(9)) + list(u16(8)))
seed("sense_data", "copy_255_into_18", [1, 0x00] + list(u16(18)) + [0] * 18 + list(u16(0)) + [0x08 | (5 << 4)] + list(FIXED) + list(u16(0)) + list(u16(0)))
seed("sense_data", "copy_18_into_255", [1, 0x08 | (5 << 4)] + list(u16(0)) + [0x00] + list(u16(18)) + list(FIXED) + list(u16(0)) + list(u16(0)))
seed("sense_data", "copy_from_256", [1, 0x00] + list(u16(40)) + [0] * 40 + list(u16(0)) + [0x08 | (6 << 4)] + [0x71] * 4 + list(u16(0)))
seed("sense_data", "copy_into_empty_buffer", [1, 0x08] + list(u16(0)) + [0x00] + list(u16(18)) + list(FIXED) + list(u16(0)))
seed("sense_data", "copy_overlapping", [2, 0x00] + list(u16(30)) + list(FIXED) + [1] * 12 + list(u16(0)) + list(u16(4)) + list(u16(20)) + list(u16(0)))
seed("sense_data", "record_keeps_255_of_300", [3, 0x08 | (8 << 4)] + list(FIXED) + [0x5A] * 282 + list(u16(0)) + list(u16(255)))

# descriptor_list: shape, [header], size mode, claimed size, operations, u16 length, bytes, choices.
TWO = [1, 3, 0, 2, 0xAA, 0xBB, 2, 0, 0, 1, ord("x")]
seed("descriptor_list", "designation_two", [0x00, 0] + list(u32(0)) + [7] + list(u16(len(TWO))) + TWO + [2, 1, 0, 5, 1, 3, 0, 0, 1])
seed("descriptor_list", "designation_runs_past_buffer", [0x00, 0] + list(u32(0)) + [7] + list(u16(5)) + [1, 3, 0, 0x20, 0xAA] + [1, 1, 0x20, 1])
seed("descriptor_list", "designation_header_cut", [0x00, 0] + list(u32(0)) + [7] + list(u16(3)) + [1, 3, 0] + [0, 0])
seed("descriptor_list", "designation_size_claims_more", [0x00, 2] + list(u32(0x12345678)) + [7] + list(u16(len(TWO))) + TWO + [3, 0, 1, 0])
seed("descriptor_list", "designation_size_zero", [0x00, 3] + list(u32(0)) + [7] + list(u16(len(TWO))) + TWO + [1, 0, 0])
VPD = [0x00, 0x83, 0x00, 0x0C, 0x01, 0x03, 0x00, 0x08, 0x60, 0x01, 0x40, 0x51, 0x23, 0x45, 0x67, 0x89]
seed("descriptor_list", "designation_vpd_page", [0x02, 0] + list(u32(0)) + [7] + list(u16(len(VPD))) + VPD + [1, 0, 4, 0])
seed("descriptor_list", "designation_vpd_page_cut", [0x02, 0] + list(u32(0)) + [7] + list(u16(9)) + VPD[:9] + [1, 0, 0])
seed("descriptor_list", "long_header_longer_than_data", [0x01, 8, 0] + list(u32(0)) + [7] + list(u16(3)) + [9, 9, 9] + [1, 0, 0, 0])
seed("descriptor_list", "long_header_cut_no_pages", [0x03, 8, 0] + list(u32(0)) + [7] + list(u16(5)) + [9] * 5 + [0, 0])
LONG = [0xA, 0xB, 0, 2, 0xC1, 0xC2, 0xD, 0xE, 0, 1, 0xD1, 0, 0, 0, 0]
seed("descriptor_list", "long_header_created_pages", [0x05, 4, 0] + list(u32(0)) + [7] + list(u16(len(LONG))) + LONG + [2, 1, 0, 0, 3, 0, 0, 1, 1])
seed("descriptor_list", "long_header_none_when_cut", [0x09, 6, 0] + list(u32(0)) + [7] + list(u16(8)) + [0, 0, 0, 0, 0, 1, 0xFF, 0xFF] + [1, 0])

# report_luns: commands - 1, then per command: capacity choice (+ its bytes), null-count byte, and the
# device's answer: control (bit 3: fill the buffer; bit 4: sense; bits 0-2 zero: not carried out),
# error choice, [u16 data length], data, status choice, [sense length choice, sense bytes].
def luns_header(length, entries):
    data = list(u32(length))+[0] * 4
    for lun in entries:
        data += [0, lun, 0, 0, 0, 0, 0, 0]
    return data

TWO_LUNS = luns_header(16, [0, 1])
# capacity 4 (choice 2: b % 17 with b = 4 + 17 * k and b % 8 == 2 -> b = 106)
seed("report_luns", "capacity_4_two_luns", [0, 106, 0, 0x09, 0] + TWO_LUNS[:36] + [0])
seed("report_luns", "capacity_0_header_only", [0, 0, 0, 0x09, 0] + list(u32(40)) + [0])
seed("report_luns", "capacity_2_of_5", [0, 2, 0, 0x01, 0] + list(u16(60)) + luns_header(40, [3, 4, 5, 6, 7]) + [0])
seed("report_luns", "length_not_multiple_of_8", [0, 3] + list(u16(8)) + [0, 0x01, 0] + list(u16(30)) + luns_header(20, [9, 8, 7]) + [0])
seed("report_luns", "claims_more_than_returned", [0, 3] + list(u16(8)) + [0, 0x01, 0] + list(u16(12)) + list(u32(0xFFFFFFF8)) + [0, 0, 0, 0, 0, 5, 0, 0] + [0])
seed("report_luns", "check_condition_sense_18", [0, 106, 0, 0x11, 0] + list(u16(0)) + [3, 3] + list(FIXED))
seed("report_luns", "check_condition_no_sense", [0, 106, 0, 0x01, 0] + list(u16(0)) + [3])
seed("report_luns", "busy_conflict_full", [2, 106, 0, 0x01, 0] + list(u16(0)) + [4, 106, 0, 0x01, 0] + list(u16(0)) + [5, 106, 0, 0x01, 0] + list(u16(0)) + [6])
seed("report_luns", "sense_255_and_300", [1, 106, 0, 0x11, 0] + list(u16(0)) + [3, 8] + [0x70] * 255 + [106, 0, 0x11, 0] + list(u16(0)) + [3, 10] + [0x72] * 300)
seed("report_luns", "timed_out_not_executed", [0, 106, 0, 0x00, 9])
seed("report_luns", "timed_out_reported_in_record", [0, 106, 0, 0x41, 9] + list(u16(0)) + [0])
seed("report_luns", "capacity_refused", [1, 4, 0, 0, 5, 0, 0])
seed("report_luns", "null_list_and_null_count", [1, 0xF0, 0, 0x09, 0] + list(u32(16)) + [0, 106, 0xFF])

# cli_hex: hex text as users type it, good and bad.
for name, text in {"spaced": "12 00 00 00 24 00", "packed": "1200000024", "prefixed": "0x12,0x00,0x24",
                   "colons": "12:00:00:00:24:00", "lone_digits": "0 0 5", "odd_group": "123",
                   "bad_character": "12 zz", "prefix_only": "0x", "mixed_case": "aB Cd-EF\t0a\r\n",
                   "long_line": " ".join("%02x" % (i & 0xFF) for i in range(300))}.items():
    seed("cli_hex", name, text.encode())

# cli_sense: selector (even: raw bytes, odd: hex text), then the sense data.
seed("cli_sense", "fixed_18", [0] + list(FIXED))
seed("cli_sense", "fixed_short_5", [0] + list(FIXED[:5]))
seed("cli_sense", "fixed_claims_255", [0, 0x70, 0, 0x05, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0x24])
seed("cli_sense", "all_zero", [0] + [0] * 18)
seed("cli_sense", "empty", [0])
seed("cli_sense", "descriptor_information", [0, 0x72, 0x03, 0x11, 0x00, 0, 0, 0, 12, 0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0, 0x12, 0x34, 0x56])
seed("cli_sense", "descriptor_runs_past", [0, 0x72, 0x05, 0x24, 0x00, 0, 0, 0, 20, 0x02, 0x06, 0, 0, 0xC0, 0, 0x12, 0, 0x01, 0x30])
seed("cli_sense", "descriptor_stream_flags", [0, 0x73, 0x08, 0x00, 0x05, 0, 0, 0, 4, 0x04, 0x02, 0, 0xE0])
seed("cli_sense", "sks_progress", [0, 0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x04, 0x04, 0, 0x80, 0x80, 0x00])
seed("cli_sense", "hex_text", b"\x01" + b"70 00 05 00 00 00 00 0a 00 00 00 00 24 00 00 c0 00 02")
seed("cli_sense", "hex_text_descriptor", b"\x01" + b"72:05:24:00:00:00:00:08:02:06:00:00:c0:00:01:00")

# cli_answer: selector (even: standard INQUIRY data; odd: a VPD page, 1 mod 4 forcing the code of
# a decoded page into byte 1, chosen by selector >> 2), then the answer's bytes.
INQUIRY = bytes([0, 0, 5, 2, 31, 0, 0, 0]) + b"QXSCSI  EMULATED DISK   0100"
seed("cli_answer", "inquiry_36", b"\x00" + INQUIRY)
seed("cli_answer", "inquiry_short_18", b"\x00" + INQUIRY[:18])
seed("cli_answer", "inquiry_bad_text", b"\x00" + INQUIRY[:8] + b"\xff\x01\x1b[2J\xc3" + b"\x00" * 23)
seed("cli_answer", "vpd_00", [3, 0, 0, 0, 3, 0, 0x80, 0x83])
seed("cli_answer", "vpd_80_padded", b"\x07" + bytes([0, 0x80, 0, 6]) + b"SN\x00\x00  ")
seed("cli_answer", "vpd_83", b"\x0b" + bytes([0, 0x83, 0, 32, 0x01, 0x03, 0, 8, 0x30, 1, 2, 3, 4, 5, 6, 7,
                                                0x03, 0x08, 0, 16]) + b"naa.3222" + b"\x00" * 8)
seed("cli_answer", "vpd_83_runs_past", [11, 0, 0x83, 0, 12, 0x02, 0x01, 0, 200, 0x41, 0x42])
seed("cli_answer", "vpd_b0", [3, 0, 0xB0, 0, 4, 1, 2, 3, 4])
seed("cli_answer", "empty_page", [1])
STANDARD_96 = INQUIRY + b"20210520" + bytes(14) + bytes.fromhex("00c005c006002100") + bytes(30)
seed("cli_answer", "inquiry_96_descriptors", b"\x00" + STANDARD_96[:4] + bytes([91]) + STANDARD_96[5:])
seed("cli_answer", "vpd_86", [3, 0, 0x86, 0, 0x3C, 0xE8, 0x3F, 0x0F, 0x31, 0xFB] + [0xFF] * 55)
seed("cli_answer", "vpd_89_cut_in_identify", [3, 0, 0x89, 0x02, 0x38] + [0x41] * 32 + [0x34] + [0] * 19
     + [0xEC, 0, 0, 0] + [0x20, 0x58] * 50)
seed("cli_answer", "vpd_b0_whole", [3, 0, 0xB0, 0, 0x3C] + [0xFF] * 60)
seed("cli_answer", "vpd_b1_forced", [1 | (6 << 2), 0, 0, 0, 0x3C, 0x1C, 0x20, 0x07, 0xF5, 0x3F] + [0] * 54)
seed("cli_answer", "vpd_b2_descriptor", [3, 0, 0xB2, 0, 0x0C, 0x08, 0x9D, 0x0A, 0x40, 0x01, 0x03, 0, 4, 1, 2, 3, 4])
seed("cli_answer", "vpd_b3", [3, 0, 0xB3, 0, 0x0C, 0, 0, 0, 0, 0x11, 0x22, 0x33, 0x44, 0, 0, 0x10, 0])


def main():
    for target, seeds in SEEDS.items():
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
