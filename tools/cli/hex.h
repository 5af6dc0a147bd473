// Hex text to bytes and bytes to a hex dump, for the command-line tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace qxscsi::cli {

// Parses hex bytes such as "12 00 00 00 24 00", "1200000024", "0x12,0x00" or "12:00".
// Pairs of digits form bytes; blanks, commas, colons, dashes and an optional "0x" per group separate them.
// Appends to `out`; returns false with a one-line reason in `error` on any other character or an odd
// digit count in a group.
bool parseHex(std::string_view text, std::vector<uint8_t>& out, std::string& error);

// A page or code number as sg3_utils' tools take it: decimal, "0xNN" or "NNh"; -1 when `text` is
// none of those or the number exceeds `max`.
int parsePageNumber(std::string_view text, int max);

// Writes a classic dump: offset, 16 bytes in hex, then printable characters.
void hexDump(std::ostream& os, const uint8_t* data, size_t length);

// Two lower-case hex digits per byte, no separators.
std::string toHex(const uint8_t* data, size_t length);

// A string from a device (or any untrusted source) made safe to print and to put in JSON: valid
// UTF-8 sequences other than control characters stay; control characters, DEL, a backslash and
// every byte that is not part of a valid UTF-8 sequence become "\xNN".
std::string untrustedText(std::string_view bytes);
std::string untrustedText(const uint8_t* data, size_t length);

}  // namespace qxscsi::cli
