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
inline Outcome in(Device& d, const Bytes& cdb, Bytes& buffer, unsigned long length, unsigned lun = 0,
                  unsigned char fill = 0xEE) {
  buffer.assign(length, fill);
  return d.execute(lun, Command{cdb.data(), static_cast<unsigned>(cdb.size()), 0, buffer.data(), length});
}

inline Outcome out(Device& d, const Bytes& cdb, Bytes& data, unsigned lun = 0) {
  return d.execute(lun, Command{cdb.data(), static_cast<unsigned>(cdb.size()), 1, data.data(), data.size()});
}

inline Outcome none(Device& d, const Bytes& cdb, unsigned lun = 0) {
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
