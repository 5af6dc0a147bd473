// Hostile emulated devices: wrong lengths, odd sense data, refusing statuses and timeouts.
#include "hostile.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "wire/bytes.h"
#include "wire/status.h"

namespace qxscsi::backends::emulated {

using namespace wire;
namespace {

struct Named {
  const char* text;
  Hostility mode;
};

const Named modes_c[] = {{"lengths", Hostility::lengths},
                         {"descriptors", Hostility::descriptors},
                         {"sense0", Hostility::sense0},
                         {"sense1", Hostility::sense1},
                         {"sense17", Hostility::sense17},
                         {"sense18", Hostility::sense18},
                         {"sense255", Hostility::sense255},
                         {"nosense", Hostility::noSense},
                         {"busy", Hostility::busy},
                         {"conflict", Hostility::conflict},
                         {"taskfull", Hostility::taskSetFull},
                         {"timeout", Hostility::timeout}};

// ABORTED COMMAND, LOGICAL UNIT COMMUNICATION FAILURE (08h/00h), fixed format, VALID, SKSV, the
// information field set and recognisable additional bytes; `n` bytes of it (at most 255).
std::vector<unsigned char> senseOf(unsigned long n) {
  std::vector<unsigned char> sense(255);
  for (unsigned i = 18; i < sense.size(); ++i) sense[i] = static_cast<unsigned char>(i);
  sense[0] = 0xF0;
  sense[2] = 0x0B;
  putBe32(&sense[3], 0xDEADBEEF);
  sense[7] = n == 18 ? 10 : 0xFF;  // only the 18-byte record is honest about its length
  putBe32(&sense[8], 0xC0FFEE00);
  sense[12] = 0x08;
  sense[15] = 0x80;
  sense.resize(n);
  return sense;
}

CommandResult answered(unsigned char status, std::vector<unsigned char> sense = {}) {
  CommandResult outcome;
  outcome.executed = true;
  outcome.status = status;
  outcome.sense = std::move(sense);
  return outcome;
}

// Overwrites the length field of the returned data with a claim far beyond it; only bytes that
// arrived are touched.
void overstate(const unsigned char* cdb, unsigned char* data, unsigned long arrived) {
  auto fits = [arrived](unsigned long end) { return end <= arrived; };
  switch (cdb[0]) {
    case 0x12:  // INQUIRY
      if ((cdb[1] & 1) == 0 && fits(5)) data[4] = 0xFF;
      if ((cdb[1] & 1) != 0 && fits(4)) putBe16(data + 2, 0xFFFF);
      break;
    case 0xA0:  // REPORT LUNS: not a multiple of 8 either
      if (fits(4)) putBe32(data, 0xFFFFFFFC);
      break;
    case 0x03:  // REQUEST SENSE
      if (fits(8)) data[7] = 0xFF;
      break;
    case 0x84:  // RECEIVE COPY RESULTS
      if (fits(4)) putBe32(data, 0xFFFFFFFF);
      break;
    default:
      break;
  }
}

// VPD pages whose page length and first descriptor (designation descriptor length at byte 3,
// or the first listed page) run past the data that arrived.
void overrun(const unsigned char* cdb, unsigned char* data, unsigned long arrived) {
  if (cdb[0] != 0x12 || (cdb[1] & 1) == 0 || arrived < 4) return;
  putBe16(data + 2, static_cast<uint32_t>(std::min<unsigned long>(getBe16(data + 2) + 200, 0xFFFF)));
  if (data[1] == 0x83 && arrived >= 8) data[7] = 0xFF;  // first designation descriptor's length
}

}  // namespace

bool hostilityFrom(const std::string& text, Hostility& out) {
  if (text.empty()) {
    out = Hostility::none;
    return true;
  }
  for (const Named& m : modes_c) {
    if (text == m.text) {
      out = m.mode;
      return true;
    }
  }
  return false;
}

const char* hostilityNames() {
  return "lengths, descriptors, sense0, sense1, sense17, sense18, sense255, nosense, busy, conflict, "
         "taskfull, timeout";
}

CommandResult executeHostile(Device& device, unsigned lun, const Command& command, Hostility mode,
                             Mistreatment& how, const std::string& initiator) {
  how = Mistreatment();
  switch (mode) {
    case Hostility::none:
      return device.execute(lun, command, initiator);
    case Hostility::sense0:
      how.deliverEmptySense = true;
      return answered(statusCheckCondition);
    case Hostility::sense1:
      return answered(statusCheckCondition, senseOf(1));
    case Hostility::sense17:
      return answered(statusCheckCondition, senseOf(17));
    case Hostility::sense18:
      return answered(statusCheckCondition, senseOf(18));
    case Hostility::sense255:
      return answered(statusCheckCondition, senseOf(255));
    case Hostility::noSense:
      return answered(statusCheckCondition);
    case Hostility::busy:
      return answered(statusBusy);
    case Hostility::conflict:
      return answered(statusReservationConflict);
    case Hostility::taskSetFull:
      return answered(statusTaskSetFull);
    case Hostility::timeout:
      how.timedOut = true;
      return answered(statusGood);
    case Hostility::lengths:
    case Hostility::descriptors:
      break;
  }
  const bool dataIn =
      command.direction == QXScsi::dataIn_c && command.data != nullptr && command.cdb != nullptr;
  // The host's bytes as they were, so that a short transfer leaves the rest of them alone.
  std::vector<unsigned char> before;
  if (dataIn && mode == Hostility::lengths) before.assign(command.data, command.data + command.length);
  CommandResult outcome = device.execute(lun, command, initiator);
  if (!dataIn || !outcome.executed || outcome.status != statusGood) return outcome;
  const unsigned long arrived = std::min(outcome.transferred, command.length);
  if (mode == Hostility::descriptors) {
    overrun(command.cdb, command.data, arrived);
    return outcome;
  }
  overstate(command.cdb, command.data, arrived);
  // Only part of the data arrives: past the first 8 bytes, half of the rest.
  const unsigned long delivered = arrived > 8 ? arrived - (arrived - 8) / 2 : arrived;
  if (arrived > delivered)
    std::memcpy(command.data + delivered, before.data() + delivered, arrived - delivered);
  outcome.transferred = delivered;
  return outcome;
}

}  // namespace qxscsi::backends::emulated
