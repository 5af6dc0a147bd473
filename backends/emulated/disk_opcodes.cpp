// The emulated disk's REPORT SUPPORTED OPERATION CODES, REPORT TARGET PORT GROUPS and WRITE AND
// VERIFY(10).
#include "disk.h"
#include "wire/bytes.h"

namespace qxscsi::backends::emulated {

using namespace wire;

namespace {

using Bytes = std::vector<unsigned char>;

// One command the disk carries out: its service action (when it has them) and its CDB usage
// data (the operation code, the service action in its field, then the bits of each CDB byte the
// device server looks at).
struct Supported {
  unsigned char op;
  bool hasAction;
  unsigned action;
  Bytes usage;
};

const Bytes x4 = {0xFF, 0xFF, 0xFF, 0xFF};

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// In operation code order, then service action order.
const std::vector<Supported>& supported() {
  static const std::vector<Supported> table = {
      {0x00, false, 0, {0x00, 0, 0, 0, 0, 0}},                                // TEST UNIT READY
      {0x03, false, 0, {0x03, 0, 0, 0, 0xFF, 0}},                             // REQUEST SENSE
      {0x08, false, 0, {0x08, 0x1F, 0xFF, 0xFF, 0xFF, 0}},                    // READ(6)
      {0x0A, false, 0, {0x0A, 0x1F, 0xFF, 0xFF, 0xFF, 0}},                    // WRITE(6)
      {0x12, false, 0, {0x12, 0x01, 0xFF, 0xFF, 0xFF, 0}},                    // INQUIRY
      {0x15, false, 0, {0x15, 0x11, 0, 0, 0xFF, 0}},                          // MODE SELECT(6)
      {0x1A, false, 0, {0x1A, 0x08, 0xFF, 0xFF, 0xFF, 0}},                    // MODE SENSE(6)
      {0x1B, false, 0, {0x1B, 0x01, 0, 0, 0x07, 0}},                          // START STOP UNIT
      {0x25, false, 0, {0x25, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0x01, 0}},     // READ CAPACITY(10)
      {0x28, false, 0, join({{0x28, 0x18}, x4, {0, 0xFF, 0xFF, 0}})},         // READ(10)
      {0x2A, false, 0, join({{0x2A, 0x18}, x4, {0, 0xFF, 0xFF, 0}})},         // WRITE(10)
      {0x2E, false, 0, join({{0x2E, 0x12}, x4, {0, 0xFF, 0xFF, 0}})},         // WRITE AND VERIFY(10)
      {0x2F, false, 0, join({{0x2F, 0x12}, x4, {0, 0xFF, 0xFF, 0}})},         // VERIFY(10)
      {0x35, false, 0, join({{0x35, 0x06}, x4, {0, 0xFF, 0xFF, 0}})},         // SYNCHRONIZE CACHE(10)
      {0x4D, false, 0, {0x4D, 0, 0xFF, 0xFF, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0}},  // LOG SENSE
      {0x55, false, 0, {0x55, 0x11, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0}},           // MODE SELECT(10)
      {0x5A, false, 0, {0x5A, 0x18, 0xFF, 0xFF, 0, 0, 0, 0xFF, 0xFF, 0}},     // MODE SENSE(10)
      {0x5E, true, 0x00, {0x5E, 0x00, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0}},         // PERSISTENT RESERVE IN
      {0x5E, true, 0x01, {0x5E, 0x01, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0}},
      {0x5E, true, 0x02, {0x5E, 0x02, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0}},
      {0x5F, true, 0x00, {0x5F, 0x00, 0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0}},  // PERSISTENT RESERVE OUT
      {0x5F, true, 0x01, {0x5F, 0x01, 0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0}},
      {0x5F, true, 0x02, {0x5F, 0x02, 0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0}},
      {0x5F, true, 0x03, {0x5F, 0x03, 0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0}},
      {0x5F, true, 0x04, {0x5F, 0x04, 0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0}},
      {0x5F, true, 0x05, {0x5F, 0x05, 0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0}},
      {0x5F, true, 0x06, {0x5F, 0x06, 0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0}},
      {0x83, true, 0x00, join({{0x83, 0x00}, Bytes(8, 0), x4, {0, 0}})},        // EXTENDED COPY (LID1)
      {0x84, true, 0x00, join({{0x84, 0x00, 0xFF}, Bytes(7, 0), x4, {0, 0}})},  // RECEIVE COPY RESULTS
      {0x84, true, 0x03, join({{0x84, 0x03, 0xFF}, Bytes(7, 0), x4, {0, 0}})},
      {0x88, false, 0, join({{0x88, 0x18}, x4, x4, x4, {0, 0}})},        // READ(16)
      {0x8A, false, 0, join({{0x8A, 0x18}, x4, x4, x4, {0, 0}})},        // WRITE(16)
      {0x8F, false, 0, join({{0x8F, 0x12}, x4, x4, x4, {0, 0}})},        // VERIFY(16)
      {0x91, false, 0, join({{0x91, 0x06}, x4, x4, x4, {0, 0}})},        // SYNCHRONIZE CACHE(16)
      {0x9E, true, 0x10, join({{0x9E, 0x10}, x4, x4, x4, {0x01, 0}})},   // READ CAPACITY(16)
      {0xA0, false, 0, join({{0xA0, 0, 0xFF, 0, 0, 0}, x4, {0, 0}})},    // REPORT LUNS
      {0xA3, true, 0x0A, join({{0xA3, 0xEA, 0, 0, 0, 0}, x4, {0, 0}})},  // REPORT TARGET PORT GROUPS
      {0xA3, true, 0x0C,
       join({{0xA3, 0x0C, 0x87, 0xFF, 0xFF, 0xFF}, x4, {0, 0}})},  // REPORT SUPPORTED OP. CODES
      {0xA8, false, 0, join({{0xA8, 0x18}, x4, x4, {0, 0}})},      // READ(12)
      {0xAA, false, 0, join({{0xAA, 0x18}, x4, x4, {0, 0}})},      // WRITE(12)
  };
  return table;
}

// The command timeouts descriptor: no nominal time given, 30 seconds recommended.
Bytes timeouts() { return {0x00, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 30}; }

}  // namespace

void Disk::reportSupportedOperationCodes(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  if (cdb[2] & 0x78) return x.invalidBits(2, cdb[2] & 0x78);
  const bool rctd = cdb[2] & 0x80;
  const unsigned options = cdb[2] & 0x07;
  const unsigned char op = cdb[3];
  const unsigned action = getBe16(cdb + 4);
  Bytes d;
  if (options == 0) {  // all commands
    d.assign(4, 0);
    for (const Supported& s : supported()) {
      Bytes e = {s.op, 0, 0, 0, 0, 0, 0, 0};
      putBe16(&e[2], s.action);
      e[5] = static_cast<unsigned char>((rctd ? 0x02 : 0) | (s.hasAction ? 0x01 : 0));  // CTDP, SERVACTV
      putBe16(&e[6], static_cast<uint32_t>(s.usage.size()));
      d.insert(d.end(), e.begin(), e.end());
      if (rctd) {
        Bytes t = timeouts();
        d.insert(d.end(), t.begin(), t.end());
      }
    }
    putBe32(&d[0], static_cast<uint32_t>(d.size() - 4));
    return x.send(d);
  }
  if (options > 2) return x.invalidField(2, 2);
  if (options == 1 && action != 0) return x.invalidField(4);
  const Supported* found = nullptr;
  bool opHasActions = false, opKnown = false;
  for (const Supported& s : supported()) {
    if (s.op != op) continue;
    opKnown = true;
    opHasActions = s.hasAction;
    if (!s.hasAction || s.action == action) found = &s;
  }
  // One operation code without a service action, or one with: the form must suit the command.
  if (opKnown && opHasActions != (options == 2)) return x.invalidField(2, options == 1 ? 0 : 1);
  d = {0, static_cast<unsigned char>(found ? 0x03 : 0x01), 0, 0};  // SUPPORT: 011b as the standard has it
  if (found) {
    d[1] |= rctd ? 0x80 : 0x00;  // CTDP
    putBe16(&d[2], static_cast<uint32_t>(found->usage.size()));
    d.insert(d.end(), found->usage.begin(), found->usage.end());
    if (rctd) {
      Bytes t = timeouts();
      d.insert(d.end(), t.begin(), t.end());
    }
  }
  x.send(d);
}

void Disk::reportTargetPortGroups(Exchange& x) {
  const unsigned format = x.cdb()[1] >> 5;
  if (format > 1) return x.invalidField(1, 7);
  // One target port group (1) holding the one target port (relative identifier 1), active/optimized.
  Bytes d(format == 1 ? 8 : 4, 0);
  if (format == 1) d[4] = 0x10;  // extended header, no implicit transition time
  const Bytes group = {0x80, 0x01, 0x00, 0x01, 0, 0x00, 0, 1, 0, 0, 0x00, 0x01};  // PREF, AO_SUP
  d.insert(d.end(), group.begin(), group.end());
  putBe32(&d[0], static_cast<uint32_t>(d.size() - 4));
  x.send(d);
}

void Disk::writeAndVerify(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  if (cdb[1] & 0x09) return x.invalidBits(1, cdb[1] & 0x09);    // reserved, obsolete
  if (((cdb[1] >> 1) & 0x03) > 1) return x.invalidField(1, 2);  // BYTCHK: 00b and 01b only
  // What is written is at once on the medium and reads back as written: the write is the whole
  // of it, and its checks (protection, range, length) are the write's.
  readWrite(x, true);
}

}  // namespace qxscsi::backends::emulated
