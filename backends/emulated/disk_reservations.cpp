// PERSISTENT RESERVE IN and OUT of the emulated disk, and the commands each reservation bars.
#include "disk.h"
#include "wire/bytes.h"

namespace qxscsi::backends::emulated {

using namespace wire;

namespace {

using Bytes = std::vector<unsigned char>;

// How a reservation held by another nexus treats a command.
enum class Access {
  always,  // allowed under every reservation
  read,    // allowed under the write-exclusive types, barred by the exclusive-access ones
  other,   // barred unless the nexus is registered under a registrants-only or all-registrants type
};

bool isReadCommand(unsigned char op) {
  return op == 0x08 || op == 0x28 || op == 0xA8 || op == 0x88 || op == 0x2F || op == 0x8F;
}

Access accessOf(const unsigned char* cdb) {
  switch (cdb[0]) {
    case 0x00:  // TEST UNIT READY
    case 0x03:  // REQUEST SENSE
    case 0x12:  // INQUIRY
    case 0x25:  // READ CAPACITY(10)
    case 0x4D:  // LOG SENSE
    case 0x5E:  // PERSISTENT RESERVE IN
    case 0x5F:  // PERSISTENT RESERVE OUT: its own rules below
    case 0xA0:  // REPORT LUNS
    case 0xA3:  // MAINTENANCE IN: REPORT TARGET PORT GROUPS, REPORT SUPPORTED OPERATION CODES
      return Access::always;
    case 0x9E:  // READ CAPACITY(16)
      return (cdb[1] & 0x1F) == 0x10 ? Access::always : Access::other;
    case 0x1B:  // START STOP UNIT: a start is allowed, a stop or eject is not
      return (cdb[4] & 0xF3) == 0x01 ? Access::always : Access::other;
    default:
      return isReadCommand(cdb[0]) ? Access::read : Access::other;
  }
}

bool validType(unsigned t) { return t == 1 || t == 3 || t == 5 || t == 6 || t == 7 || t == 8; }

enum : unsigned char {
  registerAction_c = 0x00,
  reserveAction_c = 0x01,
  releaseAction_c = 0x02,
  clearAction_c = 0x03,
  preemptAction_c = 0x04,
  preemptAbortAction_c = 0x05,
  registerIgnoreAction_c = 0x06,
};

}  // namespace

bool Disk::reservationConflict(Exchange& x) {
  const Reservations& r = state_.units[x.lun()].reservations;
  if (!r.reserved() || r.holds(x.initiator())) return false;
  const Access access = accessOf(x.cdb());
  if (access == Access::always) return false;
  const bool registered = r.registered(x.initiator());
  bool barred = true;
  switch (r.type) {
    case 1:  // write exclusive
      barred = access != Access::read;
      break;
    case 5:  // write exclusive, registrants only / all registrants
    case 7:
      barred = !registered && access != Access::read;
      break;
    case 6:  // exclusive access, registrants only / all registrants
    case 8:
      barred = !registered;
      break;
    default:  // 3, exclusive access
      break;
  }
  if (barred) x.conflict();
  return barred;
}

void Disk::persistentReserveIn(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  const Reservations& r = state_.units[x.lun()].reservations;
  Bytes d(8, 0);
  putBe32(&d[0], r.generation);
  switch (cdb[1]) {
    case 0x00:  // READ KEYS
      for (const auto& entry : r.keys) {
        d.resize(d.size() + 8);
        putBe64(&d[d.size() - 8], entry.second);
      }
      putBe32(&d[4], static_cast<uint32_t>(d.size() - 8));
      break;
    case 0x01:  // READ RESERVATION
      if (r.reserved()) {
        d.resize(24, 0);
        putBe32(&d[4], 16);
        if (!r.allRegistrants()) putBe64(&d[8], r.keys.at(r.holder));
        d[21] = r.type;  // scope 0: the logical unit
      }
      break;
    case 0x02:  // REPORT CAPABILITIES
      d = {0x00,
           0x08,
           0x01,                                                  // PTPL_C
           static_cast<unsigned char>(0x80 | (r.aptpl ? 1 : 0)),  // TMV, PTPL_A
           0xEA,
           0x01,  // types 7, 6, 5, 3, 1; type 8
           0x00,
           0x00};
      break;
    default:  // READ FULL STATUS and the rest are not offered
      return x.invalidBits(1, cdb[1]);
  }
  x.send(d);
}

void Disk::persistentReserveOut(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  const unsigned char action = cdb[1] & 0x1F;
  if (cdb[1] & 0xE0) return x.invalidBits(1, cdb[1] & 0xE0);
  if (action > registerIgnoreAction_c) return x.invalidField(1, 4);  // REGISTER AND MOVE and beyond
  const unsigned scope = cdb[2] >> 4, type = cdb[2] & 0x0F;
  const bool typed = action == reserveAction_c || action == releaseAction_c || action == preemptAction_c ||
                     action == preemptAbortAction_c;
  if (typed && scope != 0) return x.invalidField(2, 7);
  if (typed && !validType(type)) return x.invalidField(2, 3);
  if (x.expected() != 24) return x.parameterListLength();
  const unsigned char* p = x.out();
  if (p[20] & 0x08) return x.invalidParameter(20, 3);  // SPEC_I_PT is not offered
  if (p[20] & 0x04) return x.invalidParameter(20, 2);  // ALL_TG_PT: there is one target port
  const uint64_t key = getBe64(p), serviceKey = getBe64(p + 8);
  const std::string& me = x.initiator();
  Reservations& r = state_.units[x.lun()].reservations;
  const bool registered = r.registered(me);
  const unsigned lun = x.lun();

  if (action == registerAction_c || action == registerIgnoreAction_c) {
    if (action == registerAction_c && key != (registered ? r.keys.at(me) : 0)) return x.conflict();
    if (!registered && serviceKey == 0) return;  // nothing registered, nothing to unregister
    r.aptpl = p[20] & 0x01;
    if (serviceKey != 0) {
      r.keys[me] = serviceKey;
    } else {
      const bool held = r.holds(me);
      r.keys.erase(me);
      const bool ends = held && (!r.allRegistrants() || r.keys.empty());
      if (ends) {
        // The reservation goes with its holder; registrants of the registrants-only types hear of it.
        if (r.type == 5 || r.type == 6)
          for (const auto& entry : r.keys) raiseUnitAttentionFor(entry.first, lun, 0x2A, 0x04);
        r.type = 0;
        r.holder.clear();
      }
    }
    ++r.generation;
    return persist();
  }
  if (!registered || r.keys.at(me) != key) return x.conflict();
  switch (action) {
    case reserveAction_c:
      if (r.reserved()) {
        if (!r.holds(me) || r.type != type) return x.conflict();
        return;  // the holder asks again for what it holds
      }
      r.type = static_cast<unsigned char>(type);
      r.holder = me;
      return persist();
    case releaseAction_c:
      if (!r.holds(me)) return;  // no reservation, or another nexus's: nothing happens
      if (r.type != type) return x.fail(Sense(illegalRequest_c, 0x26, 0x04));
      if (type == 5 || type == 6 || type == 7 || type == 8)
        for (const auto& entry : r.keys)
          if (entry.first != me)
            raiseUnitAttentionFor(entry.first, lun, 0x2A, 0x04);  // RESERVATIONS RELEASED
      r.type = 0;
      r.holder.clear();
      return persist();
    case clearAction_c:
      for (const auto& entry : r.keys)
        if (entry.first != me) raiseUnitAttentionFor(entry.first, lun, 0x2A, 0x03);  // RESERVATIONS PREEMPTED
      r.keys.clear();
      r.type = 0;
      r.holder.clear();
      ++r.generation;
      return persist();
    default: {  // PREEMPT, PREEMPT AND ABORT (no task is ever outstanding to abort)
      const bool takesAll = r.reserved() && r.allRegistrants() && serviceKey == 0;
      const bool takesHolder = r.reserved() && !r.allRegistrants() && serviceKey == r.keys.at(r.holder);
      if (serviceKey == 0 && !takesAll) return x.invalidParameter(8);
      std::vector<std::string> removed;
      for (const auto& entry : r.keys)
        if (entry.first != me && (takesAll || entry.second == serviceKey)) removed.push_back(entry.first);
      if (removed.empty() && !takesAll && !takesHolder) return x.conflict();
      for (const std::string& who : removed) {
        r.keys.erase(who);
        raiseUnitAttentionFor(who, lun, 0x2A, 0x05);  // REGISTRATIONS PREEMPTED
      }
      if (takesAll || takesHolder) {
        r.type = static_cast<unsigned char>(type);
        r.holder = me;
      }
      ++r.generation;
      return persist();
    }
  }
}

}  // namespace qxscsi::backends::emulated
