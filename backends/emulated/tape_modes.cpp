// Tape commands about the drive rather than the data: block limits, the block descriptor of
// MODE SENSE/SELECT(6), LOAD UNLOAD and ERASE.
#include <algorithm>

#include "tape.h"
#include "wire/bytes.h"

namespace qxscsi::backends::emulated {

using namespace wire;

namespace {

// INVALID FIELD IN PARAMETER LIST (26h/00h) pointing at byte `index` of the parameter list.
Sense invalidParameter(unsigned index) {
  return Sense(illegalRequest_c, 0x26, 0x00).fieldPointer(false, index);
}

}  // namespace

uint32_t Tape::maxBlock() const {
  return static_cast<uint32_t>(std::min<unsigned long>(capacity_, 0xFFFFFF));
}

void Tape::readBlockLimits(Exchange& x) {
  if (x.cdb()[1] & 0x01) return x.invalidField(1, 0);  // MLOC: no maximum logical object identifier
  if (x.cdb()[1]) return x.invalidField(1);
  unsigned char d[6] = {};  // granularity 0: any length from the minimum to the maximum
  putBe24(d + 1, maxBlock());
  putBe16(d + 4, 1);
  x.send(d, sizeof d);
}

void Tape::modeSense(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  if (cdb[1] & 0xF7) return x.invalidField(1);
  const unsigned control = cdb[2] >> 6, page = cdb[2] & 0x3F;
  if (page != 0x00 && page != 0x3F) return x.invalidField(2, 5);  // no mode pages, only the descriptor
  if (cdb[3] != 0x00 && cdb[3] != 0xFF) return x.invalidField(3);
  if (control == 3) return x.fail(Sense(illegalRequest_c, 0x39, 0x00));  // SAVING PARAMETERS NOT SUPPORTED
  const bool descriptor = !(cdb[1] & 0x08);                              // DBD
  std::vector<unsigned char> d(descriptor ? 12 : 4, 0);
  d[0] = static_cast<unsigned char>(d.size() - 1);
  d[2] = 0x10;  // buffered mode 1; not write protected
  if (descriptor) {
    d[3] = 8;  // density code 0 (the default), number of blocks 0 (all), then the block length
    putBe24(&d[9], control == 1 ? 0xFFFFFFu : control == 2 ? 0u : blockLength_);
  }
  x.send(d);
}

void Tape::modeSelect(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  if (cdb[1] & 0x01) return x.invalidField(1, 0);  // SP: nothing is saved
  if (cdb[1] & 0xEE) return x.invalidField(1);
  const unsigned length = cdb[4];
  if (length == 0) return;
  const unsigned char* p = x.out();
  x.outcome().transferred = length;
  if (length < 4) return x.fail(Sense(illegalRequest_c, 0x1A, 0x00));  // PARAMETER LIST LENGTH ERROR
  const unsigned descriptorLength = p[3];
  if (descriptorLength != 0 && descriptorLength != 8) return x.fail(invalidParameter(3));
  if (4 + descriptorLength > length) return x.fail(Sense(illegalRequest_c, 0x1A, 0x00));
  if (length > 4 + descriptorLength) return x.fail(invalidParameter(4 + descriptorLength));  // no pages
  if (descriptorLength == 0) return;
  if (p[4] != 0x00) return x.fail(invalidParameter(4));  // density: the default only
  const uint32_t block = getBe24(p + 9);
  if (block > maxBlock()) return x.fail(invalidParameter(9));
  blockLength_ = block;
}

void Tape::loadUnload(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  if (cdb[1] & 0xFE) return x.invalidField(1);  // IMMED only
  if (cdb[4] & 0xF0) return x.invalidField(4);
  if (cdb[4] & 0x08) return x.invalidField(4, 3);  // HOLD
  if (cdb[4] & 0x04) return x.invalidField(4, 2);  // EOT
  // LOAD, or unload (with or without RETEN): at the beginning either way.
  Unit& u = units_[x.lun()];
  u.position = 0;
  if (!persist(x, u.objects.size(), true)) return;
  u.unloaded = !(cdb[4] & 0x01);
}

void Tape::erase(Exchange& x) {
  if (x.cdb()[1] & 0xFC) return x.invalidField(1);  // IMMED and LONG only
  // Short or long, the data end where the tape stands.
  Unit& u = units_[x.lun()];
  truncate(u);
  persist(x, u.position, true);
}

}  // namespace qxscsi::backends::emulated
