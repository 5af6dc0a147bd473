// Decoding of sense data into a report that the tool prints as text or JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

namespace qxscsi::cli {

struct SenseReport {
  bool present = false;  // false: no sense bytes at all (or all zero)
  bool descriptorFormat = false;
  unsigned responseCode = 0;
  unsigned senseKey = 0;
  unsigned asc = 0;
  unsigned ascq = 0;
  bool infoValid = false;
  unsigned long long information = 0;
  bool commandSpecificValid = false;
  unsigned long long commandSpecific = 0;
  bool sksv = false;
  unsigned long senseKeySpecific = 0;  // 23 bits, as carried in bytes 15..17 (or the descriptor)
  bool fileMark = false, endOfMedium = false, incorrectLength = false;
  size_t length = 0;  // bytes decoded
  std::string senseKeyText, ascText, sksText;
};

// Decodes `length` bytes of sense data (fixed or descriptor format). Reads nothing beyond `length`
// and nothing beyond what the sense data's own additional length covers.
SenseReport decodeSense(const uint8_t* sense, size_t length);

// Number of meaningful bytes in a sense buffer: 8 + additional length, at most `length`.
size_t senseLength(const uint8_t* sense, size_t length);

void printSense(std::ostream& os, const SenseReport& r, const std::string& indent = "");
// The report as JSON (null when no sense is present); with `bytes` (the decoded sense, r.length
// of them) also their hex.
nlohmann::json senseJson(const SenseReport& r, const uint8_t* bytes = nullptr);

// "0x" and at least `digits` lower-case hex digits: how codes and 64-bit values also appear in JSON.
std::string hexNumber(unsigned long long value, int digits);

// Text of a peripheral device type (0 disk, 1 tape, 8 changer, ...).
std::string deviceTypeText(unsigned pdt);

}  // namespace qxscsi::cli
