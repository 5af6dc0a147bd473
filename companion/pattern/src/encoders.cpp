// Big-endian encoders.
#include "qxpattern/encoders.h"

namespace {

void writeBigEndian(unsigned long long value, unsigned char* out, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<unsigned char>(value & 0xFFU);
    value >>= 8;
  }
}

}  // namespace

bool QXQuadWord::toBigEndian(unsigned char* out) const {
  if (out == nullptr) return false;
  writeBigEndian(value_, out, 8);
  return true;
}

bool QXTriByte::toBigEndian(unsigned char* out) const {
  if (out == nullptr) return false;
  writeBigEndian(value_, out, 3);
  return true;
}
