// The kept state of an emulated disk: its mode pages and the byte layout of DiskState.
#include "disk_state.h"

#include <cstring>

#include "crc32.h"
#include "wire/bytes.h"

namespace qxscsi::backends::emulated {

using namespace wire;

namespace {

using Bytes = std::vector<unsigned char>;

// Each page with its default values, then the mask of the bits MODE SELECT may change.
struct PageTable {
  std::vector<Bytes> defaults;
  std::map<unsigned char, Bytes> masks;
};

const PageTable& pages() {
  static const PageTable table = [] {
    PageTable t;
    // Read-Write Error Recovery: AWRE and ARRE set; retry counts and recovery time changeable.
    t.defaults.push_back({0x01, 0x0A, 0xC0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    t.masks[0x01] = {0, 0, 0xC0, 0xFF, 0, 0, 0, 0, 0xFF, 0, 0xFF, 0xFF};
    // Caching: write cache enabled; WCE and RCD changeable.
    t.defaults.push_back({0x08, 0x12, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    t.masks[0x08] = Bytes(20, 0);
    t.masks[0x08][2] = 0x05;
    // Control: GLTSD set (no global logging target save), QAM 1 (unrestricted reordering);
    // GLTSD changeable.
    t.defaults.push_back({0x0A, 0x0A, 0x02, 0x10, 0, 0, 0, 0, 0, 0, 0, 0});
    t.masks[0x0A] = Bytes(12, 0);
    t.masks[0x0A][2] = 0x02;
    // Informational Exceptions Control: DEXCPT set (reporting disabled); PERF, EWASC, DEXCPT,
    // TEST, LOGERR, MRIE, the interval timer and the report count changeable.
    t.defaults.push_back({0x1C, 0x0A, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    t.masks[0x1C] = {0, 0, 0x9D, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    return t;
  }();
  return table;
}

const char magic_c[] = "QXDS";
constexpr unsigned char version_c = 1;

void putName(Bytes& out, const std::string& name) {
  out.push_back(static_cast<unsigned char>(name.size()));
  out.insert(out.end(), name.begin(), name.end());
}

// Reads the encoded bytes front to back; every read checks that the bytes are there.
class Reader {
 public:
  Reader(const unsigned char* p, size_t n) : p_(p), n_(n) {}
  bool take(size_t k, const unsigned char*& at) {
    if (n_ - i_ < k) return false;
    at = p_ + i_;
    i_ += k;
    return true;
  }
  bool byte(unsigned& v) {
    const unsigned char* at;
    if (!take(1, at)) return false;
    v = at[0];
    return true;
  }
  bool name(std::string& s) {
    unsigned k;
    const unsigned char* at;
    if (!byte(k) || !take(k, at)) return false;
    s.assign(reinterpret_cast<const char*>(at), k);
    return true;
  }
  size_t offset() const { return i_; }
  bool done() const { return i_ == n_; }

 private:
  const unsigned char* p_;
  size_t n_;
  size_t i_ = 0;
};

bool validType(unsigned t) { return t == 1 || t == 3 || t == 5 || t == 6 || t == 7 || t == 8; }

}  // namespace

const std::vector<std::vector<unsigned char>>& defaultModePages() { return pages().defaults; }

const std::vector<unsigned char>* changeableMask(unsigned char code) {
  auto it = pages().masks.find(code);
  return it == pages().masks.end() ? nullptr : &it->second;
}

const std::vector<unsigned char>* defaultModePage(unsigned char code) {
  for (const Bytes& p : pages().defaults)
    if (p[0] == code) return &p;
  return nullptr;
}

std::vector<unsigned char> DiskState::encode() const {
  Bytes out(magic_c, magic_c + 4);
  out.push_back(version_c);
  out.resize(7);
  putBe16(&out[5], static_cast<uint32_t>(units.size()));
  for (const Unit& u : units) {
    out.push_back(static_cast<unsigned char>(u.savedPages.size()));
    for (const auto& [code, page] : u.savedPages) out.insert(out.end(), page.begin(), page.end());
    const Reservations& r = u.reservations;
    out.push_back(static_cast<unsigned char>((r.aptpl ? 0x01 : 0x00) | (u.copies.empty() ? 0x00 : 0x02)));
    if (!u.copies.empty()) {
      out.resize(out.size() + 2);
      putBe16(&out[out.size() - 2], static_cast<uint32_t>(u.copies.size()));
      for (const auto& [id, c] : u.copies) {
        out.insert(out.end(), {id, c.state, 0, 0, 0, 0, 0, 0});
        putBe16(&out[out.size() - 6], c.segments);
        putBe32(&out[out.size() - 4], c.bytes);
      }
    }
    if (r.aptpl) encodeReservations(out, r);
  }
  out.resize(out.size() + 4);
  putBe32(&out[out.size() - 4], crc32(out.data(), out.size() - 4));
  return out;
}

void DiskState::encodeReservations(std::vector<unsigned char>& out, const Reservations& r) {
  out.resize(out.size() + 5);
  putBe32(&out[out.size() - 5], r.generation);
  out.back() = r.type;
  putName(out, r.holder);
  out.resize(out.size() + 2);
  putBe16(&out[out.size() - 2], static_cast<uint32_t>(r.keys.size()));
  for (const auto& [name, key] : r.keys) {
    out.resize(out.size() + 8);
    putBe64(&out[out.size() - 8], key);
    putName(out, name);
  }
}

bool DiskState::decode(const std::vector<unsigned char>& bytes, DiskState* out, std::string* error) {
  auto bad = [&](const std::string& why) {
    if (error) *error = "disk state: " + why;
    return false;
  };
  if (bytes.size() < 11) return bad("only " + std::to_string(bytes.size()) + " bytes");
  if (std::memcmp(bytes.data(), magic_c, 4) != 0) return bad("not a disk state (no \"QXDS\" at its start)");
  if (bytes[4] != version_c) return bad("version " + std::to_string(bytes[4]) + " is not known");
  const size_t body = bytes.size() - 4;
  if (getBe32(&bytes[body]) != crc32(bytes.data(), body))
    return bad("checksum mismatch: the bytes are damaged");
  Reader in(bytes.data() + 7, body - 7);
  DiskState state;
  state.units.resize(getBe16(&bytes[5]));
  for (size_t n = 0; n < state.units.size(); ++n) {
    Unit& u = state.units[n];
    const std::string where = "logical unit " + std::to_string(n) + ": ";
    unsigned count, flags;
    if (!in.byte(count)) return bad(where + "truncated");
    for (unsigned i = 0; i < count; ++i) {
      const unsigned char* head;
      const unsigned char* rest;
      if (!in.take(2, head) || !in.take(head[1], rest)) return bad(where + "truncated mode page");
      const Bytes* known = defaultModePage(head[0]);
      if (!known || known->size() != 2u + head[1] || u.savedPages.count(head[0]))
        return bad(where + "mode page " + std::to_string(head[0]) + " of " + std::to_string(head[1]) +
                   " bytes is not one of the disk's");
      Bytes page(head, head + 2);
      page.insert(page.end(), rest, rest + head[1]);
      u.savedPages[head[0]] = std::move(page);
    }
    if (!in.byte(flags)) return bad(where + "truncated");
    if (flags & 0xFC) return bad(where + "unknown flags");
    if (flags & 0x02) {
      const unsigned char* count;
      if (!in.take(2, count)) return bad(where + "truncated copy results");
      const unsigned held = getBe16(count);
      if (held == 0 || held > 256) return bad(where + std::to_string(held) + " held copy results");
      for (unsigned i = 0; i < held; ++i) {
        const unsigned char* c;
        if (!in.take(8, c)) return bad(where + "truncated copy results");
        if (c[1] != 0x01 && c[1] != 0x02) return bad(where + "copy state " + std::to_string(c[1]));
        if (!u.copies.emplace(c[0], HeldCopy{c[1], static_cast<uint16_t>(getBe16(c + 2)), getBe32(c + 4)}).second)
          return bad(where + "copy results of one list identifier twice");
      }
    }
    Reservations& r = u.reservations;
    r.aptpl = flags & 0x01;
    if (!r.aptpl) continue;
    const unsigned char* generation;
    const unsigned char* registrations;
    unsigned type;
    if (!in.take(4, generation) || !in.byte(type) || !in.name(r.holder) || !in.take(2, registrations))
      return bad(where + "truncated reservations");
    r.generation = getBe32(generation);
    r.type = static_cast<unsigned char>(type);
    const unsigned keys = getBe16(registrations);
    if (type != 0 && !validType(type)) return bad(where + "reservation type " + std::to_string(type));
    for (unsigned i = 0; i < keys; ++i) {
      const unsigned char* k;
      std::string name;
      if (!in.take(8, k) || !in.name(name)) return bad(where + "truncated registration");
      if (!r.keys.emplace(name, getBe64(k)).second) return bad(where + "initiator registered twice");
    }
    if (r.reserved() && !r.allRegistrants() && !r.registered(r.holder))
      return bad(where + "the reservation holder is not registered");
    if (r.reserved() && r.keys.empty()) return bad(where + "a reservation without registrations");
  }
  if (!in.done()) return bad(std::to_string(body - 7 - in.offset()) + " bytes beyond the last logical unit");
  *out = std::move(state);
  return true;
}

}  // namespace qxscsi::backends::emulated
