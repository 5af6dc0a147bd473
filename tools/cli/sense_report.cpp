// Sense decoding: fields through the library's sense view, texts from libsgutils2.
#include "cli/sense_report.h"

#include "cli/hex.h"

#include <cstdio>
#include <cstring>

#include <scsi/sg_lib.h>

#include "qxscsi/sense.h"
#include "wire/bytes.h"

namespace qxscsi::cli {
namespace {

std::string skSpecificText(const SenseReport& r) {
  if (!r.sksv) return "";
  unsigned long v = r.senseKeySpecific;
  char buf[160];
  switch (r.senseKey) {
    case 0x5: {  // ILLEGAL REQUEST: field pointer
      bool cd = (v >> 22) & 1, bpv = (v >> 19) & 1;
      unsigned bit = (v >> 16) & 7, field = v & 0xffff;
      if (bpv)
        std::snprintf(buf, sizeof buf, "error in %s, byte %u bit %u", cd ? "CDB" : "parameter data", field,
                      bit);
      else
        std::snprintf(buf, sizeof buf, "error in %s, byte %u", cd ? "CDB" : "parameter data", field);
      return buf;
    }
    case 0x0:
    case 0x2:  // progress indication
      std::snprintf(buf, sizeof buf, "progress %.2f%%", (v & 0xffff) * 100.0 / 65536.0);
      return buf;
    case 0x1:
    case 0x3:
    case 0x4:
      std::snprintf(buf, sizeof buf, "actual retry count %lu", v & 0xffff);
      return buf;
    case 0xa:
      std::snprintf(buf, sizeof buf, "segment %lu%s", v & 0xffff,
                    (v >> 21) & 1 ? " (segment descriptor)" : "");
      return buf;
    case 0x6:
      return (v & 1) ? "unit attention condition queue overflow" : "";
    default:
      std::snprintf(buf, sizeof buf, "0x%06lx", v);
      return buf;
  }
}

// Top-level fields from the descriptors that carry them (the first complete one of each kind).
void takeDescriptorFields(const uint8_t* sense, SenseReport& r) {
  bool info = false, command = false, sks = false;
  for (const SenseDescriptor& d : r.descriptors) {
    if (d.truncated || d.tooShort) continue;
    const nlohmann::json& f = d.fields;
    const bool block = d.type == 0x0d;
    if ((d.type == 0x00 || block) && !info) {
      info = true;
      r.infoValid = f.at("information_valid").get<bool>();
      r.information = f.at("information").get<unsigned long long>();
    }
    if ((d.type == 0x01 || block) && !command) {
      command = r.commandSpecificValid = true;
      r.commandSpecific = f.at("command_specific_information").get<unsigned long long>();
    }
    if ((d.type == 0x02 || block) && !sks) {
      sks = true;
      r.sksv = f.at("sense_key_specific_valid").get<bool>();
      r.senseKeySpecific = f.at("sense_key_specific").get<unsigned long>();
      const uint8_t* p = sense + d.offset + 4;
      for (int i = 0; i < 3; ++i) r.sksBytes[i] = p[i];
    }
    if (d.type == 0x04) {
      r.fileMark = r.fileMark || f.at("filemark").get<bool>();
      r.endOfMedium = r.endOfMedium || f.at("end_of_medium").get<bool>();
    }
    if (d.type == 0x04 || d.type == 0x05 || block)
      r.incorrectLength = r.incorrectLength || f.at("incorrect_length").get<bool>();
  }
}

std::string claimsMore(size_t claimed, size_t received) {
  return "the additional length claims " + std::to_string(claimed) + " bytes: " + std::to_string(received) +
         " given";
}

void decodeFixed(const uint8_t* sense, SenseReport& r) {
  if (r.received < 8) {
    r.tooShort = "fixed format sense data needs 8 bytes to give its additional length: " +
                 std::to_string(r.received) + " given";
  } else if (r.claimed > r.received) {
    r.tooShort = claimsMore(r.claimed, r.received);
  } else if (r.length < 18) {
    r.tooShort = "fixed format sense data has its fields in 18 bytes: " + std::to_string(r.length) + " claimed";
  }
  // The view reads the fixed positions; it answers 0 for bytes it does not hold.
  QXScsiSenseData view(sense, static_cast<unsigned long>(r.length));
  r.infoValid = view.infoValid();
  r.senseKey = view.senseKey();
  r.fileMark = view.fileMark();
  r.endOfMedium = view.endOfMedia();
  r.incorrectLength = view.illegalLength();
  r.information = view.information();
  r.commandSpecificValid = r.length >= 12;
  r.commandSpecific = view.commandSpecific();
  r.asc = view.additionalSenseCode();
  r.ascq = view.additionalSenseQualifier();
  r.sksv = view.isSenseKeySpecificValid();
  r.senseKeySpecific = view.senseKeySpecific();
  if (r.length >= 18)
    for (int i = 0; i < 3; ++i) r.sksBytes[i] = sense[15 + i];
}

void decodeDescriptorFormat(const uint8_t* sense, SenseReport& r, int depth) {
  r.senseKey = r.received > 1 ? (sense[1] & 0x0f) : 0;
  r.asc = r.received > 2 ? sense[2] : 0;
  r.ascq = r.received > 3 ? sense[3] : 0;
  if (r.received < 8) {
    r.tooShort = "descriptor format sense data needs its 8-byte header: " + std::to_string(r.received) + " given";
    return;
  }
  if (r.claimed > r.received) r.tooShort = claimsMore(r.claimed, r.received);
  r.descriptors = walkSenseDescriptors(sense, r.length, depth);
  for (const SenseDescriptor& d : r.descriptors) {
    if (d.truncated && r.tooShort.empty()) {
      char buf[160];
      std::snprintf(buf, sizeof buf, "descriptor %02xh at byte %zu claims %u bytes: %zu remain", d.type, d.offset,
                    2 + d.additionalLength, r.length - d.offset);
      r.tooShort = buf;
    }
  }
  takeDescriptorFields(sense, r);
}

}  // namespace

size_t senseLength(const uint8_t* sense, size_t length) {
  if (length < 8) return length;
  size_t n = 8 + static_cast<size_t>(sense[7]);
  return n < length ? n : length;
}

SenseReport decodeNestedSense(const uint8_t* sense, size_t length, int depth) {
  SenseReport r;
  if (sense == nullptr || length == 0) return r;
  bool any = false;
  for (size_t i = 0; i < length && !any; ++i) any = sense[i] != 0;
  if (!any) return r;
  r.present = true;
  r.received = length;
  r.claimed = length >= 8 ? 8 + static_cast<size_t>(sense[7]) : 0;
  r.responseCode = sense[0] & 0x7f;
  r.length = senseLength(sense, length);
  switch (r.responseCode) {
    case 0x70:
    case 0x71:
      r.format = SenseFormat::fixed;
      decodeFixed(sense, r);
      break;
    case 0x72:
    case 0x73:
      r.format = SenseFormat::descriptor;
      r.descriptorFormat = true;
      decodeDescriptorFormat(sense, r, depth);
      break;
    case 0x7f:
      r.format = SenseFormat::vendorSpecific;
      return r;
    default:
      r.format = SenseFormat::unknown;
      return r;
  }
  r.deferred = r.responseCode & 1;
  char buf[256];
  r.senseKeyText = sg_get_sense_key_str(static_cast<int>(r.senseKey), sizeof buf, buf);
  r.ascText = sg_get_asc_ascq_str(static_cast<int>(r.asc), static_cast<int>(r.ascq), sizeof buf, buf);
  const std::string prefix = "Additional sense: ";
  if (r.ascText.compare(0, prefix.size(), prefix) == 0) r.ascText.erase(0, prefix.size());
  r.sksText = skSpecificText(r);
  return r;
}

SenseReport decodeSense(const uint8_t* sense, size_t length) { return decodeNestedSense(sense, length, 0); }

const char* responseCodeText(const SenseReport& r) {
  switch (r.format) {
    case SenseFormat::fixed:
      return r.deferred ? "fixed format, deferred" : "fixed format, current";
    case SenseFormat::descriptor:
      return r.deferred ? "descriptor format, deferred" : "descriptor format, current";
    case SenseFormat::vendorSpecific:
      return "vendor specific";
    default:
      return "not a sense data response code";
  }
}

void printSense(std::ostream& os, const SenseReport& r, const std::string& in) {
  if (!r.present) {
    os << in << "no sense data\n";
    return;
  }
  char buf[128];
  std::snprintf(buf, sizeof buf, "response code: 0x%02x (%s)", r.responseCode, responseCodeText(r));
  os << in << buf << '\n';
  if (r.format == SenseFormat::vendorSpecific || r.format == SenseFormat::unknown) return;
  std::snprintf(buf, sizeof buf, "sense key: 0x%x ", r.senseKey);
  os << in << buf << r.senseKeyText << '\n';
  std::snprintf(buf, sizeof buf, "asc/ascq: 0x%02x/0x%02x ", r.asc, r.ascq);
  os << in << buf << r.ascText << '\n';
  if (r.fileMark || r.endOfMedium || r.incorrectLength) {
    os << in << "flags:" << (r.fileMark ? " FILEMARK" : "") << (r.endOfMedium ? " EOM" : "")
       << (r.incorrectLength ? " ILI" : "") << '\n';
  }
  std::snprintf(buf, sizeof buf, "information: 0x%llx%s", r.information, r.infoValid ? "" : " (not valid)");
  os << in << buf << '\n';
  if (r.commandSpecificValid) {
    std::snprintf(buf, sizeof buf, "command-specific information: 0x%llx", r.commandSpecific);
    os << in << buf << '\n';
  }
  if (r.sksv) os << in << "sense-key specific: " << r.sksText << '\n';
  if (!r.tooShort.empty()) os << in << "too short: " << r.tooShort << '\n';
}

void printSenseDecoded(std::ostream& os, const SenseReport& r, const uint8_t* bytes) {
  if (!r.present) {
    os << "no sense data\n";
    return;
  }
  // libsgutils2 1.46 reads a few bytes past a short buffer's length (sg_scsi_normalize_sense): it
  // gets a copy with zeros after it (as much as the largest sense data), told the real length.
  std::vector<uint8_t> padded(bytes, bytes + r.received);
  padded.resize(r.received + 264, 0);
  // libsgutils2 prints text designators as they are: their control characters (a newline would
  // start a line of the device's making) become '.' in its copy. The JSON keeps the real bytes.
  for (const SenseDescriptor& d : r.descriptors) {
    if (d.type != 0x0e || d.truncated || d.tooShort || d.additionalLength < 6) continue;
    const unsigned codeSet = padded[d.offset + 4] & 0x0f;
    if (codeSet != 2 && codeSet != 3) continue;
    for (size_t i = d.offset + 8; i < d.offset + 2 + d.additionalLength; ++i)
      if (padded[i] < 0x20 || padded[i] == 0x7f) padded[i] = '.';
  }
  std::string text(8192, '\0');
  sg_get_sense_str(nullptr, padded.data(), static_cast<int>(r.received), false, static_cast<int>(text.size()),
                   &text[0]);
  text.resize(std::strlen(text.c_str()));
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    os << untrustedText(std::string_view(text).substr(pos, end - pos)) << '\n';
    pos = end + 1;
  }
  if (!r.tooShort.empty()) os << "too short: " << r.tooShort << '\n';
}

