// Block commands of the emulated direct-access device.
#include "disk.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "wire/bytes.h"

namespace qxscsi::backends::emulated {

using namespace wire;

Disk::Disk(const Options& options)
    : Device(0x00, "EMULATED DISK", options),
      capacity_(options.number("capacity")),
      block_(options.number("block")),
      units_(lunCount()) {
  for (Unit& u : units_) u.medium = std::make_unique<MemoryMedium>(uint64_t(capacity_) * block_);
  initState();
}

Disk::Disk(const Options& options, std::vector<std::unique_ptr<Medium>> media)
    : Device(0x00, "EMULATED DISK", options),
      capacity_(static_cast<unsigned long>(media.at(0)->bytes() / options.number("block"))),
      block_(options.number("block")),
      units_(lunCount()) {
  for (size_t i = 0; i < units_.size(); ++i) units_[i].medium = std::move(media.at(i));
  initState();
}

void Disk::initState() {
  state_.units.resize(lunCount());
  for (DiskState::Unit& u : state_.units)
    for (const std::vector<unsigned char>& page : defaultModePages()) u.savedPages[page[0]] = page;
  for (const DiskState::Unit& u : state_.units) currentPages_.push_back(u.savedPages);
}

std::vector<unsigned char>& Disk::medium(unsigned lun) {
  auto* memory = dynamic_cast<MemoryMedium*>(units_.at(lun).medium.get());
  if (!memory) throw std::logic_error("logical unit " + std::to_string(lun) + " is kept in a file");
  return memory->data();
}

bool Disk::restore(const DiskState& state, std::string* error) {
  if (state.units.size() != lunCount()) {
    if (error)
      *error = "the kept state has " + std::to_string(state.units.size()) + " logical unit(s), the disk " +
               std::to_string(lunCount());
    return false;
  }
  state_ = state;
  for (unsigned lun = 0; lun < lunCount(); ++lun)
    for (const std::vector<unsigned char>& page : defaultModePages())
      state_.units[lun].savedPages.emplace(page[0], page);  // pages the state lacks: defaults
  for (unsigned lun = 0; lun < lunCount(); ++lun) currentPages_[lun] = state_.units[lun].savedPages;
  return true;
}

bool Disk::keepStateIn(std::unique_ptr<SideFile> file, std::string* error) {
  std::vector<unsigned char> payload;
  if (!file->load(&payload, error)) return false;
  if (!payload.empty()) {
    DiskState kept;
    std::string why;
    if (!DiskState::decode(payload, &kept, &why) || !restore(kept, &why)) {
      if (error) *error = "\"" + file->path() + "\" is damaged: " + why;
      return false;
    }
  }
  stateFile_ = std::move(file);
  return true;
}

void Disk::persist() {
  // A state that cannot be written keeps the one in memory; the next change tries again.
  if (stateFile_) stateFile_->store(state_.encode(), nullptr);
}

namespace {

bool isRead(unsigned char op) { return op == 0x08 || op == 0x28 || op == 0xA8 || op == 0x88; }
bool isWrite(unsigned char op) { return op == 0x0A || op == 0x2A || op == 0xAA || op == 0x8A; }
bool isVerify(unsigned char op) { return op == 0x2F || op == 0x8F; }
unsigned byteCheck(const unsigned char* cdb) { return (cdb[1] >> 1) & 0x03; }
// FUA: the 10-, 12- and 16-byte writes only.
bool forceUnitAccess(const unsigned char* cdb) { return cdb[0] != 0x0A && (cdb[1] & 0x08); }

Sense readError() { return Sense(mediumError_c, 0x11, 0x00); }   // UNRECOVERED READ ERROR
Sense writeError() { return Sense(mediumError_c, 0x0C, 0x00); }  // WRITE ERROR

// Commands a stopped unit does not carry out.
bool needsMedium(unsigned char op) {
  return op == 0x00 || isRead(op) || isWrite(op) || isVerify(op) || op == 0x35 || op == 0x91 || op == 0x83;
}

// Index of the highest bit set in `v` (not 0).
int topBit(unsigned v) {
  int b = 7;
  while (b > 0 && !(v & (1u << b))) --b;
  return b;
}

}  // namespace

Disk::Extent Disk::extentOf(const unsigned char* cdb) const {
  switch (cdb[0]) {
    case 0x08:  // READ(6), WRITE(6): 21-bit LBA, 0 blocks means 256
    case 0x0A:
      return {getBe24(cdb + 1) & 0x1FFFFFu, cdb[4] == 0 ? 256u : cdb[4]};
    case 0xA8:  // READ(12), WRITE(12)
    case 0xAA:
      return {getBe32(cdb + 2), getBe32(cdb + 6)};
    case 0x88:  // READ(16), WRITE(16), VERIFY(16), SYNCHRONIZE CACHE(16)
    case 0x8A:
    case 0x8F:
    case 0x91:
      return {getBe64(cdb + 2), getBe32(cdb + 10)};
    default:  // the 10-byte forms
      return {getBe32(cdb + 2), getBe16(cdb + 7)};
  }
}

bool Disk::shapeOf(const unsigned char* cdb, Shape& s) const {
  const unsigned char op = cdb[0];
  const unsigned length = op < 0x20 ? 6 : op < 0x60 ? 10 : op < 0xA0 ? 16 : 12;
  if (isRead(op) || isWrite(op)) {
    s = {length, isRead(op) ? QXScsi::dataIn_c : QXScsi::dataOut_c,
         static_cast<unsigned long>(extentOf(cdb).blocks * block_)};
    return true;
  }
  switch (op) {
    case 0x25:  // READ CAPACITY(10)
      s = {10, QXScsi::dataIn_c, 8};
      return true;
    case 0x2F:  // VERIFY(10), VERIFY(16): data out only to compare
    case 0x8F:
      if (byteCheck(cdb) == 1)
        s = {length, QXScsi::dataOut_c, static_cast<unsigned long>(extentOf(cdb).blocks * block_)};
      else
        s = {length, QXScsi::noData_c, 0};
      return true;
    case 0x1B:  // START STOP UNIT
    case 0x35:  // SYNCHRONIZE CACHE(10)
    case 0x91:  // SYNCHRONIZE CACHE(16)
      s = {length, QXScsi::noData_c, 0};
      return true;
    case 0x9E:  // SERVICE ACTION IN(16): READ CAPACITY(16) moves data, other actions are invalid
      s = {16, QXScsi::dataIn_c, (cdb[1] & 0x1F) == 0x10 ? getBe32(cdb + 10) : 0u};
      return true;
    case 0x83:  // EXTENDED COPY
      s = {16, QXScsi::dataOut_c, getBe32(cdb + 10)};
      return true;
    case 0x84:  // RECEIVE COPY RESULTS
      s = {16, QXScsi::dataIn_c, getBe32(cdb + 10)};
      return true;
    case 0x1A:  // MODE SENSE(6)
      s = {6, QXScsi::dataIn_c, cdb[4]};
      return true;
    case 0x5A:  // MODE SENSE(10)
      s = {10, QXScsi::dataIn_c, getBe16(cdb + 7)};
      return true;
    case 0x15:  // MODE SELECT(6)
      s = {6, QXScsi::dataOut_c, cdb[4]};
      return true;
    case 0x55:  // MODE SELECT(10)
      s = {10, QXScsi::dataOut_c, getBe16(cdb + 7)};
      return true;
    case 0x2E:  // WRITE AND VERIFY(10)
      s = {10, QXScsi::dataOut_c, static_cast<unsigned long>(extentOf(cdb).blocks * block_)};
      return true;
    case 0x4D:  // LOG SENSE
      s = {10, QXScsi::dataIn_c, getBe16(cdb + 7)};
      return true;
    case 0xA3:  // MAINTENANCE IN: REPORT TARGET PORT GROUPS, REPORT SUPPORTED OPERATION CODES
      s = {12, QXScsi::dataIn_c, (cdb[1] & 0x1F) == 0x0A || (cdb[1] & 0x1F) == 0x0C ? getBe32(cdb + 6) : 0u};
      return true;
    case 0x5E:  // PERSISTENT RESERVE IN
      s = {10, QXScsi::dataIn_c, getBe16(cdb + 7)};
      return true;
    case 0x5F:  // PERSISTENT RESERVE OUT
      s = {10, QXScsi::dataOut_c, getBe32(cdb + 5)};
      return true;
    default:
      return Device::shapeOf(cdb, s);
  }
}

void Disk::run(Exchange& x) {
  const unsigned char op = x.op();
  if (reservationConflict(x)) return;
  if (units_[x.lun()].stopped && needsMedium(op)) return x.fail(Sense(notReady_c, 0x04, 0x02));
  if (isRead(op) || isWrite(op)) return readWrite(x, isWrite(op));
  switch (op) {
    case 0x1B:
      return startStopUnit(x);
    case 0x25:
      return readCapacity(x);
    case 0x2F:
    case 0x8F:
      return verify(x);
    case 0x35:
    case 0x91:
      return synchronizeCache(x);
    case 0x9E:
      return readCapacity16(x);
    case 0x83:
      return extendedCopy(x);
    case 0x84:
      return receiveCopyResults(x);
    case 0x1A:
    case 0x5A:
      return modeSense(x);
    case 0x15:
    case 0x55:
      return modeSelect(x);
    case 0x2E:
      if (units_[x.lun()].stopped) return x.fail(Sense(notReady_c, 0x04, 0x02));
      return writeAndVerify(x);
    case 0x4D:
      return logSense(x);
    case 0xA3:
      if ((x.cdb()[1] & 0x1F) == 0x0A) return reportTargetPortGroups(x);
      if ((x.cdb()[1] & 0x1F) == 0x0C) return reportSupportedOperationCodes(x);
      return x.invalidField(1, 4);
    case 0x5E:
      return persistentReserveIn(x);
    case 0x5F:
      return persistentReserveOut(x);
    default:
      return Device::run(x);
  }
}

// CDB byte where the transfer length of a block command begins.
unsigned Disk::lengthField(unsigned char op) { return op < 0x20 ? 4 : op < 0x60 ? 7 : op < 0xA0 ? 10 : 6; }

bool Disk::inRange(Exchange& x, const Extent& e) {
  if (e.blocks > maxTransferBlocks_c) {
    x.invalidField(lengthField(x.op()));  // more than VPD page B0h allows
    return false;
  }
  if (e.lba < capacity_ && e.blocks <= capacity_ - e.lba) return true;
  x.fail(Sense(illegalRequest_c, 0x21, 0x00));
  return false;
}

void Disk::readCapacity(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  if (!(cdb[8] & 0x01) && getBe32(cdb + 2) != 0) return x.invalidField(2);
  unsigned char d[8];
  // A medium whose last LBA does not fit 32 bits answers FFFFFFFFh: READ CAPACITY(16) tells it.
  const uint64_t last = capacity_ - 1;
  putBe32(d, last > 0xffffffffu ? 0xffffffffu : static_cast<uint32_t>(last));
  putBe32(d + 4, static_cast<uint32_t>(block_));
  x.send(d, sizeof d);
}

void Disk::readCapacity16(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  if ((cdb[1] & 0x1F) != 0x10) return x.invalidField(1, 4);
  if (!(cdb[14] & 0x01) && getBe64(cdb + 2) != 0) return x.invalidField(2);
  // Returned LBA, block length; no protection, one block per physical block, no provisioning.
  unsigned char d[32] = {};
  putBe64(d, capacity_ - 1);
  putBe32(d + 8, static_cast<uint32_t>(block_));
  x.send(d, sizeof d);
}

void Disk::readWrite(Exchange& x, bool write) {
  const unsigned char* cdb = x.cdb();
  if (cdb[0] == 0x08 || cdb[0] == 0x0A) {
    if (cdb[1] & 0xE0) return x.invalidField(1, 7);
  } else {
    // Protection information is not offered; DPO is accepted, FUA makes a write durable at once.
    if (cdb[1] & 0xE0) return x.invalidField(1, 7);
    if (cdb[1] & 0x05) return x.invalidField(1, topBit(cdb[1] & 0x05));
  }
  Extent e = extentOf(cdb);
  if (!inRange(x, e)) return;
  if (e.blocks == 0) return;
  Medium& medium = *units_[x.lun()].medium;
  const uint64_t offset = e.lba * block_;
  const unsigned long n = static_cast<unsigned long>(e.blocks * block_);
  if (write) {
    if (!medium.write(offset, x.out(), n)) return x.fail(writeError());
    x.outcome().transferred = n;
    if (forceUnitAccess(cdb) && !medium.sync()) x.fail(writeError());
  } else {
    const unsigned char* bytes = medium.view(offset);
    if (!bytes) {
      if (unsigned char* to = x.sendInPlace(n)) {  // the whole transfer fits: no copy
        if (!medium.read(offset, to, n)) {
          x.outcome().transferred = 0;
          return x.fail(readError());
        }
        return;
      }
      scratch_.resize(n);
      if (!medium.read(offset, scratch_.data(), n)) return x.fail(readError());
      bytes = scratch_.data();
    }
    x.send(bytes, n);
  }
}

void Disk::verify(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  if (cdb[1] & 0xE0) return x.invalidField(1, 7);  // VRPROTECT: no protection information
  if (byteCheck(cdb) > 1) return x.invalidField(1, 2);
  if (cdb[1] & 0x01) return x.invalidField(1, 0);
  Extent e = extentOf(cdb);
  if (!inRange(x, e)) return;
  if (byteCheck(cdb) == 0 || e.blocks == 0) return;  // the medium always reads back
  const unsigned long n = static_cast<unsigned long>(e.blocks * block_);
  x.outcome().transferred = n;
  const unsigned char* medium = units_[x.lun()].medium->view(e.lba * block_);
  if (!medium) {
    scratch_.resize(n);
    if (!units_[x.lun()].medium->read(e.lba * block_, scratch_.data(), n)) return x.fail(readError());
    medium = scratch_.data();
  }
  const unsigned char* mismatch = std::mismatch(medium, medium + n, x.out()).first;
  if (mismatch != medium + n)  // the information field: offset of the first differing byte
    x.fail(Sense(miscompare_c, 0x1D, 0x00).information(static_cast<uint32_t>(mismatch - medium)));
}

void Disk::synchronizeCache(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  if (cdb[1] & 0xF9) return x.invalidField(1, topBit(cdb[1] & 0xF9));  // IMMED and SYNC_NV only
  Extent e = extentOf(cdb);
  // 0 blocks: from the LBA to the end. No transfer limit applies. The whole medium is synced,
  // before GOOD even with IMMED.
  if (e.lba >= capacity_ || (e.blocks != 0 && e.blocks > capacity_ - e.lba))
    return x.fail(Sense(illegalRequest_c, 0x21, 0x00));
  if (!units_[x.lun()].medium->sync()) x.fail(writeError());
}

void Disk::startStopUnit(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  if (cdb[1] & 0xFE) return x.invalidField(1, topBit(cdb[1] & 0xFE));  // IMMED only
  if (cdb[3] & 0x0F) return x.invalidField(3, 3);                      // power condition modifier
  if (cdb[4] & 0xF0) return x.invalidField(4, 7);                      // power conditions
  if (cdb[4] & 0x08) return x.invalidField(4, 3);
  // START with or without LOEJ (load) starts the unit; without START (stop, or eject with LOEJ)
  // it stops: the medium stays, unreadable until a start. NO_FLUSH changes nothing here.
  units_[x.lun()].stopped = !(cdb[4] & 0x01);
}

std::vector<unsigned char> Disk::typePage(unsigned char code, unsigned) const {
  std::vector<unsigned char> body;
  switch (code) {
    case 0xB0:  // Block Limits
      body.assign(0x3C, 0);
      putBe16(&body[2], 1);                    // optimal transfer length granularity: 1 block
      putBe32(&body[4], maxTransferBlocks_c);  // maximum transfer length
      putBe32(&body[8], optimalTransferBlocks_c);
      break;
    case 0xB1:  // Block Device Characteristics
      body.assign(0x3C, 0);
      putBe16(&body[0], 1);  // medium rotation rate: non-rotating medium
      break;
    case 0xB2:  // Logical Block Provisioning: no provisioning management of any kind
      body.assign(4, 0);
      break;
    default:
      break;
  }
  return body;
}

}  // namespace qxscsi::backends::emulated
