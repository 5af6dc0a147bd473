// CRC-32, one table of 256 entries.
#include "crc32.h"

#include <array>

namespace qxscsi::backends::emulated {

namespace {

std::array<uint32_t, 256> makeTable() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[i] = c;
  }
  return t;
}

}  // namespace

uint32_t crc32(const unsigned char* bytes, size_t n, uint32_t crc) {
  static const std::array<uint32_t, 256> table = makeTable();
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

}  // namespace qxscsi::backends::emulated
