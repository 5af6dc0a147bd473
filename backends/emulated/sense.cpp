// Fixed-format sense records of the emulated devices.
#include "sense.h"

#include "wire/bytes.h"

namespace qxscsi::backends::emulated {

using namespace wire;

Sense::Sense() : Sense(noSense_c, 0, 0) {}

Sense::Sense(unsigned char key, unsigned char asc, unsigned char ascq) : bytes_{} {
  bytes_[0] = 0x70;
  bytes_[2] = key & 0x0F;
  bytes_[7] = length_c - 8;
  bytes_[12] = asc;
  bytes_[13] = ascq;
}

Sense& Sense::information(uint32_t value) {
  bytes_[0] |= 0x80;
  putBe32(&bytes_[3], value);
  return *this;
}

Sense& Sense::fileMark() {
  bytes_[2] |= 0x80;
  return *this;
}

Sense& Sense::endOfMedium() {
  bytes_[2] |= 0x40;
  return *this;
}

Sense& Sense::incorrectLength() {
  bytes_[2] |= 0x20;
  return *this;
}

Sense& Sense::fieldPointer(bool inCdb, unsigned byteIndex, int bit) {
  bytes_[15] = 0x80 | (inCdb ? 0x40 : 0x00);
  if (bit >= 0 && bit <= 7) bytes_[15] |= 0x08 | static_cast<unsigned char>(bit);
  putBe16(&bytes_[16], byteIndex);
  return *this;
}

}  // namespace qxscsi::backends::emulated
