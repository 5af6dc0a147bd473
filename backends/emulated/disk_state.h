// What an emulated disk keeps beyond its blocks: saved mode pages and persistent reservations.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qxscsi::backends::emulated {

// Persistent reservations of one logical unit. Keys are held per I_T nexus (initiator name).
struct Reservations {
  uint32_t generation = 0;               // PRGENERATION
  bool aptpl = false;                    // activate persist through power loss
  std::map<std::string, uint64_t> keys;  // registered initiators and their reservation keys
  unsigned char type = 0;                // 0: no reservation; else its type (1, 3, 5, 6, 7 or 8)
  std::string holder;                    // the holder (unused for the all-registrants types 7 and 8)

  bool reserved() const { return type != 0; }
  bool allRegistrants() const { return type == 7 || type == 8; }
  bool registered(const std::string& initiator) const { return keys.count(initiator) > 0; }
  bool holds(const std::string& initiator) const {
    return reserved() && (allRegistrants() ? registered(initiator) : holder == initiator);
  }
  bool operator==(const Reservations& o) const {
    return generation == o.generation && aptpl == o.aptpl && keys == o.keys && type == o.type &&
           holder == o.holder;
  }
};

// What RECEIVE COPY RESULTS (COPY STATUS) reports of a finished EXTENDED COPY.
struct HeldCopy {
  unsigned char state = 0x01;  // 01h completed without errors, 02h with errors
  uint16_t segments = 0;       // segments processed
  uint32_t bytes = 0;          // bytes moved
  bool operator==(const HeldCopy& o) const {
    return state == o.state && segments == o.segments && bytes == o.bytes;
  }
};

// A disk's kept state, per logical unit: the saved values of its mode pages (each page whole,
// from its page code byte), its persistent reservations and the results of its finished copies.
//
// encode() layout, all integers big-endian:
//   0  4  "QXDS"
//   4  1  version (1)
//   5  2  number of logical units U
//   then U times:
//      1  number of saved pages P, then P pages as MODE SENSE returns them (code, length L, L bytes)
//      1  flags: bit 0 APTPL: the reservations follow; bit 1: held copy results follow
//      [2 number of held results C (1-256), then C times: 1 list identifier, 1 copy state (01h or
//       02h), 2 segments processed, 4 bytes moved]
//      [4 generation, 1 type, 1 holder name length H, H bytes,
//       2 number of registrations R, then R times: 8 key, 1 name length N, N bytes]
//   4  CRC-32 (IEEE 802.3, as zlib computes it) of all the bytes before it
// Reservations without APTPL do not survive a power loss, so they are not written.
struct DiskState {
  struct Unit {
    std::map<unsigned char, std::vector<unsigned char>> savedPages;
    Reservations reservations;
    std::map<unsigned char, HeldCopy> copies;  // by list identifier
    bool operator==(const Unit& o) const {
      return savedPages == o.savedPages && reservations == o.reservations && copies == o.copies;
    }
  };
  std::vector<Unit> units;

  bool operator==(const DiskState& o) const { return units == o.units; }
  std::vector<unsigned char> encode() const;
  // Fills `out` from `bytes`; false with a readable `error` (and `out` untouched) when the bytes
  // are truncated, damaged, of another version or hold a page the disk does not have.
  static bool decode(const std::vector<unsigned char>& bytes, DiskState* out, std::string* error);

 private:
  static void encodeReservations(std::vector<unsigned char>& out, const Reservations& r);
};

// The mode pages a disk has (01h, 08h, 0Ah, 1Ch), in page code order, at their default values,
// and which of their bits MODE SELECT may change.
const std::vector<std::vector<unsigned char>>& defaultModePages();
const std::vector<unsigned char>* changeableMask(unsigned char code);
const std::vector<unsigned char>* defaultModePage(unsigned char code);

}  // namespace qxscsi::backends::emulated
