// REPORT LUNS: the device's logical-unit inventory, one byte (byte 1 of each 8-byte LUN
// entry) per logical unit, read through a work buffer of the command's own.
//
// Bad input and misbehaving devices:
// - A null lunCount is refused: null, nothing sent.
// - A null lunList counts as a capacity of 0: the command asks for the header only and
//   *lunCount receives the number of logical units the device reports.
// - A capacity above 536,870,911 entries is refused (null, nothing sent, *lunCount and
//   lunList unchanged): 8 x capacity + 4 would not fit the 32-bit allocation length, and
//   wrapping it would ask for far less than the caller means. No device can report more
//   entries than that anyway (its LUN LIST LENGTH is 32 bits).
// - The work buffer is zero-filled before the command. Bytes that the device does not
//   return read as 0: a device that returns less than it claims yields LUN 0 for the entries
//   it left out, and one that returns nothing reports 0 logical units.
// - A device that claims more than was asked for gets its claim reported in *lunCount, but
//   entries are copied only while they lie inside the work buffer (min(reported, capacity)),
//   so nothing beyond the buffer is read and nothing beyond the capacity is written.
#include <memory>

#include "qxscsi/commands.h"
#include "qxscsi/target.h"
#include "wire/bytes.h"
#include "wire/cdb.h"
#include "wire/status.h"

namespace {

constexpr unsigned long timeoutSeconds = 10;
constexpr unsigned long headerBytes = 8;
constexpr unsigned long entryBytes = 8;
constexpr unsigned long maxCapacity = (0xFFFFFFFFul - 4) / entryBytes;  // 536,870,911

}  // namespace

QXScsiCmd* QXScsiTarget::cmdReportLuns(unsigned char* lunList, unsigned long* lunCount) {
  if (lunCount == nullptr) return nullptr;
  const unsigned long capacity = lunList == nullptr ? 0 : *lunCount;
  if (capacity > maxCapacity) return nullptr;
  if (!valid()) return nullptr;

  // The header, capacity - 1 whole entries and the first four bytes of the last one: enough
  // for byte 1 of every entry. Fits 32 bits because of the limit above.
  const unsigned long allocationLength = entryBytes * capacity + 4;
  std::unique_ptr<unsigned char[]> work(new unsigned char[allocationLength]());

  unsigned char cdb[12];
  qxscsi::wire::reportLunsCdb(cdb, static_cast<uint32_t>(allocationLength));
  QXScsiCmd* cmd =
      executeStandardCommand(cdb, sizeof cdb, work.get(), allocationLength, QXScsi::dataIn_c, timeoutSeconds);
  if (cmd == nullptr) return nullptr;

  if (cmd->scsiStatus() == qxscsi::wire::statusGood) {
    const unsigned long reported = qxscsi::wire::getBe32(work.get()) >> 3;  // whole entries only
    const unsigned long stored = reported < capacity ? reported : capacity;
    for (unsigned long i = 0; i < stored; ++i) lunList[i] = work[headerBytes + entryBytes * i + 1];
    *lunCount = reported;
  } else {
    *lunCount = 0;
  }
  return cmd;  // the work buffer is released here; the caller reads lunList, not the record
}
