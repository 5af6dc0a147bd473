// World-wide names and port identifiers, encoded by the pattern library's big-endian encoders.
#include "qxscsi/identifiers.h"

#include <cstring>

#include "qxpattern/encoders.h"

static_assert(sizeof(QXScsiWWN) == 8, "a world-wide name is its 8 bytes");
static_assert(sizeof(QXScsiPortID) == 3, "a port identifier is its 3 bytes");

QXScsiWWN::QXScsiWWN(unsigned char* bytes) : bytes_{} { *this = bytes; }

QXScsiWWN::QXScsiWWN(unsigned long long value) : bytes_{} { *this = value; }

bool QXScsiWWN::format(unsigned char* out) const {
  if (out == nullptr) return false;
  std::memcpy(out, bytes_, sizeof bytes_);
  return true;
}

QXScsiWWN& QXScsiWWN::operator=(unsigned char* bytes) {
  if (bytes != nullptr) std::memcpy(bytes_, bytes, sizeof bytes_);
  return *this;
}

QXScsiWWN& QXScsiWWN::operator=(unsigned long long value) {
  QXQuadWord(value).toBigEndian(bytes_);
  return *this;
}

QXScsiPortID::QXScsiPortID(unsigned char* bytes) : bytes_{} { *this = bytes; }

QXScsiPortID::QXScsiPortID(unsigned long value) : bytes_{} { *this = value; }

bool QXScsiPortID::format(unsigned char* out) const {
  if (out == nullptr) return false;
  std::memcpy(out, bytes_, sizeof bytes_);
  return true;
}

QXScsiPortID& QXScsiPortID::operator=(unsigned char* bytes) {
  if (bytes != nullptr) std::memcpy(bytes_, bytes, sizeof bytes_);
  return *this;
}

QXScsiPortID& QXScsiPortID::operator=(unsigned long value) {
  QXTriByte(value).toBigEndian(bytes_);
  return *this;
}
