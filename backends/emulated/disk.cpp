// Block commands of the emulated direct-access device.
#include "disk.h"

#include <cstring>

#include "wire/bytes.h"

namespace qxscsi::backends::emulated {

using namespace wire;

Disk::Disk(const Options& options)
    : Device(0x00, "EMULATED DISK", options),
      capacity_(options.number("capacity")),
      block_(options.number("block")),
      units_(lunCount()) {
  for (Unit& u : units_) u.blocks.assign(capacity_ * block_, 0);
}

bool Disk::shapeOf(const unsigned char* cdb, Shape& s) const {
  switch (cdb[0]) {
    case 0x25:  // READ CAPACITY(10)
      s = {10, QXScsi::dataIn_c, 8};
      return true;
    case 0x28:  // READ(10)
      s = {10, QXScsi::dataIn_c, getBe16(cdb + 7) * block_};
      return true;
    case 0x2A:  // WRITE(10)
      s = {10, QXScsi::dataOut_c, getBe16(cdb + 7) * block_};
      return true;
    case 0x83:  // EXTENDED COPY
      s = {16, QXScsi::dataOut_c, getBe32(cdb + 10)};
      return true;
    case 0x84:  // RECEIVE COPY RESULTS
      s = {16, QXScsi::dataIn_c, getBe32(cdb + 10)};
      return true;
    default:
      return Device::shapeOf(cdb, s);
  }
}

void Disk::run(Exchange& x) {
  switch (x.op()) {
    case 0x25:
      return readCapacity(x);
    case 0x28:
      return readWrite(x, false);
    case 0x2A:
      return readWrite(x, true);
    case 0x83:
      return extendedCopy(x);
    case 0x84:
      return receiveCopyResults(x);
    default:
      return Device::run(x);
  }
}

void Disk::readCapacity(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  if (!(cdb[8] & 0x01) && getBe32(cdb + 2) != 0) return x.invalidField(2);
  unsigned char d[8];
  putBe32(d, static_cast<uint32_t>(capacity_ - 1));
  putBe32(d + 4, static_cast<uint32_t>(block_));
  x.send(d, sizeof d);
}

void Disk::readWrite(Exchange& x, bool write) {
  const unsigned char* cdb = x.cdb();
  if (cdb[1] & 0xE0) return x.invalidField(1, 7);  // protection information is not offered
  uint64_t lba = getBe32(cdb + 2);
  uint64_t count = getBe16(cdb + 7);
  if (lba >= capacity_ || lba + count > capacity_) return x.fail(Sense(illegalRequest_c, 0x21, 0x00));
  if (count == 0) return;
  unsigned char* medium = units_[x.lun()].blocks.data() + lba * block_;
  unsigned long n = static_cast<unsigned long>(count * block_);
  if (write) {
    std::memcpy(medium, x.out(), n);
    x.outcome().transferred = n;
  } else {
    x.send(medium, n);
  }
}

}  // namespace qxscsi::backends::emulated
