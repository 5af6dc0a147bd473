// REPORT LUNS parsing fed by a device whose data, lengths, statuses and sense data are fuzzed,
// with capacities at and around the edges (none, null list, refused sizes).
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz_input.h"
#include "fuzzed_device.h"
#include "qxscsi/target.h"
#include "wire/bytes.h"
#include "wire/status.h"

using qxscsi::fuzz::FuzzedTarget;
using qxscsi::fuzz::Input;
using qxscsi::fuzz::LastCommand;

namespace {

unsigned long capacityFrom(Input& in, bool& nullList) {
  const uint8_t b = in.byte();
  nullList = b >= 0xF0;
  switch (b % 8) {
    case 0:
      return 0;
    case 1:
      return 1;
    case 2:
      return b % 17;
    case 3:
      return in.u16() % 2048;
    case 4:
      return 536870911ul + 1 + in.byte();  // 8 x n + 4 no longer fits 32 bits
    case 5:
      return 0xFFFFFFFFul + in.byte();
    default:
      return in.byte();
  }
}

void readRecord(const QXScsiCmd& cmd) {
  const QXScsiSenseData sense = cmd.senseData();
  char extra[255];
  volatile unsigned long sum = sense.responseCode() + sense.senseKey() + sense.information() +
                               sense.additionalSenseCode() + sense.senseKeySpecific() +
                               sense.additionalSense(extra, sizeof extra);
  (void)sum;
  std::string message;
  cmd.implementationErrorMsg(message);
}

void reportLuns(FuzzedTarget& target, LastCommand& last, Input& in) {
  last = LastCommand();
  bool nullList = false;
  const unsigned long capacity = capacityFrom(in, nullList);
  // The caller's list: exactly `capacity` bytes (refused capacities get a token buffer).
  const unsigned long allocated = capacity > 4096 ? 16 : capacity;
  std::unique_ptr<unsigned char[]> list(new unsigned char[allocated == 0 ? 1 : allocated]);
  std::fill(list.get(), list.get() + allocated, 0xEE);
  unsigned long count = capacity;
  const bool nullCount = in.byte() == 0xFF;

  QXScsiCmd* cmd = target.cmdReportLuns(nullList ? nullptr : list.get(), nullCount ? nullptr : &count);
  const unsigned long usable = nullList ? 0 : capacity;
  if (cmd == nullptr) {
    QXSCSI_FUZZ_CHECK(count == capacity);
    QXSCSI_FUZZ_CHECK(
        std::all_of(list.get(), list.get() + allocated, [](unsigned char c) { return c == 0xEE; }));
    return;
  }
  QXSCSI_FUZZ_CHECK(!nullCount && usable <= 536870911ul && last.executed);
  // The command asked for the header and the first four bytes of every entry that fits.
  const unsigned long asked = 8 * usable + 4;
  QXSCSI_FUZZ_CHECK(last.cdb.size() == 12 && last.cdb[0] == 0xA0 &&
                    qxscsi::wire::getBe32(&last.cdb[6]) == asked);
  QXSCSI_FUZZ_CHECK(last.dataLength == asked && last.direction == QXScsi::dataIn_c && last.timeout == 10);
  QXSCSI_FUZZ_CHECK(cmd->scsiStatus() == last.status);
  const unsigned long stored = last.status == qxscsi::wire::statusGood ? std::min(count, usable) : 0;
  if (last.status != qxscsi::wire::statusGood) {
    QXSCSI_FUZZ_CHECK(count == 0);
  } else if (last.written.size() >= 4) {
    QXSCSI_FUZZ_CHECK(count == qxscsi::wire::getBe32(last.written.data()) >> 3);
    for (unsigned long i = 0; i < stored && 8 * i + 9 < last.written.size(); ++i)
      QXSCSI_FUZZ_CHECK(list[i] == last.written[8 * i + 9]);
  }
  // Nothing written past the entries that were reported and fit.
  QXSCSI_FUZZ_CHECK(
      std::all_of(list.get() + stored, list.get() + allocated, [](unsigned char c) { return c == 0xEE; }));
  readRecord(*cmd);
  QXScsiFreeCmd(cmd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  LastCommand last;
  FuzzedTarget target(in, last);
  if (!target.initScsiTarget("fuzzed", QXScsiAddress(), 0, nullptr)) return 0;
  // A few commands on one target: each one's device answers are read from the rest of the input.
  const int commands = 1 + in.byte() % 4;
  for (int i = 0; i < commands; ++i) reportLuns(target, last, in);
  return 0;
}
