// The walk over the descriptors of descriptor-format sense data, each with its decoded fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <nlohmann/json.hpp>

namespace qxscsi::cli {

struct SenseDescriptor {
  unsigned type = 0;
  unsigned additionalLength = 0;
  size_t offset = 0;       // from the start of the sense data
  bool truncated = false;  // its additional length runs past the bytes given
  bool tooShort = false;   // its additional length is less than its type needs
  // type, type_hex, additional_length, then the decoded fields of a known type, or data_hex.
  nlohmann::json fields;
};

// Walks the descriptors of `length` bytes of descriptor-format sense data (the 8-byte header
// included; the caller has already cut `length` to what the additional length covers). A
// descriptor that runs past `length` is kept, marked truncated, and ends the walk. `depth` counts
// the forwarded sense data the walk is inside. The caller keeps `sense`; nothing refers to it after.
std::vector<SenseDescriptor> walkSenseDescriptors(const uint8_t* sense, size_t length, int depth = 0);

// The fields of the three sense-key specific bytes (SKSV bit first) for sense key `senseKey`:
// field or segment pointer, progress indication, retry count or the queue overflow flag.
nlohmann::json senseKeySpecificFields(unsigned senseKey, const uint8_t* sks);

struct SenseReport;
// decodeSense for sense data carried inside other sense data, `depth` levels down.
SenseReport decodeNestedSense(const uint8_t* sense, size_t length, int depth);

}  // namespace qxscsi::cli
