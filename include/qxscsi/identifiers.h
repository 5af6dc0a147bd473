// QXScsiWWN and QXScsiPortID: port identities stored in wire order.
#pragma once

#include "qxscsi/export.h"

// An 8-byte world-wide name, most significant byte first. The bytes are the whole object.
class QXSCSI_EXPORT QXScsiWWN {
 public:
  // Copies the 8 bytes at `bytes` (caller keeps them); null gives eight zero bytes.
  QXScsiWWN(unsigned char* bytes);
  // The 8 bytes of `value`, most significant first.
  QXScsiWWN(unsigned long long value);

  // Copies the 8 bytes into `out` (caller's, 8 bytes). False, writing nothing, for null.
  bool format(unsigned char* out) const;

  // Copies the 8 bytes at `bytes` (caller keeps them); null leaves the name unchanged.
  QXScsiWWN& operator=(unsigned char* bytes);
  // As the constructor from a value.
  QXScsiWWN& operator=(unsigned long long value);

 private:
  unsigned char bytes_[8];
};

// A 3-byte port identifier, most significant byte first. The bytes are the whole object.
class QXSCSI_EXPORT QXScsiPortID {
 public:
  // Copies the 3 bytes at `bytes` (caller keeps them); null gives three zero bytes.
  QXScsiPortID(unsigned char* bytes);
  // The low 24 bits of `value`, most significant byte first.
  QXScsiPortID(unsigned long value);

  // Copies the 3 bytes into `out` (caller's, 3 bytes). False, writing nothing, for null.
  bool format(unsigned char* out) const;

  // Copies the 3 bytes at `bytes` (caller keeps them); null leaves the identifier unchanged.
  QXScsiPortID& operator=(unsigned char* bytes);
  // As the constructor from a value.
  QXScsiPortID& operator=(unsigned long value);

 private:
  unsigned char bytes_[3];
};