std::string hexNumber(unsigned long long value, int digits) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%0*llx", digits, value);
  return buf;
}

nlohmann::json senseJson(const SenseReport& r, const uint8_t* bytes) {
  if (!r.present) return nullptr;
  nlohmann::json j;
  j["response_code"] = r.responseCode;
  j["response_code_hex"] = hexNumber(r.responseCode, 2);
  j["received"] = r.received;
  if (r.claimed != 0) j["claimed"] = r.claimed;
  if (!r.tooShort.empty()) j["too_short"] = r.tooShort;
  if (r.format == SenseFormat::vendorSpecific || r.format == SenseFormat::unknown) {
    j["format"] = r.format == SenseFormat::vendorSpecific ? "vendor_specific" : "unknown";
    if (bytes != nullptr) j["raw_hex"] = toHex(bytes, r.received);
    return j;
  }
  j["format"] = r.descriptorFormat ? "descriptor" : "fixed";
  j["deferred"] = r.deferred;
  j["sense_key"] = r.senseKey;
  j["sense_key_hex"] = hexNumber(r.senseKey, 1);
  j["sense_key_text"] = r.senseKeyText;
  j["additional_sense_code"] = r.asc;
  j["additional_sense_code_hex"] = hexNumber(r.asc, 2);
  j["additional_sense_code_qualifier"] = r.ascq;
  j["additional_sense_code_qualifier_hex"] = hexNumber(r.ascq, 2);
  j["additional_sense_text"] = r.ascText;
  j["filemark"] = r.fileMark;
  j["end_of_medium"] = r.endOfMedium;
  j["incorrect_length"] = r.incorrectLength;
  j["information_valid"] = r.infoValid;
  j["information"] = r.information;
  j["information_hex"] = hexNumber(r.information, 1);
  if (r.commandSpecificValid) {
    j["command_specific_information"] = r.commandSpecific;
    j["command_specific_information_hex"] = hexNumber(r.commandSpecific, 1);
  }
  j["sense_key_specific_valid"] = r.sksv;
  if (r.sksv) {
    j["sense_key_specific"] = r.senseKeySpecific;
    j["sense_key_specific_hex"] = hexNumber(r.senseKeySpecific, 6);
    j["sense_key_specific_text"] = r.sksText;
    j["sense_key_specific_fields"] = senseKeySpecificFields(r.senseKey, r.sksBytes);
  }
  if (r.descriptorFormat) {
    j["descriptors"] = nlohmann::json::array();
    for (const SenseDescriptor& d : r.descriptors) j["descriptors"].push_back(d.fields);
  }
  if (bytes != nullptr) j["raw_hex"] = toHex(bytes, r.length);
  return j;
}

std::string deviceTypeText(unsigned pdt) {
  char buf[128];
  return sg_get_pdt_str(static_cast<int>(pdt & 0x1f), sizeof buf, buf);
}

}  // namespace qxscsi::cli
