// Sense decoding: fields through the library's sense view, texts from libsgutils2.
#include "cli/sense_report.h"

#include "cli/hex.h"

#include <cstdio>

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

void decodeDescriptors(const uint8_t* s, size_t length, SenseReport& r) {
  size_t pos = 8;
  while (pos + 2 <= length) {
    unsigned type = s[pos], len = s[pos + 1];
    size_t end = pos + 2 + len;
    if (end > length) break;  // descriptor runs past the data: stop
    const uint8_t* d = s + pos;
    if (type == 0x00 && len >= 0x0a) {
      r.infoValid = d[2] & 0x80;
      r.information = wire::getBe64(d + 4);
    } else if (type == 0x01 && len >= 0x0a) {
      r.commandSpecificValid = true;
      r.commandSpecific = wire::getBe64(d + 4);
    } else if (type == 0x02 && len >= 0x06) {
      r.sksv = d[4] & 0x80;
      r.senseKeySpecific = wire::getBe24(d + 4) & 0x7fffffUL;
    } else if (type == 0x04 && len >= 0x02) {
      r.fileMark = d[3] & 0x80;
      r.endOfMedium = d[3] & 0x40;
      r.incorrectLength = d[3] & 0x20;
    }
    pos = end;
  }
}

}  // namespace

size_t senseLength(const uint8_t* sense, size_t length) {
  if (length < 8) return length;
  size_t n = 8 + static_cast<size_t>(sense[7]);
  return n < length ? n : length;
}

SenseReport decodeSense(const uint8_t* sense, size_t length) {
  SenseReport r;
  if (sense == nullptr || length == 0) return r;
  bool any = false;
  for (size_t i = 0; i < length && !any; ++i) any = sense[i] != 0;
  if (!any) return r;
  r.present = true;
  r.responseCode = sense[0] & 0x7f;
  r.descriptorFormat = r.responseCode == 0x72 || r.responseCode == 0x73;
  r.length = senseLength(sense, length);
  if (r.descriptorFormat) {
    r.senseKey = length > 1 ? (sense[1] & 0x0f) : 0;
    r.asc = length > 2 ? sense[2] : 0;
    r.ascq = length > 3 ? sense[3] : 0;
    decodeDescriptors(sense, r.length, r);
  } else {
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
  }
  char buf[256];
  r.senseKeyText = sg_get_sense_key_str(static_cast<int>(r.senseKey), sizeof buf, buf);
  r.ascText = sg_get_asc_ascq_str(static_cast<int>(r.asc), static_cast<int>(r.ascq), sizeof buf, buf);
  const std::string prefix = "Additional sense: ";
  if (r.ascText.compare(0, prefix.size(), prefix) == 0) r.ascText.erase(0, prefix.size());
  r.sksText = skSpecificText(r);
  return r;
}

void printSense(std::ostream& os, const SenseReport& r, const std::string& in) {
  if (!r.present) {
    os << in << "no sense data\n";
    return;
  }
  char buf[128];
  std::snprintf(buf, sizeof buf, "response code: 0x%02x (%s, %s)", r.responseCode,
                r.descriptorFormat ? "descriptor format" : "fixed format",
                (r.responseCode & 1) ? "deferred" : "current");
  os << in << buf << '\n';
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
  j["format"] = r.descriptorFormat ? "descriptor" : "fixed";
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
  }
  if (bytes != nullptr) j["raw_hex"] = toHex(bytes, r.length);
  return j;
}

std::string deviceTypeText(unsigned pdt) {
  char buf[128];
  return sg_get_pdt_str(static_cast<int>(pdt & 0x1f), sizeof buf, buf);
}

}  // namespace qxscsi::cli
