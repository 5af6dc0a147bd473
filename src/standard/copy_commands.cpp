// EXTENDED COPY (timeout 300 seconds) and RECEIVE COPY RESULTS (timeout 10 seconds): 16-byte
// CDBs with a 32-bit length field; the parameter list and the results are the caller's.
//
// Bad input: a length above 4,294,967,295 does not fit the CDB's length field and is
// refused (null, nothing sent) rather than cut, which would make the device transfer less
// than the record claims. A null buffer with a non-zero length is refused likewise.
#include "qxscsi/commands.h"
#include "qxscsi/target.h"
#include "wire/bytes.h"

namespace {

constexpr unsigned long copyTimeoutSeconds = 300;
constexpr unsigned long resultsTimeoutSeconds = 10;
constexpr unsigned char extendedCopyCode = 0x83;
constexpr unsigned char receiveCopyResultsCode = 0x84;
constexpr unsigned long long maxFieldLength = 0xFFFFFFFFull;

bool acceptable(const unsigned char* buffer, unsigned long length) {
  if (static_cast<unsigned long long>(length) > maxFieldLength) return false;
  return buffer != nullptr || length == 0;
}

// Bytes 10 to 13; acceptable() has kept the length within 32 bits.
void putLength(unsigned char* cdb, unsigned long length) {
  qxscsi::wire::putBe32(cdb + 10, static_cast<uint32_t>(length));
}

}  // namespace

// The four leading arguments are part of the signature only: neither the CDB nor the
// parameter list carries them.
QXScsiCmd* QXScsiTarget::cmdExtendedCopy(unsigned char, bool, bool, unsigned char,
                                         unsigned char* parameterList, unsigned long parameterListLength) {
  if (!acceptable(parameterList, parameterListLength)) return nullptr;
  if (!valid()) return nullptr;
  unsigned char cdb[16] = {extendedCopyCode};
  putLength(cdb, parameterListLength);
  return executeStandardCommand(cdb, sizeof cdb, parameterList, parameterListLength, QXScsi::dataOut_c,
                                copyTimeoutSeconds);
}

QXScsiCmd* QXScsiTarget::cmdReceiveCopyResults(unsigned char serviceAction, unsigned char listIdentifier,
                                               unsigned char* buffer, unsigned long allocationLength) {
  if (!acceptable(buffer, allocationLength)) return nullptr;
  if (!valid()) return nullptr;
  unsigned char cdb[16] = {receiveCopyResultsCode, static_cast<unsigned char>(serviceAction & 0x1F),
                           listIdentifier};
  putLength(cdb, allocationLength);
  return executeStandardCommand(cdb, sizeof cdb, buffer, allocationLength, QXScsi::dataIn_c,
                                resultsTimeoutSeconds);
}
