// rtpg: REPORT TARGET PORT GROUPS, length-only or extended header, each group's states decoded.
#include <vector>

#include "cli/daily.h"
#include "cli/send.h"
#include "cli/sense_report.h"
#include "qxscsi/target.h"
#include "wire/bytes.h"

namespace qxscsi::cli {
namespace {

constexpr unsigned char maintenanceInCode = 0xa3;
constexpr unsigned char reportTargetPortGroupsAction = 0x0a;
constexpr unsigned char extendedFormat = 0x20;  // PARAMETER DATA FORMAT 001b, byte 1
constexpr size_t firstAllocation = 1024;
constexpr size_t largestAllocation = 65536;
constexpr size_t groupHeaderBytes = 8;
constexpr size_t portBytes = 4;

// Support bits of byte 1 of a group descriptor, from bit 7 down.
struct SupportBit {
  unsigned char mask;
  const char* key;
  const char* text;
};
constexpr SupportBit supportBits[] = {
    {0x80, "transitioning_supported", "T_SUP"},     {0x40, "offline_supported", "O_SUP"},
    {0x10, "logical_block_dependent_supported", "LBD_SUP"}, {0x08, "unavailable_supported", "U_SUP"},
    {0x04, "standby_supported", "S_SUP"},           {0x02, "active_non_optimized_supported", "AN_SUP"},
    {0x01, "active_optimized_supported", "AO_SUP"},
};

}  // namespace

const char* asymmetricAccessStateName(unsigned state) {
  switch (state) {
    case 0x0: return "active/optimized";
    case 0x1: return "active/non optimized";
    case 0x2: return "standby";
    case 0x3: return "unavailable";
    case 0x4: return "logical block dependent";
    case 0xe: return "offline";
    case 0xf: return "transitioning between states";
    default: return "reserved";
  }
}

std::string describeTargetPortGroups(const uint8_t* data, size_t length, size_t allocation, bool extendedAsked,
                                     Output& out) {
  if (length < 4) return std::to_string(length) + " bytes arrived, the header holds 4";
  const size_t total = size_t(wire::getBe32(data)) + 4;
  if (total > length && length < allocation)
    return "the header says " + std::to_string(total) + " bytes, " + std::to_string(length) + " arrived";
  const size_t end = total < length ? total : length;
  std::ostream& t = out.text();
  nlohmann::json& d = out.doc();
  size_t at = 4;
  // A device that keeps to the length-only form answers so when asked for the extended one.
  const bool extended = extendedAsked && end >= 8 && (data[4] & 0x70) == 0x10;
  d["extended_header"] = extended;
  if (extended) {
    at = 8;
    d["implicit_transition_time"] = data[5];
    t << "extended header: implicit transition time " << unsigned(data[5]) << " seconds\n";
  }
  t << "report target port groups:\n";
  nlohmann::json groups = nlohmann::json::array();
  while (at < end) {
    if (end - at < groupHeaderBytes)
      return "a target port group descriptor at byte " + std::to_string(at) + " is cut short";
    const uint8_t* g = data + at;
    const unsigned ports = g[7];
    if (end - at - groupHeaderBytes < ports * portBytes)
      return "the target port group at byte " + std::to_string(at) + " lists " + std::to_string(ports) +
             " ports, the data holds fewer";
    const unsigned state = g[0] & 0x0f;
    const unsigned id = wire::getBe16(g + 2);
    nlohmann::json j;
    j["target_port_group"] = id;
    j["preferred"] = bool(g[0] & 0x80);
    j["asymmetric_access_state"] = state;
    j["asymmetric_access_state_hex"] = hexNumber(state, 1);
    j["asymmetric_access_state_text"] = asymmetricAccessStateName(state);
    t << "  target port group id: " << id << " (" << hexNumber(id, 1) << ")\n    preferred: " << ((g[0] & 0x80) ? 1 : 0)
      << ", asymmetric access state: " << asymmetricAccessStateName(state) << " (" << hexNumber(state, 1)
      << ")\n    supported states:";
    for (const SupportBit& b : supportBits) {
      j[b.key] = bool(g[1] & b.mask);
      t << ' ' << b.text << '=' << ((g[1] & b.mask) ? 1 : 0);
    }
    const unsigned code = g[5];
    const char* codeText = code == 0   ? "no status available"
                           : code == 1 ? "altered by SET TARGET PORT GROUPS"
                           : code == 2 ? "altered by implicit asymmetric access behavior"
                                       : "reserved";
    j["status_code"] = code;
    j["status_code_hex"] = hexNumber(code, 2);
    j["status_code_text"] = codeText;
    j["vendor_specific"] = g[6];
    t << "\n    status code: " << codeText << " (" << hexNumber(code, 2) << ")\n    target port count: " << ports
      << '\n';
    nlohmann::json list = nlohmann::json::array();
    for (unsigned i = 0; i < ports; ++i) {
      const unsigned port = wire::getBe16(g + groupHeaderBytes + i * portBytes + 2);
      list.push_back(port);
      t << "      relative target port id: " << port << " (" << hexNumber(port, 1) << ")\n";
    }
    j["relative_target_ports"] = list;
    groups.push_back(j);
    at += groupHeaderBytes + ports * portBytes;
  }
  d["target_port_groups"] = groups;
  if (total > length) t << "(the answer was cut short at " << length << " bytes; the groups after it are not shown)\n";
  return {};
}

int runReportTargetPortGroups(QXScsiTarget& target, const RtpgOptions& o, Output& out) {
  std::vector<uint8_t> buffer;
  // Too small a buffer for all groups: once more with room for them (as far as 64 KiB).
  const GrowingAnswer a = sendGrowing(
      target, out, "REPORT TARGET PORT GROUPS", firstAllocation, largestAllocation,
      [&](unsigned char (&cdb)[12], uint32_t allocation) {
        cdb[0] = maintenanceInCode;
        cdb[1] = static_cast<unsigned char>(reportTargetPortGroupsAction | (o.extended ? extendedFormat : 0));
        wire::putBe32(cdb + 6, allocation);
      },
      [](const uint8_t* data, size_t) { return uint64_t(wire::getBe32(data)) + 4; }, buffer);
  if (!a.good) return a.status;
  out.data(buffer.data(), a.got);
  const std::string problem = describeTargetPortGroups(buffer.data(), a.got, a.allocation, o.extended, out);
  if (!problem.empty()) return out.fail("rtpg: response failed sanity checks: " + problem, exitMalformed);
  return a.status;
}

}  // namespace qxscsi::cli
