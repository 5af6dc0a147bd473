// Table-driven decoding of fixed-layout VPD pages, and the decoders of the pages the tool knows.
#pragma once

#include <cstddef>
#include <cstdint>

#include <nlohmann/json.hpp>

#include "cli/output.h"

namespace qxscsi::cli {

// How a field reads in text.
enum class FieldStyle : uint8_t {
  flag,     // "  NAME=1"
  number,   // "  Label: 12"
  blocks,   // "  Label: 12 blocks"
  hex,      // "  Label: 0xffff blocks" (8-byte counts; 0 in decimal)
  truth,    // "  Label: true"
  dropped,  // "  [NAME=1]": a flag the standards made obsolete
};

// One field of a page: `bytes` big-endian bytes from `offset`, the first of them masked with `mask`;
// a one-byte field's masked bits are shifted down. A field whose last byte did not arrive is left out.
struct VpdField {
  uint16_t offset;
  uint8_t bytes;
  uint8_t mask;
  FieldStyle style;
  const char* label;
  const char* key;                     // JSON key; a one-bit field is a boolean
  const char* const* names = nullptr;  // names of the values 0..nameCount-1, shown beside them
  uint8_t nameCount = 0;
  const char* zeroNote = nullptr;  // shown after the value when it is 0
};

// Decodes `fields` of the page `p` (`n` bytes that arrived and belong to it) into text lines and
// keys of `object`. Reads nothing at or beyond `n`; `p`, `fields` and `object` stay the caller's.
void describeFields(const uint8_t* p, size_t n, const VpdField* fields, size_t count, Output& out,
                    nlohmann::json& object);
template <size_t N>
void describeFields(const uint8_t* p, size_t n, const VpdField (&fields)[N], Output& out,
                    nlohmann::json& object) {
  describeFields(p, n, fields, N, out, object);
}

// Page decoders: `p` is the whole page (header included), `n` its bytes that arrived and belong to
// it (at least 4), borrowed for the call. Each adds one object to out.doc() under its own key.
void describeDeviceIdentification(const uint8_t* p, size_t n, Output& out);        // 83h
void describeExtendedInquiry(const uint8_t* p, size_t n, Output& out);             // 86h
void describeAtaInformation(const uint8_t* p, size_t n, Output& out);              // 89h
void describeBlockLimits(const uint8_t* p, size_t n, Output& out);                 // B0h
void describeBlockDeviceCharacteristics(const uint8_t* p, size_t n, Output& out);  // B1h
void describeLogicalBlockProvisioning(const uint8_t* p, size_t n, Output& out);    // B2h
void describeReferrals(const uint8_t* p, size_t n, Output& out);                   // B3h

}  // namespace qxscsi::cli
