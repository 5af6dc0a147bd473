// Emulated direct-access device: blocks per logical unit (in memory or a raw file) and a copy manager.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "device.h"
#include "medium.h"
#include "disk_state.h"
#include "side_file.h"

namespace qxscsi::backends::emulated {

// Answers READ CAPACITY(10/16), READ and WRITE (6/10/12/16), VERIFY(10/16), SYNCHRONIZE
// CACHE(10/16), START STOP UNIT, EXTENDED COPY (LID1: identification CSCD descriptors and
// block-to-block segments between the device's logical units) and RECEIVE COPY RESULTS (COPY
// STATUS, OPERATING PARAMETERS), and VPD pages B0h, B1h and B2h, besides the common commands.
// A stopped unit answers media access and TEST UNIT READY with NOT READY, INITIALIZING COMMAND
// REQUIRED (04h/02h) until it is started. A write with FUA and SYNCHRONIZE CACHE make the
// written blocks durable before GOOD; a medium that fails answers MEDIUM ERROR (reads 11h/00h,
// writes and syncs 0Ch/00h). Also MODE SENSE/SELECT(6/10) with pages 01h, 08h, 0Ah
// and 1Ch, PERSISTENT RESERVE IN/OUT (with RESERVATION CONFLICT for the other initiators as each
// reservation type has it) and, with ua=1, MODE PARAMETERS CHANGED for the other initiators and
// the reservation unit attentions; LOG SENSE (pages 00h, 02h, 03h, 0Dh, 10h, 2Fh), REPORT
// TARGET PORT GROUPS, REPORT SUPPORTED OPERATION CODES and WRITE AND VERIFY(10).
class Disk : public Device {
 public:
  static constexpr unsigned maxCscdDescriptors_c = 8;
  static constexpr unsigned maxSegmentDescriptors_c = 16;
  // VPD page B0h: the most blocks one command moves, and the transfer size that suits best.
  static constexpr uint32_t maxTransferBlocks_c = 65535;
  static constexpr uint32_t optimalTransferBlocks_c = 128;

  // Units in memory, zero-filled, of the capacity the options ask.
  explicit Disk(const Options& options);
  // One unit per medium given (taken over; all of the same whole number of blocks).
  Disk(const Options& options, std::vector<std::unique_ptr<Medium>> media);

  unsigned long capacity() const { return capacity_; }
  // Where a disk kept in a file (PATH) keeps its other state: PATH + ".state" (a SideFile);
  // empty for a disk in memory.
  std::string statePath() const { return options().given("file") ? options().text("file") + ".state" : ""; }
  // The bytes of in-memory logical unit `lun` (capacity() blocks of the block length), for
  // inspection; throws std::logic_error for a unit kept in a file.
  std::vector<unsigned char>& medium(unsigned lun);

  // The saved mode pages and persistent reservations, as a side file keeps them.
  const DiskState& state() const { return state_; }
  // Takes `state` (copied) as the saved values and the reservations, the current pages from its
  // saved ones; false with `error` when it does not fit this disk (other unit count).
  bool restore(const DiskState& state, std::string* error);
  // Keeps state() in `file` from now on (taken over): the saved mode pages and reservations
  // survive the process. False with `error` when the file holds a state that cannot be read.
  bool keepStateIn(std::unique_ptr<SideFile> file, std::string* error);
  // Every initiator's next command to `lun` reports CAPACITY DATA HAS CHANGED (with ua=1).
  void capacityChanged(unsigned lun) { raiseUnitAttention(lun, 0x2A, 0x09); }

 protected:
  bool shapeOf(const unsigned char* cdb, Shape& shape) const override;
  void run(Exchange& x) override;
  unsigned char inquiryByte5() const override { return 0x18; }  // TPGS 01b (implicit), 3PC
  std::vector<unsigned char> typePageCodes() const override { return {0xB0, 0xB1, 0xB2}; }
  std::vector<unsigned char> typePage(unsigned char code, unsigned lun) const override;

 private:
  struct Unit {
    std::unique_ptr<Medium> medium;
    bool stopped = false;  // by START STOP UNIT
  };
  // Where a block command starts and how many blocks it covers, read from its CDB.
  struct Extent {
    uint64_t lba = 0;
    uint64_t blocks = 0;
  };

  void readCapacity(Exchange& x);
  void readCapacity16(Exchange& x);
  void readWrite(Exchange& x, bool write);
  void verify(Exchange& x);
  void synchronizeCache(Exchange& x);
  void startStopUnit(Exchange& x);
  static unsigned lengthField(unsigned char op);
  // False, with the answer given, when `e` moves more blocks than one command may (INVALID FIELD
  // IN CDB) or reaches beyond the last block (LBA OUT OF RANGE).
  bool inRange(Exchange& x, const Extent& e);
  void extendedCopy(Exchange& x);
  void receiveCopyResults(Exchange& x);
  // The logical unit whose designator the identification descriptor `d` (32 bytes)
  // names, or -1.
  int findUnit(const unsigned char* d) const;

  Extent extentOf(const unsigned char* cdb) const;

  void modeSense(Exchange& x);
  void modeSelect(Exchange& x);
  std::vector<unsigned char> modePage(unsigned lun, unsigned char code, unsigned pc) const;
  void logSense(Exchange& x);
  void reportSupportedOperationCodes(Exchange& x);
  void reportTargetPortGroups(Exchange& x);
  void writeAndVerify(Exchange& x);
  void persistentReserveIn(Exchange& x);
  void persistentReserveOut(Exchange& x);
  // True, with status RESERVATION CONFLICT given, when the unit's reservation bars `x`.
  bool reservationConflict(Exchange& x);
  // Keeps state() in the side file, when there is one; called after every change of it.
  void persist();
  // The default saved pages and the current pages from them, per unit.
  void initState();

  unsigned long capacity_;
  unsigned long block_;
  std::vector<Unit> units_;
  std::vector<unsigned char> scratch_;  // blocks read from a medium on their way to the host
  DiskState state_;
  std::unique_ptr<SideFile> stateFile_;  // null: the state lives in memory only
  std::vector<std::map<unsigned char, std::vector<unsigned char>>> currentPages_;  // per unit
};

}  // namespace qxscsi::backends::emulated
