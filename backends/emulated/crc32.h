// CRC-32 (the IEEE 802.3 polynomial, reflected, as zlib and PNG compute it) of state files.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qxscsi::backends::emulated {

// The CRC-32 of n bytes continuing from `crc` (0 to start): crc32("123456789") is CBF43926h.
uint32_t crc32(const unsigned char* bytes, size_t n, uint32_t crc = 0);

}  // namespace qxscsi::backends::emulated
