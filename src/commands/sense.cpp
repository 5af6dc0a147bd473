// Fixed-format sense data view.
#include <algorithm>
#include <cstring>

#include "qxscsi/sense.h"
#include "wire/bytes.h"

namespace {
constexpr unsigned long kAdditionalSenseStart = 18;
}  // namespace

QXScsiSenseData::QXScsiSenseData(const unsigned char* buffer, unsigned long length)
    : viewBuffer(const_cast<unsigned char*>(buffer)), viewLength(length) {}

QXScsiSenseData::~QXScsiSenseData() {
  viewBuffer = nullptr;
  viewLength = 0;
}

bool QXScsiSenseData::valid() const { return viewBuffer == nullptr || viewLength != 0; }

void QXScsiSenseData::getBuffer(unsigned char*& buffer, unsigned char& length) const {
  buffer = viewBuffer;
  length = static_cast<unsigned char>(viewLength);
}

bool QXScsiSenseData::copyFrom(const QXScsiSenseData& source, bool& truncated, bool& nothingCopied) {
  truncated = false;
  nothingCopied = false;
  if (!source.valid() || !valid()) return false;
  // A missing buffer on either side holds no bytes: nothing is read or written through it.
  const unsigned long have = viewBuffer == nullptr ? 0 : viewLength;
  if (have == 0) {
    nothingCopied = true;
    return true;
  }
  // The full source length counts (not its 8-bit form), so long sources are cut, not wrapped.
  unsigned long n = source.viewBuffer == nullptr ? 0 : source.viewLength;
  if (have < n) {
    n = have;
    truncated = true;
  }
  if (n == 0) {
    nothingCopied = true;
    return true;
  }
  // memmove: the two views may overlap (a view copied onto itself keeps its bytes).
  std::memmove(viewBuffer, source.viewBuffer, n);
  return true;
}

unsigned char QXScsiSenseData::byteAt(unsigned long index) const {
  return viewBuffer != nullptr && index < viewLength ? viewBuffer[index] : 0;
}

bool QXScsiSenseData::infoValid() const { return (byteAt(0) & 0x80) != 0; }
unsigned char QXScsiSenseData::responseCode() const { return byteAt(0) & 0x7F; }
unsigned char QXScsiSenseData::segmentNumber() const { return byteAt(1); }
bool QXScsiSenseData::fileMark() const { return (byteAt(2) & 0x80) != 0; }
bool QXScsiSenseData::endOfMedia() const { return (byteAt(2) & 0x40) != 0; }
bool QXScsiSenseData::illegalLength() const { return (byteAt(2) & 0x20) != 0; }
unsigned char QXScsiSenseData::senseKey() const { return byteAt(2) & 0x0F; }

unsigned long QXScsiSenseData::information() const {
  const unsigned char field[4] = {byteAt(3), byteAt(4), byteAt(5), byteAt(6)};
  return qxscsi::wire::getBe32(field);
}

unsigned char QXScsiSenseData::additionalLength() const { return byteAt(7); }

unsigned long QXScsiSenseData::commandSpecific() const {
  const unsigned char field[4] = {byteAt(8), byteAt(9), byteAt(10), byteAt(11)};
  return qxscsi::wire::getBe32(field);
}

unsigned char QXScsiSenseData::additionalSenseCode() const { return byteAt(12); }
unsigned char QXScsiSenseData::additionalSenseQualifier() const { return byteAt(13); }
unsigned char QXScsiSenseData::fieldReplaceableUnit() const { return byteAt(14); }
bool QXScsiSenseData::isSenseKeySpecificValid() const { return (byteAt(15) & 0x80) != 0; }

unsigned long QXScsiSenseData::senseKeySpecific() const {
  const unsigned char field[3] = {static_cast<unsigned char>(byteAt(15) & 0x7F), byteAt(16), byteAt(17)};
  return qxscsi::wire::getBe24(field);
}

unsigned long QXScsiSenseData::additionalSense(char* out, unsigned long max) const {
  if (out == nullptr || viewBuffer == nullptr || viewLength <= kAdditionalSenseStart) return 0;
  const unsigned long n =
      std::min({static_cast<unsigned long>(additionalLength()), max, viewLength - kAdditionalSenseStart});
  if (n > 0) std::memcpy(out, viewBuffer + kAdditionalSenseStart, n);
  return n;
}
