// The fuzzed target implementation.
#include "fuzzed_device.h"

#include <algorithm>
#include <memory>

#include "wire/status.h"

namespace qxscsi::fuzz {
namespace {

// Statuses a device may answer: GOOD, CHECK CONDITION, BUSY, RESERVATION CONFLICT, TASK SET FULL,
// ACA ACTIVE, TASK ABORTED, CONDITION MET; anything else comes from the input byte itself.
unsigned char statusFrom(uint8_t b) {
  using namespace wire;
  static const unsigned char known[] = {statusGood,           statusGood,      statusGood,
                                        statusCheckCondition, statusBusy,      statusReservationConflict,
                                        statusTaskSetFull,    statusAcaActive, statusTaskAborted,
                                        statusConditionMet};
  return b < 200 ? known[b % sizeof known] : b;
}

// Sense lengths that matter (none, cut short, one short of the fixed header, full, more than a
// record keeps) or any length below 512.
unsigned long senseLengthFrom(Input& in) {
  static const unsigned long known[] = {0, 1, 8, 17, 18, 19, 32, 252, 255, 256, 300};
  const uint8_t b = in.byte();
  return b < 128 ? known[b % (sizeof known / sizeof known[0])] : in.u16() % 512;
}

long errorFrom(uint8_t b) {
  static const long known[] = {0, 0, 0, 0, -7, -8, -11, -13, -15, -16, -18, -19, -20, -21, -22, 5};
  return known[b % (sizeof known / sizeof known[0])];
}

}  // namespace

bool FuzzedDevice::executeCommand(QXScsiCmd& cmd, const QXScsiDevice&) {
  last_ = LastCommand();
  const unsigned char* cdb = nullptr;
  unsigned char cdbLength = 0;
  cmd.getCDB(cdb, cdbLength);
  last_.cdb.assign(cdb, cdb + cdbLength);
  const unsigned char* data = nullptr;
  int direction = -1;
  cmd.getCmdData(data, last_.dataLength, direction);
  last_.direction = direction;
  last_.timeout = cmd.timeout();

  const uint8_t control = input_.byte();
  error_ = errorFrom(input_.byte());
  if ((control & 0x07) == 0) {
    // Not carried out: nothing written, only the reason.
    if (error_ == 0) error_ = QXScsiPlatform::ioError_c;
    return false;
  }
  last_.executed = true;

  // Data in: any number of the input's bytes, never more than the buffer holds.
  if (direction == QXScsi::dataIn_c && data != nullptr) {
    unsigned long wanted = (control & 0x08) != 0 ? last_.dataLength : input_.u16();
    std::vector<uint8_t> bytes = input_.bytes(std::min(wanted, last_.dataLength));
    std::copy(bytes.begin(), bytes.end(), const_cast<unsigned char*>(data));
    last_.written = std::move(bytes);
  }

  last_.status = statusFrom(input_.byte());
  setCmdScsiStatus(cmd, last_.status);
  if ((control & 0x10) != 0) {
    // Sense data of an odd length, from a buffer of exactly that length.
    const unsigned long length = senseLengthFrom(input_);
    std::unique_ptr<unsigned char[]> sense(new unsigned char[length == 0 ? 1 : length]);
    const std::vector<uint8_t> bytes = input_.bytes(length);
    std::fill(sense.get(), sense.get() + length, 0x70);
    std::copy(bytes.begin(), bytes.end(), sense.get());
    setCmdSenseData(cmd, length == 0 ? nullptr : sense.get(), length);
  }
  if ((control & 0x20) != 0) incompleteSense(cmd, true);
  if (error_ != 0) setCmdErrorCode(cmd, error_, (control & 0x40) != 0 ? "fuzzed failure" : nullptr);
  return true;
}

}  // namespace qxscsi::fuzz
