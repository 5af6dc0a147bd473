// Mode pages: the MODE SENSE and MODE SELECT CDBs, and field-by-field decoders of the pages modes knows (01h, 08h, 0Ah, 1Ch).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>

#include <nlohmann/json.hpp>

namespace qxscsi::cli {

constexpr unsigned char modeSense6Code = 0x1a, modeSense10Code = 0x5a;
constexpr unsigned char modeSelect6Code = 0x15, modeSelect10Code = 0x55;

// Writes the operation code (`code6` or `code10`) and the length field of a MODE SENSE or MODE
// SELECT CDB of the (6) or the (10) form into `cdb`; returns the CDB's length.
unsigned char modeCdb(unsigned char (&cdb)[10], bool six, unsigned char code6, unsigned char code10, size_t length);

// A field of a decoded page: `bits` wide ending at bit `low` of byte `byte` (bits <= 8), or
// `bits`/8 whole bytes from `byte` on (big-endian).
struct ModeField {
  const char* acronym;
  const char* key;  // JSON key
  const char* description;
  unsigned byte, low, bits;
};

// The fields of page `code` (no subpage) in page order, `count` of them; null for a page not decoded.
// The table is static: the caller owns nothing.
const ModeField* modePageFields(unsigned code, size_t& count);

// The field's value in `page`, and the page with the field set to `value` (which must fit).
// Both read or write only bytes up to the field's last, which the caller has checked the page holds.
uint32_t modeFieldValue(const uint8_t* page, const ModeField& f);
void setModeField(uint8_t* page, const ModeField& f, uint32_t value);
// The last byte of the page the field occupies.
unsigned modeFieldLastByte(const ModeField& f);

// The name of page `code`/`subpage` when it is decoded field by field; null otherwise.
const char* modePageName(unsigned code, unsigned subpage);

// Writes the fields of the page in `page` (its `length` bytes, header included, all received) as
// lines on `text` and as `fields`; false (nothing written) for a page it does not know. Fields
// past the page's end are left out.
bool describeModePage(const uint8_t* page, size_t length, std::ostream& text, nlohmann::json& fields);

}  // namespace qxscsi::cli
