// INQUIRY, TEST UNIT READY and REQUEST SENSE: 6-byte CDBs, timeout 10 seconds.
//
// Bad input: a null buffer with a non-zero allocation length is refused (null, nothing
// sent), since the device would be asked to write into no memory. A null buffer with
// allocation length 0 is a valid request for no data and is sent as dataIn_c.
#include "qxscsi/commands.h"
#include "qxscsi/target.h"
#include "wire/cdb.h"

namespace {

constexpr unsigned long timeoutSeconds = 10;

constexpr unsigned char requestSenseCode = 0x03;

}  // namespace

QXScsiCmd* QXScsiTarget::cmdInquiry(unsigned char* buffer, unsigned char allocationLength) {
  if (buffer == nullptr && allocationLength != 0) return nullptr;
  if (!valid()) return nullptr;
  // EVPD 0 and page code 0: the standard inquiry data.
  unsigned char cdb[6];
  qxscsi::wire::inquiryCdb(cdb, false, 0, allocationLength);
  return executeStandardCommand(cdb, sizeof cdb, buffer, allocationLength, QXScsi::dataIn_c, timeoutSeconds);
}

QXScsiCmd* QXScsiTarget::cmdTestUnitReady() {
  if (!valid()) return nullptr;
  const unsigned char cdb[6] = {qxscsi::wire::testUnitReadyCode, 0, 0, 0, 0, 0};
  return executeStandardCommand(cdb, sizeof cdb, nullptr, 0, QXScsi::noData_c, timeoutSeconds);
}

QXScsiCmd* QXScsiTarget::cmdRequestSense(unsigned char* buffer, unsigned char allocationLength) {
  if (buffer == nullptr && allocationLength != 0) return nullptr;
  if (!valid()) return nullptr;
  // DESC 0: fixed-format sense data, readable with a QXScsiSenseData view over buffer.
  const unsigned char cdb[6] = {requestSenseCode, 0, 0, 0, allocationLength, 0};
  return executeStandardCommand(cdb, sizeof cdb, buffer, allocationLength, QXScsi::dataIn_c, timeoutSeconds);
}
