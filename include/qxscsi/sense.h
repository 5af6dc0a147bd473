// Sense data: a non-owning view over fixed-format SCSI sense data.
#pragma once

#include "qxscsi/export.h"

// Reads fixed-format sense data (response codes 70h/71h) field by field. The view never owns
// the bytes; a copy views the same bytes. Accessors never read outside the view: a byte the
// view does not hold reads as 0.
class QXSCSI_EXPORT QXScsiSenseData {
 public:
  // Views length bytes at buffer (not copied, not owned; copyFrom needs writable bytes).
  QXScsiSenseData(const unsigned char* buffer, unsigned long length);
  // Forgets the bytes; does not release them.
  ~QXScsiSenseData();

  // False only for a view with a buffer and length 0.
  bool valid() const;
  // The viewed bytes (still not owned) and the length modulo 256.
  void getBuffer(unsigned char*& buffer, unsigned char& length) const;
  // Copies as many of source's bytes as both views hold into this view's bytes. False when
  // either view is invalid; truncated when this view is shorter than the source.
  bool copyFrom(const QXScsiSenseData& source, bool& truncated, bool& nothingCopied);

  // Byte 0 bit 7 (VALID).
  bool infoValid() const;
  // Byte 0 bits 6-0.
  unsigned char responseCode() const;
  // Byte 1.
  unsigned char segmentNumber() const;
  // Byte 2 bit 7 (FILEMARK).
  bool fileMark() const;
  // Byte 2 bit 6 (EOM).
  bool endOfMedia() const;
  // Byte 2 bit 5 (ILI).
  bool illegalLength() const;
  // Byte 2 bits 3-0.
  unsigned char senseKey() const;
  // Bytes 3-6, most significant first.
  unsigned long information() const;
  // Byte 7.
  unsigned char additionalLength() const;
  // Bytes 8-11, most significant first.
  unsigned long commandSpecific() const;
  // Byte 12 (ASC).
  unsigned char additionalSenseCode() const;
  // Byte 13 (ASCQ).
  unsigned char additionalSenseQualifier() const;
  // Byte 14.
  unsigned char fieldReplaceableUnit() const;
  // Byte 15 bit 7 (SKSV).
  bool isSenseKeySpecificValid() const;
  // Byte 15 bits 6-0, bytes 16 and 17 (23 bits).
  unsigned long senseKeySpecific() const;
  // Copies min(additionalLength(), max) bytes from byte 18 on into the caller's out, fewer when
  // the view ends earlier; returns the number copied.
  unsigned long additionalSense(char* out, unsigned long max) const;

 private:
  unsigned char byteAt(unsigned long index) const;

  unsigned char* viewBuffer;
  unsigned long viewLength;
};
