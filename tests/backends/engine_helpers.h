// Small helpers for driving the emulated device engine from tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device.h"
#include "options.h"

namespace qxscsi::backends::emulated::testing {

using Bytes = std::vector<unsigned char>;

inline std::unique_ptr<Device> makeDevice(const std::string& name) {
  Options options;
  std::string error;
  EXPECT_TRUE(Options::parse(name, options, error)) << error;
  return Device::create(options);
}

// Runs `cdb` with a data-in buffer of `length` bytes filled with `fill`.
inline CommandResult in(Device& d, const Bytes& cdb, Bytes& buffer, unsigned long length, unsigned lun = 0,
                  unsigned char fill = 0xEE) {
  buffer.assign(length, fill);
  return d.execute(lun, Command{cdb.data(), static_cast<unsigned>(cdb.size()), 0, buffer.data(), length});
}

inline CommandResult out(Device& d, const Bytes& cdb, Bytes& data, unsigned lun = 0) {
  return d.execute(lun, Command{cdb.data(), static_cast<unsigned>(cdb.size()), 1, data.data(), data.size()});
}

inline CommandResult none(Device& d, const Bytes& cdb, unsigned lun = 0) {
  return d.execute(lun, Command{cdb.data(), static_cast<unsigned>(cdb.size()), 2, nullptr, 0});
}

// Fixed-format sense of 18 bytes with the given key, ASC and ASCQ and nothing else.
inline Bytes sense(unsigned char key, unsigned char asc, unsigned char ascq) {
  Bytes s(18, 0);
  s[0] = 0x70;
  s[2] = key;
  s[7] = 10;
  s[12] = asc;
  s[13] = ascq;
  return s;
}

inline Bytes be32(uint32_t v) {
  return {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
          static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
}

}  // namespace qxscsi::backends::emulated::testing

namespace qxscsi::backends::emulated::testing {

// A 32-byte identification CSCD descriptor (E4h) naming `designator` (a whole designation
// descriptor: 4-byte header and designator) on a disk of `block`-byte blocks.
inline Bytes identificationDescriptor(const unsigned char* designator, uint32_t block) {
  Bytes d(32, 0);
  d[0] = 0xE4;
  for (unsigned i = 0; i < 4u + designator[3] && i < 24; ++i) d[4 + i] = designator[i];
  d[4] &= 0x0F;
  d[5] &= 0x3F;
  d[29] = static_cast<unsigned char>(block >> 16);
  d[30] = static_cast<unsigned char>(block >> 8);
  d[31] = static_cast<unsigned char>(block);
  return d;
}

// A block-to-block segment descriptor (02h) of 28 bytes.
inline Bytes blockSegment(unsigned source, unsigned destination, unsigned blocks, uint64_t from,
                          uint64_t to) {
  Bytes s(28, 0);
  s[0] = 0x02;
  s[3] = 0x18;
  s[5] = static_cast<unsigned char>(source);
  s[7] = static_cast<unsigned char>(destination);
  s[10] = static_cast<unsigned char>(blocks >> 8);
  s[11] = static_cast<unsigned char>(blocks);
  for (int i = 0; i < 8; ++i) {
    s[12 + i] = static_cast<unsigned char>(from >> (56 - 8 * i));
    s[20 + i] = static_cast<unsigned char>(to >> (56 - 8 * i));
  }
  return s;
}

// A LID1 EXTENDED COPY parameter list.
inline Bytes copyParameterList(unsigned char listId, unsigned char usage, const std::vector<Bytes>& cscds,
                               const std::vector<Bytes>& segments) {
  Bytes p(16, 0);
  p[0] = listId;
  p[1] = static_cast<unsigned char>(usage << 3);
  size_t cscdBytes = 0, segmentBytes = 0;
  for (const Bytes& c : cscds) cscdBytes += c.size();
  for (const Bytes& s : segments) segmentBytes += s.size();
  p[2] = static_cast<unsigned char>(cscdBytes >> 8);
  p[3] = static_cast<unsigned char>(cscdBytes);
  p[10] = static_cast<unsigned char>(segmentBytes >> 8);
  p[11] = static_cast<unsigned char>(segmentBytes);
  for (const Bytes& c : cscds) p.insert(p.end(), c.begin(), c.end());
  for (const Bytes& s : segments) p.insert(p.end(), s.begin(), s.end());
  return p;
}

// The 16-byte EXTENDED COPY CDB for a parameter list of `length` bytes.
inline Bytes extendedCopyCdb(uint32_t length) {
  Bytes c(16, 0);
  c[0] = 0x83;
  c[10] = static_cast<unsigned char>(length >> 24);
  c[11] = static_cast<unsigned char>(length >> 16);
  c[12] = static_cast<unsigned char>(length >> 8);
  c[13] = static_cast<unsigned char>(length);
  return c;
}

}  // namespace qxscsi::backends::emulated::testing
