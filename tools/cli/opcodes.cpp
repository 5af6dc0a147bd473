// opcodes: REPORT SUPPORTED OPERATION CODES, all commands or one, with the command timeouts.
#include <scsi/sg_lib.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <vector>

#include "cli/daily.h"
#include "cli/hex.h"
#include "cli/send.h"
#include "cli/sense_report.h"
#include "qxscsi/target.h"
#include "wire/bytes.h"

namespace qxscsi::cli {
namespace {

constexpr unsigned char maintenanceInCode = 0xa3;
constexpr unsigned char reportSupportedCodesAction = 0x0c;
constexpr unsigned char returnTimeouts = 0x80;  // RCTD, byte 2
constexpr size_t firstAllocation = 8192;
constexpr size_t largestAllocation = 65536;
constexpr size_t descriptorBytes = 8;
constexpr size_t timeoutsBytes = 12;

std::string commandName(unsigned op, bool hasAction, unsigned action, int deviceType) {
  char name[128] = {};
  if (hasAction)
    sg_get_opcode_sa_name(static_cast<uint8_t>(op), static_cast<int>(action), deviceType, sizeof name, name);
  else
    sg_get_opcode_name(static_cast<uint8_t>(op), deviceType, sizeof name, name);
  return name;
}

const char* supportText(unsigned support) {
  switch (support) {
    case 0: return "not currently available";
    case 1: return "NOT supported";
    case 3: return "supported [conforming to SCSI standard]";
    case 5: return "supported [in a vendor specific manner]";
    default: return "support reserved";
  }
}

}  // namespace

std::string parseOpcodesOptions(OpcodesOptions& o) {
  std::string op = o.opcodeText, action = o.actionText;
  const size_t comma = op.find(',');
  if (comma != std::string::npos) {
    if (!action.empty()) return "a service action in --opcode and --sa: give one";
    action = op.substr(comma + 1);
    op.resize(comma);
    if (action.empty()) return "--opcode '" + o.opcodeText + "': a service action 0 to 65535 follows the comma";
  }
  if (!action.empty() && o.opcodeText.empty()) return "--sa needs --opcode";
  const int code = op.empty() ? 0 : parsePageNumber(op, 255);
  if (code < 0) return "--opcode '" + o.opcodeText + "': expected an operation code 0 to 255";
  const int sa = action.empty() ? 0 : parsePageNumber(action, 65535);
  if (sa < 0) return "service action '" + action + "': expected 0 to 65535";
  const int type = o.typeText.empty() || o.typeText == "-1" ? -1 : parsePageNumber(o.typeText, 31);
  if (type < 0 && o.typeText != "-1" && !o.typeText.empty())
    return "--pdt '" + o.typeText + "': expected a peripheral device type -1 to 31";
  o.opcode = static_cast<unsigned>(code);
  o.serviceAction = static_cast<unsigned>(sa);
  o.deviceType = type;
  o.reportingOptions = op.empty() ? 0 : action.empty() ? 1 : 2;
  return {};
}

CommandTimeouts decodeCommandTimeouts(const uint8_t* d) {
  CommandTimeouts t;
  t.descriptorLength = wire::getBe16(d);
  t.valid = t.descriptorLength == 0x0a;
  if (!t.valid) return t;
  t.commandSpecific = d[3];
  t.nominal = wire::getBe32(d + 4);
  t.recommended = wire::getBe32(d + 8);
  return t;
}

namespace {

// The line of a timeouts descriptor and its JSON object.
nlohmann::json describeTimeouts(const CommandTimeouts& c, std::ostream& t) {
  nlohmann::json j;
  j["descriptor_length"] = c.descriptorLength;
  j["valid"] = c.valid;
  if (!c.valid) {
    t << "command timeout descriptor length " << c.descriptorLength << " (expect 10)\n";
    return j;
  }
  j["command_specific"] = c.commandSpecific;
  j["nominal_seconds"] = c.nominal;
  j["recommended_seconds"] = c.recommended;
  if (c.nominal == 0)
    t << "no nominal timeout, ";
  else
    t << "nominal timeout: " << c.nominal << " secs, ";
  if (c.recommended == 0)
    t << "no recommended timeout\n";
  else
    t << "recommended timeout: " << c.recommended << " secs\n";
  return j;
}

// A column of the all-commands table: a timeout in seconds, "-" for none.
std::string timeoutColumn(const uint8_t* descriptor, size_t at, int width) {
  const CommandTimeouts c = decodeCommandTimeouts(descriptor);
  if (!c.valid) return std::string(size_t(width) - 1, ' ') + "?";
  const uint32_t v = at == 4 ? c.nominal : c.recommended;
  char cell[16];
  std::snprintf(cell, sizeof cell, "%*s", width, v == 0 ? "-" : std::to_string(v).c_str());
  return cell;
}

}  // namespace

std::string describeAllCommands(const uint8_t* data, size_t length, size_t allocation, bool timeouts, int deviceType,
                                Output& out) {
  if (length < 4) return std::to_string(length) + " bytes arrived, the header holds 4";
  const size_t total = size_t(wire::getBe32(data)) + 4;
  if (total > length && length < allocation)
    return "the COMMAND DATA LENGTH says " + std::to_string(total) + " bytes, " + std::to_string(length) + " arrived";
  const size_t end = std::min(total, length);
  // Where each descriptor starts: every one must lie whole inside the data the header claims.
  std::vector<size_t> starts;
  size_t at = 4;
  bool cut = false;
  while (at < end) {
    const size_t size = at + 6 <= end && (data[at + 5] & 0x02) ? descriptorBytes + timeoutsBytes : descriptorBytes;
    if (end - at < size) {
      if (end == total)
        return "the command descriptor at byte " + std::to_string(at) + " runs past the COMMAND DATA LENGTH";
      cut = true;  // cut by the allocation length: the last whole one is shown
      break;
    }
    starts.push_back(at);
    at += size;
  }
  // As the device lists them is its own order; by operation code, then service action, reads best.
  auto key = [data](size_t s) {
    return unsigned(data[s]) << 16 | ((data[s + 5] & 0x01) ? wire::getBe16(data + s + 2) : 0u);
  };
  std::stable_sort(starts.begin(), starts.end(), [&key](size_t a, size_t b) { return key(a) < key(b); });
  std::ostream& t = out.text();
  nlohmann::json& d = out.doc();
  if (timeouts)
    t << "Opcode  Service    CDB   Nominal  Recommended  Name\n(hex)   action(h)  size  timeout  timeout(sec)\n"
      << std::string(64, '-') << '\n';
  else
    t << "Opcode  Service    CDB  RWCDLP,  Name\n(hex)   action(h)  size   CDLP\n" << std::string(47, '-') << '\n';
  nlohmann::json list = nlohmann::json::array();
  for (size_t s : starts) {
    const uint8_t* p = data + s;
    const bool hasAction = p[5] & 0x01, withTimeouts = p[5] & 0x02;
    const unsigned action = wire::getBe16(p + 2), cdbLength = wire::getBe16(p + 6);
    const std::string name = commandName(p[0], hasAction, action, deviceType);
    nlohmann::json j;
    j["operation_code"] = p[0];
    j["operation_code_hex"] = hexNumber(p[0], 2);
    if (hasAction) {
      j["service_action"] = action;
      j["service_action_hex"] = hexNumber(action, 4);
    }
    j["name"] = name;
    j["cdb_length"] = cdbLength;
    j["multiple_logical_units"] = (p[5] >> 4) & 0x03;
    j["command_duration_limit_page"] = (p[5] >> 2) & 0x03;
    j["read_write_command_duration_limit_page"] = (p[5] >> 6) & 0x01;
    if (withTimeouts) {
      std::ostringstream ignored;  // the table has columns of its own for them
      j["timeouts"] = describeTimeouts(decodeCommandTimeouts(p + descriptorBytes), ignored);
    }
    char line[64];
    char actionText[8] = "    ";
    if (hasAction) std::snprintf(actionText, sizeof actionText, "%4x", action);
    if (timeouts) {
      std::snprintf(line, sizeof line, " %.2x     %.4s     %3u", unsigned(p[0]), actionText, cdbLength);
      t << line;
      if (withTimeouts) {
        t << "  " << timeoutColumn(p + descriptorBytes, 4, 8) << "   " << timeoutColumn(p + descriptorBytes, 8, 8);
      } else {
        t << std::string(21, ' ');
      }
      t << "    " << name << '\n';
    } else {
      std::snprintf(line, sizeof line, " %.2x     %.4s       %3u    %u,%u    ", unsigned(p[0]), actionText, cdbLength,
                    unsigned(p[5] >> 6) & 1u, unsigned(p[5] >> 2) & 3u);
      t << line << name << '\n';
    }
    list.push_back(j);
  }
  d["commands"] = list;
  if (cut || total > length)
    t << "(the answer was cut short at " << length << " bytes; the commands after it are not shown)\n";
  return {};
}

std::string describeOneCommand(const uint8_t* data, size_t length, size_t allocation, const OpcodesOptions& o,
                               Output& out) {
  if (length < 4) return std::to_string(length) + " bytes arrived, the header holds 4";
  const unsigned support = data[1] & 0x07;
  const bool withTimeouts = data[1] & 0x80;
  const bool supported = support == 3 || support == 5;
  const size_t cdbLength = wire::getBe16(data + 2);
  const size_t total = 4 + cdbLength + (withTimeouts ? timeoutsBytes : 0);
  if (total > length && length < allocation)
    return "the CDB SIZE says " + std::to_string(total) + " bytes, " + std::to_string(length) + " arrived";
  if (supported && cdbLength > 0 && length > 4 && data[4] != o.opcode)
    return "the CDB usage data is of operation code " + hexNumber(data[4], 2) + ", not " + hexNumber(o.opcode, 2);
  std::ostream& t = out.text();
  nlohmann::json& d = out.doc();
  const bool hasAction = o.reportingOptions == 2;
  const std::string name = commandName(o.opcode, hasAction, o.serviceAction, o.deviceType);
  char head[64];
  std::snprintf(head, sizeof head, "  Opcode=0x%.2x", o.opcode);
  t << head;
  if (hasAction) {
    std::snprintf(head, sizeof head, "  Service_action=0x%.4x", o.serviceAction);
    t << head;
  }
  t << "\n  Command_name: " << name << "\n  Command is " << supportText(support) << '\n';
  d["operation_code"] = o.opcode;
  d["operation_code_hex"] = hexNumber(o.opcode, 2);
  if (hasAction) {
    d["service_action"] = o.serviceAction;
    d["service_action_hex"] = hexNumber(o.serviceAction, 4);
  }
  d["name"] = name;
  d["support"] = support;
  d["support_text"] = supportText(support);
  d["multiple_logical_units"] = (data[1] >> 5) & 0x03;
  d["command_duration_limit_page"] = (data[1] >> 3) & 0x03;
  d["read_write_command_duration_limit_page"] = data[0] & 0x01;
  d["cdb_length"] = cdbLength;
  // Usage data shown only as far as it arrived: an allocation length may cut it.
  const size_t usage = std::min(cdbLength, length - 4);
  if (supported) {
    t << "  Usage data:";
    for (size_t i = 0; i < usage; ++i) {
      char byte[4];
      std::snprintf(byte, sizeof byte, " %.2x", data[4 + i]);
      t << byte;
    }
    t << '\n';
    d["cdb_usage_data_hex"] = toHex(data + 4, usage);
  }
  if (withTimeouts) {
    if (length >= 4 + cdbLength + timeoutsBytes) {
      t << "  ";
      d["timeouts"] = describeTimeouts(decodeCommandTimeouts(data + 4 + cdbLength), t);
    } else {
      t << "  (the command timeouts descriptor was cut short)\n";
    }
  }
  return {};
}

int runSupportedOperationCodes(QXScsiTarget& target, const OpcodesOptions& o, Output& out) {
  std::vector<uint8_t> buffer;
  // Too small a buffer: once more with room for the whole answer (as far as 64 KiB).
  const GrowingAnswer a = sendGrowing(
      target, out, "REPORT SUPPORTED OPERATION CODES", firstAllocation, largestAllocation,
      [&](unsigned char (&cdb)[12], uint32_t allocation) {
        cdb[0] = maintenanceInCode;
        cdb[1] = reportSupportedCodesAction;
        cdb[2] = static_cast<unsigned char>((o.timeouts ? returnTimeouts : 0) | o.reportingOptions);
        cdb[3] = static_cast<unsigned char>(o.opcode);
        wire::putBe16(cdb + 4, static_cast<uint16_t>(o.serviceAction));
        wire::putBe32(cdb + 6, allocation);
      },
      [&](const uint8_t* data, size_t) {
        return o.reportingOptions == 0
                   ? uint64_t(wire::getBe32(data)) + 4
                   : 4 + uint64_t(wire::getBe16(data + 2)) + ((data[1] & 0x80) ? timeoutsBytes : 0);
      },
      buffer);
  if (!a.good) return a.status;
  out.data(buffer.data(), a.got);
  const std::string problem =
      o.reportingOptions == 0 ? describeAllCommands(buffer.data(), a.got, a.allocation, o.timeouts, o.deviceType, out)
                              : describeOneCommand(buffer.data(), a.got, a.allocation, o, out);
  if (!problem.empty()) return out.fail("opcodes: response failed sanity checks: " + problem, exitMalformed);
  return a.status;
}

}  // namespace qxscsi::cli
