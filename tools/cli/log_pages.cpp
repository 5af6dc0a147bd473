// logs: LOG SENSE of one page, decoded for the supported pages, error counters, temperature,
// self-test results and informational exceptions; other pages as parameters in hex.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <scsi/sg_lib.h>

#include "cli/daily.h"
#include "cli/hex.h"
#include "cli/send.h"
#include "cli/sense_report.h"
#include "qxscsi/target.h"
#include "wire/bytes.h"

namespace qxscsi::cli {
namespace {

constexpr unsigned char logSenseCode = 0x4d;
constexpr size_t allocation_c = 0xfffc;

const char* const controls_c[] = {"threshold", "cumulative", "default_threshold", "default_cumulative"};

struct Named {
  unsigned code;
  const char* name;
};

const Named pageNames_c[] = {
    {0x00, "Supported log pages"},       {0x02, "Write error counters"},
    {0x03, "Read error counters"},       {0x05, "Verify error counters"},
    {0x06, "Non-medium error"},          {0x0d, "Temperature"},
    {0x0e, "Start-stop cycle counter"},  {0x10, "Self-test results"},
    {0x15, "Background scan results"},   {0x18, "Protocol specific port"},
    {0x2f, "Informational exceptions"},
};

const char* const errorCounters_c[] = {
    "errors corrected without substantial delay", "errors corrected with possible delays",
    "total rewrites or rereads",                  "total errors corrected",
    "total times correction algorithm processed", "total bytes processed",
    "total uncorrected errors",
};

const char* const selfTestResults_c[16] = {
    "completed without error",
    "aborted by SEND DIAGNOSTIC",
    "aborted other than by SEND DIAGNOSTIC",
    "unknown error, unable to complete",
    "failed, unknown segment",
    "failed in the first segment",
    "failed in the second segment",
    "failed in another segment",
    "reserved", "reserved", "reserved", "reserved", "reserved", "reserved", "reserved",
    "in progress",
};

const char* pageName(unsigned code) {
  for (const Named& n : pageNames_c)
    if (n.code == code) return n.name;
  return nullptr;
}

std::string upperHex(unsigned v) {
  char text[8];
  std::snprintf(text, sizeof text, "%02Xh", v & 0xff);
  return text;
}

std::string ascText(unsigned asc, unsigned ascq) {
  char buf[128];
  return sg_get_asc_ascq_str(static_cast<int>(asc), static_cast<int>(ascq), sizeof buf, buf);
}

// A counter of up to 8 bytes, big-endian.
uint64_t counterOf(const uint8_t* value, size_t length) {
  uint64_t v = 0;
  for (size_t i = 0; i < length; ++i) v = v << 8 | value[i];
  return v;
}

// Adds what the parameter of `page` means to `j` and to the text; false when it is not one this
// page defines (the caller shows it in hex).
bool describeParameter(unsigned page, unsigned code, const uint8_t* v, size_t length, std::ostream& t,
                       nlohmann::json& j) {
  switch (page) {
    case 0x02:
    case 0x03:
    case 0x05: {
      if (code >= std::size(errorCounters_c) || length == 0 || length > 8) return false;
      const uint64_t n = counterOf(v, length);
      t << "  " << errorCounters_c[code] << " = " << n << '\n';
      j["name"] = errorCounters_c[code];
      j["value"] = n;
      j["value_hex"] = hexNumber(n, 1);
      return true;
    }
    case 0x0d: {
      if (code > 1 || length < 2) return false;
      const char* what = code == 0 ? "current temperature" : "reference temperature";
      j["name"] = what;
      if (v[1] == 0xff) {
        t << "  " << what << ": not available\n";
        j["temperature_available"] = false;
      } else {
        t << "  " << what << " = " << unsigned(v[1]) << " C\n";
        j["temperature_celsius"] = v[1];
      }
      return true;
    }
    case 0x10: {
      if (code < 1 || code > 20 || length < 16) return false;
      const unsigned result = v[0] & 0x0f, testCode = v[0] >> 5;
      const unsigned hours = wire::getBe16(v + 2);
      const uint64_t failure = wire::getBe64(v + 4);
      const bool empty = counterOf(v, 4) == 0 && failure == 0 && counterOf(v + 12, 3) == 0;
      j["self_test_code"] = testCode;
      j["self_test_result"] = result;
      j["self_test_result_text"] = selfTestResults_c[result];
      j["segment_number"] = v[1];
      j["power_on_hours"] = hours;
      j["first_failure_address"] = failure;
      j["first_failure_address_hex"] = hexNumber(failure, 1);
      j["sense_key"] = v[12] & 0x0f;
      j["additional_sense_code"] = v[13];
      j["additional_sense_code_hex"] = hexNumber(v[13], 2);
      j["additional_sense_code_qualifier"] = v[14];
      j["additional_sense_code_qualifier_hex"] = hexNumber(v[14], 2);
      if (empty) {
        j["empty"] = true;
        return true;  // a slot no test has filled: nothing to say in text
      }
      t << "  self-test " << code << ": code " << testCode << ", " << selfTestResults_c[result] << ", segment "
        << unsigned(v[1]) << ", at " << hours << " power-on hours";
      if (failure != UINT64_MAX) t << ", first failure at LBA " << hexNumber(failure, 1);
      if (v[12] & 0x0f || v[13] || v[14])
        t << ", sense key " << hexNumber(v[12] & 0x0f, 1) << ", " << ascText(v[13], v[14]);
      t << '\n';
      return true;
    }
    case 0x2f: {
      if (code != 0 || length < 3) return false;
      j["additional_sense_code"] = v[0];
      j["additional_sense_code_hex"] = hexNumber(v[0], 2);
      j["additional_sense_code_qualifier"] = v[1];
      j["additional_sense_code_qualifier_hex"] = hexNumber(v[1], 2);
      j["additional_sense_text"] = ascText(v[0], v[1]);
      j["temperature_celsius"] = v[2];
      t << "  informational exception: " << (v[0] == 0 && v[1] == 0 ? "none" : ascText(v[0], v[1])) << " ("
        << hexNumber(v[0], 2) << ", " << hexNumber(v[1], 2) << "), most recent temperature " << unsigned(v[2])
        << " C\n";
      return true;
    }
    default:
      return false;
  }
}

struct Parameter {
  size_t at, length;  // the whole parameter, header included
};

}  // namespace

int parseLogPage(const std::string& text) { return parsePageNumber(text, 0x3f); }

std::string describeLogPage(const uint8_t* data, size_t length, unsigned asked, unsigned askedSubpage,
                            size_t allocation, Output& out) {
  if (length < 4) return std::to_string(length) + " bytes arrived, the log page header holds 4";
  const unsigned code = data[0] & 0x3f;
  const bool subpageFormat = data[0] & 0x40;
  const unsigned subpage = subpageFormat ? data[1] : 0;
  if (code != asked || subpage != askedSubpage)
    return "page " + hexNumber(asked, 2) + " subpage " + hexNumber(askedSubpage, 2) + " asked, page " +
           hexNumber(code, 2) + " subpage " + hexNumber(subpage, 2) + " answered";
  const size_t claimed = size_t(wire::getBe16(data + 2)) + 4;
  const bool cut = claimed > length;
  if (cut && length < allocation)
    return "page length claims " + std::to_string(claimed) + " bytes, " + std::to_string(length) + " arrived";
  const size_t end = cut ? length : claimed;
  std::vector<Parameter> parameters;
  bool partial = false;
  if (code != 0x00) {
    for (size_t at = 4; at < end;) {
      const size_t size = end - at >= 4 ? 4 + size_t(data[at + 3]) : 0;
      if (size == 0 || at + size > end) {
        if (cut) {
          partial = true;
          break;
        }
        return "the parameter at byte " + std::to_string(at) + " runs past the " + std::to_string(end) +
               " bytes of the page";
      }
      parameters.push_back({at, size});
      at += size;
    }
  }

  nlohmann::json& d = out.doc();
  std::ostream& t = out.text();
  const char* name = pageName(code);
  t << (name ? name : "Log page") << " [" << upperHex(code);
  if (subpageFormat) t << ", subpage " << upperHex(subpage);
  t << "]: page length " << claimed - 4 << ", DS=" << (data[0] >> 7) << '\n';
  if (cut) t << "(the device has " << claimed << " bytes of the page, " << allocation << " were asked for)\n";
  d["page_code"] = code;
  d["page_code_hex"] = hexNumber(code, 2);
  d["subpage_code"] = subpage;
  d["page_length"] = claimed - 4;
  d["disable_save"] = (data[0] & 0x80) != 0;
  if (name) d["name"] = name;
  if (code == 0x00 && subpageFormat) {  // page and subpage pairs: shown as they came
    t << "  supported pages and subpages, as (page, subpage) byte pairs:\n";
    hexDump(t, data + 4, end - 4);
    return std::string();
  }
  if (code == 0x00) {
    nlohmann::json pages = nlohmann::json::array(), pagesHex = nlohmann::json::array();
    for (size_t at = 4; at < end; ++at) {
      const unsigned p = data[at] & 0x3f;
      const char* n = pageName(p);
      t << "  " << upperHex(p) << "  " << (n ? n : "(unknown)") << '\n';
      pages.push_back(p);
      pagesHex.push_back(hexNumber(p, 2));
    }
    d["supported_pages"] = pages;
    d["supported_pages_hex"] = pagesHex;
    return std::string();
  }
  nlohmann::json list = nlohmann::json::array();
  size_t emptySelfTests = 0;
  for (const Parameter& p : parameters) {
    const uint8_t* h = data + p.at;
    const unsigned parameterCode = wire::getBe16(h);
    nlohmann::json j = {{"parameter_code", parameterCode},
                        {"parameter_code_hex", hexNumber(parameterCode, 4)},
                        {"parameter_control", h[2]},
                        {"parameter_control_hex", hexNumber(h[2], 2)},
                        {"data_hex", toHex(h + 4, p.length - 4)}};
    if (!describeParameter(code, parameterCode, h + 4, p.length - 4, t, j)) {
      t << "  parameter " << hexNumber(parameterCode, 4) << ", control " << hexNumber(h[2], 2) << ", "
        << p.length - 4 << " bytes\n";
      hexDump(t, h + 4, p.length - 4);
    }
    if (j.contains("empty")) ++emptySelfTests;
    list.push_back(j);
  }
  if (emptySelfTests > 0)
    t << "  " << emptySelfTests << " of " << parameters.size() << " self-test result slots hold no test\n";
  d["parameters"] = list;
  if (partial) {
    t << "(the last parameter was cut off by the allocation length: not shown)\n";
    d["last_parameter_cut_off"] = true;
  }
  return std::string();
}

int runLogSense(QXScsiTarget& target, const LogsOptions& o, Output& out) {
  const int page = parseLogPage(o.page);
  if (page < 0) return out.fail("logs: --page '" + o.page + "': expected 0 to 63 (decimal, 0xNN or NNh)", exitSyntax);
  unsigned control = 0;
  while (control < 4 && o.control != controls_c[control] && o.control != std::string(1, char('0' + control)))
    ++control;
  if (control == 4)
    return out.fail("logs: --control '" + o.control +
                        "': expected threshold, cumulative, default_threshold or default_cumulative (or 0 to 3)",
                    exitSyntax);
  if (o.subpage > 0xff) return out.fail("logs: --subpage: expected 0 to 255", exitSyntax);
  uint64_t pointer = 0;
  if (!o.parameterPointer.empty() && !parseWholeNumber(o.parameterPointer, 0xffff, pointer))
    return out.fail("logs: --ppointer '" + o.parameterPointer + "': expected a whole number 0 to 65535", exitSyntax);
  std::vector<uint8_t> buffer(allocation_c, 0);
  unsigned char cdb[10] = {logSenseCode};
  cdb[2] = static_cast<unsigned char>(control << 6 | unsigned(page));
  cdb[3] = static_cast<unsigned char>(o.subpage);
  wire::putBe16(cdb + 5, static_cast<uint32_t>(pointer));
  wire::putBe16(cdb + 7, static_cast<uint32_t>(allocation_c));
  Request request;
  request.title = "LOG SENSE:";
  request.cdb = cdb;
  request.cdbLength = 10;
  request.data = buffer.data();
  request.dataLength = allocation_c;
  request.direction = QXScsi::dataIn_c;
  out.doc()["log_page_control"] = controls_c[control];
  Record rec = send(target, out.options(), request);
  if (!rec) return out.commandFailure("LOG SENSE", target);
  const int status = out.commandOutcome(*rec);
  if (rec->scsiStatus() != 0) return status;
  const size_t got = out.received(allocation_c);
  out.data(buffer.data(), got);
  const std::string problem =
      describeLogPage(buffer.data(), got, unsigned(page), unsigned(o.subpage), allocation_c, out);
  if (!problem.empty()) return out.fail("logs: response failed sanity checks: " + problem, exitMalformed);
  return status;
}

}  // namespace qxscsi::cli
