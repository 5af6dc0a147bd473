// Decoding of sense data into a report that the tool prints as text or JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/sense_descriptors.h"

namespace qxscsi::cli {

enum class SenseFormat { fixed, descriptor, vendorSpecific, unknown };

struct SenseReport {
  bool present = false;  // false: no sense bytes at all (or all zero)
  SenseFormat format = SenseFormat::unknown;
  bool descriptorFormat = false;
  bool deferred = false;  // response code 71h or 73h
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
  uint8_t sksBytes[3] = {0, 0, 0};
  bool fileMark = false, endOfMedium = false, incorrectLength = false;
  size_t length = 0;    // bytes decoded: 8 + additional length, at most the bytes given
  size_t received = 0;  // bytes given
  size_t claimed = 0;   // 8 + additional length; 0 when the additional length did not arrive
  std::string tooShort;  // why the bytes cannot hold what the sense data needs or claims; empty: they can
  std::vector<SenseDescriptor> descriptors;  // descriptor format: each one, in order
  std::string senseKeyText, ascText, sksText;
};

// Decodes `length` bytes of sense data (fixed or descriptor format). Reads nothing beyond `length`
// and nothing beyond what the sense data's own additional length covers. The caller keeps `sense`.
SenseReport decodeSense(const uint8_t* sense, size_t length);

// Number of meaningful bytes in a sense buffer: 8 + additional length, at most `length`.
size_t senseLength(const uint8_t* sense, size_t length);

// The compact report of a failed command's sense, one field a line.
void printSense(std::ostream& os, const SenseReport& r, const std::string& indent = "");
// The sense data as libsgutils2 decodes it (the text sg3_utils' tools show), lines of untrusted
// device text escaped, then a line saying why the data is too short when it is.
void printSenseDecoded(std::ostream& os, const SenseReport& r, const uint8_t* bytes);
// The report as JSON (null when no sense is present); with `bytes` (the decoded sense, r.length
// of them) also their hex.
nlohmann::json senseJson(const SenseReport& r, const uint8_t* bytes = nullptr);

// "0x" and at least `digits` lower-case hex digits: how codes and 64-bit values also appear in JSON.
std::string hexNumber(unsigned long long value, int digits);

// Text of a peripheral device type (0 disk, 1 tape, 8 changer, ...).
std::string deviceTypeText(unsigned pdt);

}  // namespace qxscsi::cli
