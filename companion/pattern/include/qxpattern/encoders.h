// QXQuadWord and QXTriByte: integers written as big-endian bytes (wire order).
#pragma once

#include "qxpattern/export.h"

// A 64-bit value, written as 8 bytes, most significant first.
class QXPATTERN_EXPORT QXQuadWord {
 public:
  explicit QXQuadWord(unsigned long long value) : value_(value) {}
  unsigned long long value() const { return value_; }
  // Writes exactly 8 bytes to `out`, which the caller owns. False, writing nothing, for null.
  bool toBigEndian(unsigned char* out) const;

 private:
  unsigned long long value_;
};

// A 24-bit value, written as 3 bytes, most significant first. A value of 2^24 or more
// keeps only its low 24 bits (the value modulo 2^24), as a 3-byte field carries it.
class QXPATTERN_EXPORT QXTriByte {
 public:
  static constexpr unsigned long max_c = 0xFFFFFFUL;
  explicit QXTriByte(unsigned long value) : value_(value & max_c) {}
  // The stored 24-bit value.
  unsigned long value() const { return value_; }
  // Writes exactly 3 bytes to `out`, which the caller owns. False, writing nothing, for null.
  bool toBigEndian(unsigned char* out) const;

 private:
  unsigned long value_;
};
