// CDBs that more than one part of the project builds (header-only, internal to the project).
#pragma once

#include <cstdint>

#include "wire/bytes.h"

namespace qxscsi::wire {

constexpr unsigned char testUnitReadyCode = 0x00;
constexpr unsigned char inquiryCode = 0x12;
constexpr unsigned char reportLunsCode = 0xA0;

// REPORT LUNS (12 bytes): select report 0, `allocationLength` in bytes 6-9.
inline void reportLunsCdb(unsigned char (&cdb)[12], std::uint32_t allocationLength) {
  for (unsigned char& b : cdb) b = 0;
  cdb[0] = reportLunsCode;
  putBe32(cdb + 6, allocationLength);
}

// INQUIRY (6 bytes): standard data, or with `vpd` the page `page`; `allocationLength` in bytes 3-4.
inline void inquiryCdb(unsigned char (&cdb)[6], bool vpd, unsigned char page, std::uint16_t allocationLength) {
  cdb[0] = inquiryCode;
  cdb[1] = vpd ? 0x01 : 0x00;
  cdb[2] = vpd ? page : 0;
  putBe16(cdb + 3, allocationLength);
  cdb[5] = 0;
}

}  // namespace qxscsi::wire
