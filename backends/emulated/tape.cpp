// Sequential-access commands of the emulated tape drive.
#include "tape.h"

#include <algorithm>

#include "wire/bytes.h"

namespace qxscsi::backends::emulated {

using namespace wire;

namespace {

// NO SENSE with FILEMARK set: a read or space stopped at a filemark.
Sense fileMarkSense(uint32_t residue) { return Sense(noSense_c, 0x00, 0x01).fileMark().information(residue); }
// BLANK CHECK: end of data was reached.
Sense endOfDataSense(uint32_t residue) { return Sense(blankCheck_c, 0x00, 0x05).information(residue); }
// NO SENSE with EOM set: beginning of partition was reached going backwards.
Sense beginningSense(uint32_t residue) {
  return Sense(noSense_c, 0x00, 0x04).endOfMedium().information(residue);
}

}  // namespace

Tape::Tape(const Options& options)
    : Device(0x01, "EMULATED TAPE", options), capacity_(options.number("capacity")), units_(lunCount()) {}

Tape::Tape(const Options& options, std::unique_ptr<TapeFile> file, std::vector<TapeObject> objects)
    : Tape(options) {
  file_ = std::move(file);
  Unit& u = units_.at(0);
  u.objects = std::move(objects);
  for (const Object& o : u.objects) u.used += o.bytes.size();
}

bool Tape::persist(Exchange& x, size_t from, bool sync) {
  if (!file_ || x.lun() != 0) return true;
  if (file_->store(units_[0].objects, from) && (!sync || file_->sync())) return true;
  x.fail(Sense(mediumError_c, 0x0C, 0x00));
  return false;
}

bool Tape::shapeOf(const unsigned char* cdb, Shape& s) const {
  switch (cdb[0]) {
    case 0x01:  // REWIND
    case 0x10:  // WRITE FILEMARKS(6)
    case 0x11:  // SPACE(6)
      s = {6, QXScsi::noData_c, 0};
      return true;
    case 0x08:  // READ(6), WRITE(6): the count is bytes, or blocks with FIXED
    case 0x0A: {
      const unsigned long unit = (cdb[1] & 0x01) ? blockLength_ : 1;
      s = {6, cdb[0] == 0x08 ? QXScsi::dataIn_c : QXScsi::dataOut_c, getBe24(cdb + 2) * unit};
      return true;
    }
    case 0x05:  // READ BLOCK LIMITS
      s = {6, QXScsi::dataIn_c, 6};
      return true;
    case 0x1A:  // MODE SENSE(6)
      s = {6, QXScsi::dataIn_c, cdb[4]};
      return true;
    case 0x15:  // MODE SELECT(6)
      s = {6, QXScsi::dataOut_c, cdb[4]};
      return true;
    case 0x19:  // ERASE
    case 0x1B:  // LOAD UNLOAD
      s = {6, QXScsi::noData_c, 0};
      return true;
    case 0x34:  // READ POSITION: the short form returns 20 bytes
      s = {10, QXScsi::dataIn_c, (cdb[1] & 0x1F) == 0 ? 20u : 0u};
      return true;
    default:
      return Device::shapeOf(cdb, s);
  }
}

void Tape::run(Exchange& x) {
  const unsigned char op = x.op();
  const bool needsMedium =
      op <= 0x01 || op == 0x08 || op == 0x0A || op == 0x10 || op == 0x11 || op == 0x19 || op == 0x34;
  if (units_[x.lun()].unloaded && needsMedium) return x.fail(Sense(notReady_c, 0x3A, 0x00));
  switch (op) {
    case 0x05:
      return readBlockLimits(x);
    case 0x15:
      return modeSelect(x);
    case 0x19:
      return erase(x);
    case 0x1A:
      return modeSense(x);
    case 0x1B:
      return loadUnload(x);
    case 0x01:
      units_[x.lun()].position = 0;
      persist(x, units_[x.lun()].objects.size(), true);
      return;
    case 0x08:
      return read(x);
    case 0x0A:
      return write(x);
    case 0x10:
      return writeFileMarks(x);
    case 0x11:
      return space(x);
    case 0x34:
      return readPosition(x);
    default:
      return Device::run(x);
  }
}

void Tape::truncate(Unit& u) {
  for (size_t i = u.position; i < u.objects.size(); ++i) u.used -= u.objects[i].bytes.size();
  u.objects.resize(u.position);
}

void Tape::read(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  if (cdb[1] & 0xFC) return x.invalidField(1);
  if (cdb[1] & 0x01) return readFixed(x);
  bool sili = cdb[1] & 0x02;
  uint32_t wanted = getBe24(cdb + 2);
  if (wanted == 0) return;
  Unit& u = units_[x.lun()];
  if (u.position >= u.objects.size()) return x.fail(endOfDataSense(wanted));
  const Object& o = u.objects[u.position++];
  if (o.fileMark) return x.fail(fileMarkSense(wanted));
  x.send(o.bytes);
  uint32_t actual = static_cast<uint32_t>(o.bytes.size());
  if (actual == wanted || (actual < wanted && sili)) return;
  // Incorrect length: the residue (requested minus actual) is negative for a longer record.
  x.fail(Sense(noSense_c, 0x00, 0x00).incorrectLength().information(wanted - actual));
}

void Tape::write(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  if (cdb[1] & 0xFE) return x.invalidField(1);
  if (cdb[1] & 0x01) return writeFixed(x);
  uint32_t length = getBe24(cdb + 2);
  if (length == 0) return;
  Unit& u = units_[x.lun()];
  truncate(u);
  if (u.used + length > capacity_) {
    if (!persist(x, u.position, false)) return;
    // Nothing of the record fits: VOLUME OVERFLOW at end of partition, all of it residue.
    return x.fail(Sense(volumeOverflow_c, 0x00, 0x02).endOfMedium().information(length));
  }
  u.objects.push_back(Object{false, std::vector<unsigned char>(x.out(), x.out() + length)});
  u.used += length;
  u.position++;
  x.outcome().transferred = length;
  persist(x, u.position - 1, false);
}

void Tape::readFixed(Exchange& x) {
  if (blockLength_ == 0) return x.invalidField(1, 0);  // variable-block mode
  if (x.cdb()[1] & 0x02) return x.invalidField(1, 1);  // SILI with FIXED
  const uint32_t count = getBe24(x.cdb() + 2);
  Unit& u = units_[x.lun()];
  std::vector<unsigned char> data;
  for (uint32_t i = 0; i < count; ++i) {
    // The residue is in blocks, not counting a block of the wrong length.
    if (u.position >= u.objects.size()) return x.send(data), x.fail(endOfDataSense(count - i));
    const Object& o = u.objects[u.position++];
    if (o.fileMark) return x.send(data), x.fail(fileMarkSense(count - i));
    if (o.bytes.size() != blockLength_)
      return x.send(data), x.fail(Sense(noSense_c, 0x00, 0x00).incorrectLength().information(count - i));
    data.insert(data.end(), o.bytes.begin(), o.bytes.end());
  }
  x.send(data);
}

void Tape::writeFixed(Exchange& x) {
  if (blockLength_ == 0) return x.invalidField(1, 0);
  const uint32_t count = getBe24(x.cdb() + 2);
  if (count == 0) return;
  Unit& u = units_[x.lun()];
  truncate(u);
  const size_t from = u.position;
  uint32_t done = 0;
  for (; done < count && u.used + blockLength_ <= capacity_; ++done) {
    const unsigned char* block = x.out() + size_t(done) * blockLength_;
    u.objects.push_back(Object{false, std::vector<unsigned char>(block, block + blockLength_)});
    u.used += blockLength_;
    u.position++;
  }
  x.outcome().transferred = done * static_cast<unsigned long>(blockLength_);
  if (!persist(x, from, false)) return;
  // The blocks that did not fit: VOLUME OVERFLOW at end of partition, their count the residue.
  if (done < count) x.fail(Sense(volumeOverflow_c, 0x00, 0x02).endOfMedium().information(count - done));
}

void Tape::writeFileMarks(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  if (cdb[1] & 0xFE) return x.invalidField(1, (cdb[1] & 0x02) ? 1 : -1);  // setmarks are not offered
  uint32_t count = getBe24(cdb + 2);
  Unit& u = units_[x.lun()];
  if (count == 0) return (void)persist(x, u.objects.size(), true);  // 0 filemarks: a flush
  truncate(u);
  const size_t from = u.position;
  u.objects.insert(u.objects.end(), count, Object{true, {}});
  u.position += count;
  persist(x, from, true);
}

void Tape::space(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  unsigned code = cdb[1] & 0x0F;
  if ((cdb[1] & 0xF0) || (code != 0 && code != 1 && code != 3)) return x.invalidField(1, code > 3 ? 3 : -1);
  Unit& u = units_[x.lun()];
  if (code == 3) {
    u.position = u.objects.size();
    return;
  }
  int32_t count = static_cast<int32_t>(getBe24(cdb + 2) << 8) >> 8;  // signed 24 bits
  bool blocks = code == 0;
  if (count > 0) {
    uint32_t done = 0;
    while (done < static_cast<uint32_t>(count)) {
      if (u.position >= u.objects.size()) return x.fail(endOfDataSense(count - done));
      const Object& o = u.objects[u.position++];
      if (o.fileMark && blocks) return x.fail(fileMarkSense(count - done));
      if (o.fileMark || blocks) ++done;
    }
  } else if (count < 0) {
    uint32_t wanted = static_cast<uint32_t>(-count), done = 0;
    while (done < wanted) {
      if (u.position == 0) return x.fail(beginningSense(wanted - done));
      const Object& o = u.objects[u.position - 1];
      --u.position;
      if (o.fileMark && blocks) return x.fail(fileMarkSense(wanted - done));  // on the mark's near side
      if (o.fileMark || blocks) ++done;
    }
  }
}

void Tape::readPosition(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  if (cdb[1] & 0x1F) return x.invalidField(1, 4);  // short form only
  const Unit& u = units_[x.lun()];
  unsigned char d[20] = {};
  if (u.position == 0) d[0] |= 0x80;  // BOP
  putBe32(d + 4, static_cast<uint32_t>(u.position));
  putBe32(d + 8, static_cast<uint32_t>(u.position));
  x.send(d, sizeof d);
}

}  // namespace qxscsi::backends::emulated
