// Big-endian fields of CDBs, parameter lists and returned data (header-only, internal to the project).
#pragma once

#include <cstdint>

namespace qxscsi::wire {

inline uint32_t getBe16(const unsigned char* p) { return (uint32_t(p[0]) << 8) | p[1]; }
inline uint32_t getBe24(const unsigned char* p) { return (uint32_t(p[0]) << 16) | getBe16(p + 1); }
inline uint32_t getBe32(const unsigned char* p) { return (uint32_t(p[0]) << 24) | getBe24(p + 1); }
inline uint64_t getBe64(const unsigned char* p) { return (uint64_t(getBe32(p)) << 32) | getBe32(p + 4); }

inline void putBe16(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}
inline void putBe24(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 16);
  putBe16(p + 1, v);
}
inline void putBe32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  putBe24(p + 1, v);
}
inline void putBe64(unsigned char* p, uint64_t v) {
  putBe32(p, static_cast<uint32_t>(v >> 32));
  putBe32(p + 4, static_cast<uint32_t>(v));
}

}  // namespace qxscsi::wire
