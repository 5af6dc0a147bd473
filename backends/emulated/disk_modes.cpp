// MODE SENSE and MODE SELECT of the emulated disk: pages 01h, 08h, 0Ah and 1Ch.
#include <algorithm>

#include "disk.h"
#include "wire/bytes.h"

namespace qxscsi::backends::emulated {

using namespace wire;

namespace {

using Bytes = std::vector<unsigned char>;

constexpr unsigned char allPages_c = 0x3F;
constexpr unsigned char dpoFua_c = 0x10;  // device-specific parameter: DPO and FUA accepted

int highestBit(unsigned v) {
  int b = 7;
  while (b > 0 && !(v & (1u << b))) --b;
  return b;
}

}  // namespace

// The page `code` of `lun` as PC `pc` asks: 0 current, 1 changeable, 2 default, 3 saved values.
std::vector<unsigned char> Disk::modePage(unsigned lun, unsigned char code, unsigned pc) const {
  Bytes page;
  switch (pc) {
    case 0:
      page = currentPages_[lun].at(code);
      break;
    case 1:
      page = *changeableMask(code);
      page[0] = code;
      page[1] = static_cast<unsigned char>(page.size() - 2);
      break;
    case 2:
      page = *defaultModePage(code);
      break;
    default:
      page = state_.units[lun].savedPages.at(code);
      break;
  }
  page[0] |= 0x80;  // PS: every page can be saved
  return page;
}

void Disk::modeSense(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  const bool ten = x.op() == 0x5A;
  const unsigned reserved = ten ? 0xE7 : 0xF7;  // DBD (and LLBAA in the 10-byte form) only
  if (cdb[1] & reserved) return x.invalidBits(1, cdb[1] & reserved);
  const unsigned pc = cdb[2] >> 6;
  const unsigned char code = cdb[2] & 0x3F;
  if (cdb[3] != 0x00 && cdb[3] != 0xFF) return x.invalidField(3);  // no page has subpages
  std::vector<Bytes> pages;
  for (const Bytes& page : defaultModePages())
    if (code == allPages_c || page[0] == code) pages.push_back(modePage(x.lun(), page[0], pc));
  if (pages.empty()) return x.invalidField(2, 5);

  const bool blockDescriptor = !(cdb[1] & 0x08);
  const bool longLba = ten && (cdb[1] & 0x10);
  Bytes d(ten ? 8 : 4, 0);
  d[ten ? 3 : 2] = dpoFua_c;
  if (blockDescriptor) {
    Bytes b(longLba ? 16 : 8, 0);
    if (longLba) {
      putBe64(&b[0], capacity_);
      putBe32(&b[12], static_cast<uint32_t>(block_));
    } else {
      putBe32(&b[0], static_cast<uint32_t>(std::min<unsigned long>(capacity_, 0xFFFFFFFFul)));
      putBe24(&b[5], static_cast<uint32_t>(block_));
    }
    if (ten) {
      d[4] = longLba ? 0x01 : 0x00;
      putBe16(&d[6], static_cast<uint32_t>(b.size()));
    } else {
      d[3] = static_cast<unsigned char>(b.size());
    }
    d.insert(d.end(), b.begin(), b.end());
  }
  for (const Bytes& page : pages) d.insert(d.end(), page.begin(), page.end());
  if (ten)
    putBe16(&d[0], static_cast<uint32_t>(d.size() - 2));
  else
    d[0] = static_cast<unsigned char>(d.size() - 1);
  x.send(d);
}

void Disk::modeSelect(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  const bool ten = x.op() == 0x55;
  if (cdb[1] & 0xEE) return x.invalidBits(1, cdb[1] & 0xEE);  // PF and SP only
  if (!(cdb[1] & 0x10)) return x.invalidField(1, 4);          // only pages in page format
  const bool save = cdb[1] & 0x01;
  const unsigned long n = x.expected();
  if (n == 0) return;  // no parameter list: nothing to do
  const unsigned header = ten ? 8 : 4;
  if (n < header) return x.parameterListLength();
  const unsigned char* p = x.out();
  // Mode data length is reserved here and the device-specific parameter has nothing to change.
  if (p[1] != 0) return x.invalidParameter(1);  // medium type
  if (ten && (p[4] & 0xFE)) return x.invalidParameter(4, highestBit(p[4] & 0xFE));
  const bool longLba = ten && (p[4] & 0x01);
  const unsigned long descriptors = ten ? getBe16(p + 6) : p[3];
  if (descriptors != 0 && descriptors != (longLba ? 16u : 8u)) return x.invalidParameter(ten ? 6 : 3);
  if (header + descriptors > n) return x.parameterListLength();
  if (descriptors) {
    // The block descriptor may only restate the capacity (or give 0 blocks) and the block length.
    const unsigned char* b = p + header;
    const uint64_t blocks = longLba ? getBe64(b) : getBe32(b);
    const uint32_t length = longLba ? getBe32(b + 12) : getBe24(b + 5);
    if (blocks != 0 && blocks != capacity_) return x.invalidParameter(header);
    if ((longLba ? getBe32(b + 8) : b[4]) != 0) return x.invalidParameter(header + (longLba ? 8 : 4));
    if (length != block_) return x.invalidParameter(header + (longLba ? 12 : 5));
  }
  std::map<unsigned char, Bytes> staged = currentPages_[x.lun()];
  for (unsigned long at = header + descriptors; at < n;) {
    if (n - at < 2) return x.parameterListLength();
    if (p[at] & 0x40) return x.invalidParameter(at, 6);  // SPF: no page has subpages
    const unsigned char code = p[at] & 0x3F;             // PS is reserved here
    const Bytes* mask = changeableMask(code);
    if (!mask) return x.invalidParameter(at, highestBit(code));
    if (p[at + 1] != mask->size() - 2) return x.invalidParameter(at + 1);
    if (n - at < mask->size()) return x.parameterListLength();
    Bytes& page = staged.at(code);
    for (unsigned i = 2; i < mask->size(); ++i) {
      const unsigned fixed = (p[at + i] ^ page[i]) & ~(*mask)[i] & 0xFFu;
      if (fixed) return x.invalidParameter(at + i, highestBit(fixed));
    }
    std::copy(p + at + 2, p + at + mask->size(), page.begin() + 2);
    at += mask->size();
  }
  const bool changed = staged != currentPages_[x.lun()];
  currentPages_[x.lun()] = staged;
  if (changed) raiseUnitAttention(x.lun(), 0x2A, 0x01, &x.initiator());  // MODE PARAMETERS CHANGED
  if (save) {
    state_.units[x.lun()].savedPages = std::move(staged);
    persist();
  }
}

}  // namespace qxscsi::backends::emulated
