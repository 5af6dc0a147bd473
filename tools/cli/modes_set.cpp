// modes --set PAGE.FIELD=VALUE: MODE SENSE (current and changeable), one field changed, MODE SELECT.
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/daily.h"
#include "cli/hex.h"
#include "cli/mode_pages.h"
#include "cli/send.h"
#include "cli/sense_report.h"
#include "qxscsi/target.h"
#include "wire/bytes.h"

namespace qxscsi::cli {
namespace {


std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The page long names sdparm's users write beside the abbreviations modes takes.
int pageOf(const std::string& text) {
  const std::string t = upper(text);
  if (t == "CACHING") return 0x08;
  if (t == "CONTROL") return 0x0a;
  if (t == "ALL") return -1;
  return parseModePage(text);
}

std::string fieldNames(const ModeField* fields, size_t count) {
  std::string names;
  for (size_t i = 0; i < count; ++i) names += (i ? ", " : "") + std::string(fields[i].acronym);
  return names;
}

int senseModePage(QXScsiTarget& target, const ModesOptions& o, unsigned page, unsigned control,
                  std::vector<uint8_t>& data, Output& out, size_t& got) {
  data.assign(o.six ? 252 : 1024, 0);
  unsigned char cdb[10] = {};
  cdb[2] = static_cast<unsigned char>(control << 6 | page);
  Request request;
  request.title = o.six ? "MODE SENSE(6):" : "MODE SENSE(10):";
  request.cdb = cdb;
  request.cdbLength = modeCdb(cdb, o.six, modeSense6Code, modeSense10Code, data.size());
  request.data = data.data();
  request.dataLength = data.size();
  request.direction = QXScsi::dataIn_c;
  Record rec = send(target, out.options(), request);
  if (!rec) return out.commandFailure(o.six ? "MODE SENSE(6)" : "MODE SENSE(10)", target);
  const int status = out.commandOutcome(*rec);
  if (rec->scsiStatus() != 0 && status != exitOk) return status;
  got = out.received(data.size());
  return exitOk;
}

}  // namespace

std::string locateModePage(const uint8_t* data, size_t length, bool six, unsigned page, ModePageSpan& span) {
  const size_t header = six ? 4 : 8;
  if (length < header) return std::to_string(length) + " bytes arrived, the mode parameter header holds " +
                              std::to_string(header);
  const size_t claimed = six ? size_t(data[0]) + 1 : size_t(wire::getBe16(data)) + 2;
  if (claimed > length)
    return "mode data length claims " + std::to_string(claimed) + " bytes, " + std::to_string(length) + " arrived";
  const size_t descriptors = six ? data[3] : wire::getBe16(data + 6);
  span.at = header + descriptors;
  if (span.at + 2 > claimed) return "no page follows the " + std::to_string(descriptors) + " bytes of block descriptors";
  if ((data[span.at] & 0x3f) != page || (data[span.at] & 0x40))
    return "page " + hexNumber(page, 2) + " asked, page " + hexNumber(data[span.at] & 0x3f, 2) + " answered";
  span.length = 2 + size_t(data[span.at + 1]);
  if (span.at + span.length > claimed)
    return "the page at byte " + std::to_string(span.at) + " runs past the " + std::to_string(claimed) +
           " bytes of mode data";
  return std::string();
}

std::vector<uint8_t> modeSelectParameterList(const uint8_t* current, const ModePageSpan& span, bool six) {
  std::vector<uint8_t> list(current, current + span.at + span.length);
  list[0] = 0;  // mode data length: reserved in MODE SELECT
  if (!six) list[1] = 0;
  list[six ? 2 : 3] &= 0x7f;  // WP is not set by MODE SELECT
  list[span.at] &= 0x7f;      // PS: reserved in MODE SELECT
  return list;
}

int runModeSet(QXScsiTarget& target, const ModesOptions& o, Output& out) {
  if (o.page != ModesOptions().page || o.control != ModesOptions().control || o.subpage != 0 ||
      o.disableBlockDescriptors || o.longLba)
    return out.fail("modes: --set names its page and reads the current values: it excludes -p, -c, --subpage, "
                    "--dbd and --llbaa",
                    exitContradicting);
  const size_t dot = o.set.find('.'), equals = o.set.find('=');
  if (dot == std::string::npos || equals == std::string::npos || equals < dot)
    return out.fail("modes: --set '" + o.set + "': expected PAGE.FIELD=VALUE (say caching.WCE=0)", exitSyntax);
  const std::string pageText = o.set.substr(0, dot), fieldText = o.set.substr(dot + 1, equals - dot - 1),
                    valueText = o.set.substr(equals + 1);
  const int page = pageOf(pageText);
  size_t count = 0;
  const ModeField* fields = page < 0 ? nullptr : modePageFields(unsigned(page), count);
  if (fields == nullptr)
    return out.fail("modes: --set: page '" + pageText + "' has no fields to set: rw (01h), ca or caching (08h), " +
                        "co or control (0Ah), ie (1Ch)",
                    exitSyntax);
  const ModeField* field = nullptr;
  for (size_t i = 0; i < count; ++i)
    if (upper(fieldText) == fields[i].acronym) field = &fields[i];
  if (field == nullptr)
    return out.fail("modes: --set: page " + hexNumber(unsigned(page), 2) + " has no field '" + fieldText +
                        "'; its fields: " + fieldNames(fields, count),
                    exitSyntax);
  char* end = nullptr;
  errno = 0;
  const bool hex = valueText.size() > 2 && valueText[0] == '0' && (valueText[1] == 'x' || valueText[1] == 'X');
  // Decimal or 0x hex: a leading zero is not octal here, as in sdparm.
  const unsigned long long value = std::strtoull(valueText.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
  if (valueText.empty() || *end != 0 || errno != 0 || !std::isxdigit(static_cast<unsigned char>(valueText.back())) ||
      valueText.find_first_of("+- ") != std::string::npos)
    return out.fail("modes: --set: '" + valueText + "' is not a number (decimal or 0x hex)", exitSyntax);
  const unsigned long long widest = field->bits >= 32 ? 0xffffffffULL : (1ULL << field->bits) - 1;
  if (value > widest)
    return out.fail("modes: --set: " + std::string(field->acronym) + " is " + std::to_string(field->bits) +
                        " bits wide: " + valueText + " does not fit (at most " + std::to_string(widest) + ")",
                    exitSyntax);
  const std::string name = std::string(modePageName(unsigned(page), 0)) + " " + field->acronym;

  std::vector<uint8_t> current, changeable;
  size_t gotCurrent = 0, gotChangeable = 0;
  int status = senseModePage(target, o, unsigned(page), 0, current, out, gotCurrent);
  if (status != exitOk) return status;
  ModePageSpan span, maskSpan;
  std::string problem = locateModePage(current.data(), gotCurrent, o.six, unsigned(page), span);
  if (problem.empty() && modeFieldLastByte(*field) >= span.length)
    problem = "page " + hexNumber(unsigned(page), 2) + " is " + std::to_string(span.length) + " bytes: " +
              field->acronym + " lies beyond it";
  if (!problem.empty()) return out.fail("modes: response failed sanity checks: " + problem, exitMalformed);
  status = senseModePage(target, o, unsigned(page), 1, changeable, out, gotChangeable);
  if (status != exitOk) return status;
  problem = locateModePage(changeable.data(), gotChangeable, o.six, unsigned(page), maskSpan);
  if (problem.empty() && maskSpan.length != span.length)
    problem = "the changeable values are " + std::to_string(maskSpan.length) + " bytes, the current " +
              std::to_string(span.length);
  if (!problem.empty()) return out.fail("modes: response failed sanity checks: " + problem, exitMalformed);

  uint8_t* pageBytes = current.data() + span.at;
  const uint32_t previous = modeFieldValue(pageBytes, *field);
  const uint32_t mask = modeFieldValue(changeable.data() + maskSpan.at, *field);
  nlohmann::json& d = out.doc();
  d["page_code"] = page;
  d["page_code_hex"] = hexNumber(unsigned(page), 2);
  d["field"] = field->acronym;
  d["field_key"] = field->key;
  d["previous_value"] = previous;
  d["value"] = value;
  d["changeable_mask"] = mask;
  if (((previous ^ value) & ~mask) != 0)
    return out.fail("modes: --set: " + name + " cannot be changed to " + valueText + " (changeable mask " +
                        hexNumber(mask, 1) + ")",
                    exitIllegalRequest);
  if (o.save && !(pageBytes[0] & 0x80))
    return out.fail("modes: --save: page " + hexNumber(unsigned(page), 2) + " says it cannot be saved (PS=0)",
                    exitMalformed);
  setModeField(pageBytes, *field, static_cast<uint32_t>(value));
  std::vector<uint8_t> list = modeSelectParameterList(current.data(), span, o.six);
  d["parameter_list_length"] = list.size();
  d["parameter_list_hex"] = toHex(list.data(), list.size());
  d["saved"] = o.save;

  unsigned char cdb[10] = {};
  cdb[1] = static_cast<unsigned char>(0x10 | (o.save ? 0x01 : 0));  // PF, and SP with --save
  Request request;
  request.title = o.six ? "MODE SELECT(6):" : "MODE SELECT(10):";
  request.cdb = cdb;
  request.cdbLength = modeCdb(cdb, o.six, modeSelect6Code, modeSelect10Code, list.size());
  request.data = list.data();
  request.dataLength = list.size();
  request.direction = QXScsi::dataOut_c;
  d["command_length"] = request.cdbLength;
  Record rec = send(target, out.options(), request);
  if (!rec) return out.commandFailure(o.six ? "MODE SELECT(6)" : "MODE SELECT(10)", target);
  status = out.commandOutcome(*rec);
  if (rec->scsiStatus() != 0) return status;
  out.text() << name << ": " << previous << " -> " << value << " (MODE SELECT(" << (o.six ? 6 : 10) << ")"
             << (o.save ? ", saved" : ", current values only") << ")\n";
  return status;
}

}  // namespace qxscsi::cli
