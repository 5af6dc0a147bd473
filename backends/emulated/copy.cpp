// The copy manager of the emulated disk: EXTENDED COPY (LID1) and RECEIVE COPY RESULTS.
#include <cstring>

#include "disk.h"
#include "wire/bytes.h"

namespace qxscsi::backends::emulated {

using namespace wire;

namespace {

constexpr unsigned headerLength_c = 16;
constexpr unsigned cscdLength_c = 32;
constexpr unsigned segmentLength_c = 28;  // block-to-block: 4 + 24

// ILLEGAL REQUEST, `asc`/`ascq`, pointing at byte `index` of the parameter list.
Sense listError(unsigned char asc, unsigned char ascq, unsigned index) {
  return Sense(illegalRequest_c, asc, ascq).fieldPointer(false, index);
}

}  // namespace

int Disk::findUnit(const unsigned char* d) const {
  unsigned codeSet = d[4] & 0x0F, association = (d[5] >> 4) & 0x03, type = d[5] & 0x0F, length = d[7];
  if (association != 0 || length > 20) return -1;
  for (unsigned lun = 0; lun < lunCount(); ++lun) {
    std::vector<unsigned char> all = designators(lun);
    for (size_t at = 0; at + 4 <= all.size(); at += 4 + all[at + 3]) {
      const unsigned char* mine = &all[at];
      if ((mine[0] & 0x0F) == codeSet && (mine[1] & 0x0F) == type && mine[3] == length &&
          std::memcmp(mine + 4, d + 8, length) == 0)
        return static_cast<int>(lun);
    }
  }
  return -1;
}

void Disk::extendedCopy(Exchange& x) {
  if (x.cdb()[1] & 0x1F) return x.invalidField(1, 4);  // only LID1 is offered
  unsigned long total = x.expected();
  if (total == 0) return;
  const unsigned char* p = x.out();
  if (total < headerLength_c) return x.fail(Sense(illegalRequest_c, 0x1A, 0x00));

  unsigned char listId = p[0];
  unsigned usage = (p[1] >> 3) & 0x03;
  uint32_t cscdBytes = getBe16(p + 2), segmentBytes = getBe32(p + 8), inlineBytes = getBe32(p + 12);
  if (usage == 1) return x.fail(listError(0x26, 0x00, 1));
  if (uint64_t(headerLength_c) + cscdBytes + segmentBytes + inlineBytes > total)
    return x.fail(Sense(illegalRequest_c, 0x1A, 0x00));
  if (cscdBytes % cscdLength_c != 0) return x.fail(listError(0x26, 0x00, 2));
  if (cscdBytes / cscdLength_c > maxCscdDescriptors_c) return x.fail(listError(0x26, 0x06, 2));
  if (inlineBytes != 0) return x.fail(listError(0x26, 0x0B, 12));

  // CSCD descriptors: identification descriptors naming logical units of this device.
  unsigned cscdCount = cscdBytes / cscdLength_c;
  std::vector<int> units(cscdCount, -1);
  for (unsigned i = 0; i < cscdCount; ++i) {
    unsigned at = headerLength_c + i * cscdLength_c;
    const unsigned char* d = p + at;
    if (d[0] != 0xE4) return x.fail(listError(0x26, 0x07, at));
    if ((d[1] & 0x1F) != 0x00) return x.fail(listError(0x26, 0x00, at + 1));  // block devices only
    if (getBe24(d + 29) != block_) return x.fail(listError(0x26, 0x00, at + 29));
    units[i] = findUnit(d);
  }

  // Segment descriptors: check them all before anything moves.
  struct Segment {
    unsigned source, destination;
    uint64_t blocks, from, to;
  };
  std::vector<Segment> segments;
  uint32_t at = headerLength_c + cscdBytes, end = at + segmentBytes;
  while (at < end) {
    if (end - at < 4) return x.fail(listError(0x26, 0x00, at));
    const unsigned char* s = p + at;
    if (s[0] != 0x02) return x.fail(listError(0x26, 0x09, at));
    if (getBe16(s + 2) != segmentLength_c - 4 || end - at < segmentLength_c)
      return x.fail(listError(0x26, 0x00, at + 2));
    if (segments.size() == maxSegmentDescriptors_c) return x.fail(listError(0x26, 0x08, 8));
    Segment g{getBe16(s + 4), getBe16(s + 6), getBe16(s + 10), getBe64(s + 12), getBe64(s + 20)};
    if (g.source >= cscdCount) return x.fail(listError(0x26, 0x00, at + 4));
    if (g.destination >= cscdCount) return x.fail(listError(0x26, 0x00, at + 6));
    segments.push_back(g);
    at += segmentLength_c;
  }

  // Carry the segments out in order; the first failing one ends the copy.
  HeldCopy status;
  Sense failure;
  bool failed = false;
  for (const Segment& g : segments) {
    int src = units[g.source], dst = units[g.destination];
    if (src < 0 || dst < 0) {
      failure = Sense(copyAborted_c, 0x0D, 0x02);  // COPY TARGET DEVICE NOT REACHABLE
      failed = true;
      break;
    }
    if (g.from + g.blocks > capacity_ || g.to + g.blocks > capacity_ || g.from > capacity_ ||
        g.to > capacity_) {
      failure = Sense(copyAborted_c, 0x21, 0x00);  // LOGICAL BLOCK ADDRESS OUT OF RANGE
      failed = true;
      break;
    }
    size_t n = static_cast<size_t>(g.blocks * block_);
    if (n > 0) {
      scratch_.resize(n);
      if (!units_[src].medium->read(g.from * block_, scratch_.data(), n)) {
        failure = Sense(copyAborted_c, 0x11, 0x00);  // UNRECOVERED READ ERROR
        failed = true;
        break;
      }
      if (!units_[dst].medium->write(g.to * block_, scratch_.data(), n)) {
        failure = Sense(copyAborted_c, 0x0C, 0x00);  // WRITE ERROR
        failed = true;
        break;
      }
    }
    status.segments++;
    status.bytes += static_cast<uint32_t>(n);
  }
  x.outcome().transferred = total;
  if (failed) {
    status.state = 0x02;
    x.fail(failure);
  }
  if (usage == 0) {
    state_.units[x.lun()].copies[listId] = status;
    persist();
  }
}

void Disk::receiveCopyResults(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  switch (cdb[1] & 0x1F) {
    case 0x00: {  // COPY STATUS
      auto& held = state_.units[x.lun()].copies;
      auto it = held.find(cdb[2]);
      if (it == held.end()) return x.invalidField(2);
      unsigned char d[12] = {};
      putBe32(d, sizeof d - 4);
      d[4] = it->second.state;
      putBe16(d + 5, it->second.segments);
      d[7] = 0x00;  // transfer count in bytes
      putBe32(d + 8, it->second.bytes);
      return x.send(d, sizeof d);
    }
    case 0x03: {  // OPERATING PARAMETERS
      unsigned char d[46] = {};
      putBe32(d, sizeof d - 4);
      d[4] = 0x01;  // SNLID: list identifier usage 11b is accepted
      putBe16(d + 8, maxCscdDescriptors_c);
      putBe16(d + 10, maxSegmentDescriptors_c);
      putBe32(d + 12, maxCscdDescriptors_c * cscdLength_c + maxSegmentDescriptors_c * segmentLength_c);
      putBe32(d + 16,
              static_cast<uint32_t>(0xFFFFul * block_ > 0xFFFFFFFFul ? 0xFFFFFFFFul : 0xFFFFul * block_));
      putBe16(d + 34, 1);  // total concurrent copies
      d[36] = 1;           // maximum concurrent copies
      unsigned granularity = 0;
      while ((1ul << (granularity + 1)) <= block_ && (block_ % (1ul << (granularity + 1))) == 0)
        ++granularity;
      d[37] = static_cast<unsigned char>(granularity);
      d[43] = 2;  // implemented descriptor type codes
      d[44] = 0x02;
      d[45] = 0xE4;
      return x.send(d, sizeof d);
    }
    default:
      return x.invalidField(1, 4);
  }
}

}  // namespace qxscsi::backends::emulated
