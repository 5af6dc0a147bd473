// persist: PERSISTENT RESERVE IN (keys, reservation, capabilities) and OUT (register, reserve,
// release, clear, preempt), with the answers decoded.
#include <vector>

#include "cli/daily.h"
#include "cli/hex.h"
#include "cli/send.h"
#include "cli/sense_report.h"
#include "qxscsi/target.h"
#include "wire/bytes.h"

namespace qxscsi::cli {
namespace {

constexpr unsigned char reserveInCode = 0x5e, reserveOutCode = 0x5f;
constexpr size_t allocation_c = 8192;
constexpr size_t parameterListLength_c = 24;

const char* const inActions_c[] = {"read keys", "read reservation", "report capabilities"};
const char* const outActions_c[] = {"register", "reserve", "release", "clear", "preempt", "", "register and ignore"};

}  // namespace

const char* reservationTypeText(unsigned type) {
  switch (type) {
    case 1: return "Write Exclusive";
    case 3: return "Exclusive Access";
    case 5: return "Write Exclusive, registrants only";
    case 6: return "Exclusive Access, registrants only";
    case 7: return "Write Exclusive, all registrants";
    case 8: return "Exclusive Access, all registrants";
    default: return "obsolete or reserved";
  }
}

std::string describeReserveIn(const uint8_t* d, size_t length, unsigned action, size_t allocation, Output& out) {
  nlohmann::json& j = out.doc();
  std::ostream& t = out.text();
  if (action == 2) {
    if (length < 8) return std::to_string(length) + " bytes arrived, the capabilities hold 8";
    const unsigned claimed = wire::getBe16(d);
    if (claimed < 8) return "capabilities length " + std::to_string(claimed) + " is shorter than 8";
    const bool typesValid = d[3] & 0x80;
    const unsigned mask = wire::getBe16(d + 4);
    struct Bit {
      const char* key;
      const char* acronym;
      bool on;
    } const bits[] = {{"replace_lost_reservation_capable", "RLR_C", (d[2] & 0x80) != 0},
                      {"compatible_reservation_handling", "CRH", (d[2] & 0x10) != 0},
                      {"specify_initiator_ports_capable", "SIP_C", (d[2] & 0x08) != 0},
                      {"all_target_ports_capable", "ATP_C", (d[2] & 0x04) != 0},
                      {"persist_through_power_loss_capable", "PTPL_C", (d[2] & 0x01) != 0},
                      {"type_mask_valid", "TMV", typesValid},
                      {"persist_through_power_loss_activated", "PTPL_A", (d[3] & 0x01) != 0}};
    t << "report capabilities:";
    for (const Bit& b : bits) {
      t << ' ' << b.acronym << '=' << b.on;
      j[b.key] = b.on;
    }
    const unsigned allow = (d[3] >> 4) & 7;
    t << " ALLOW_COMMANDS=" << allow << '\n';
    j["allow_commands"] = allow;
    // Type mask: byte 4 bits 7, 6, 5, 3, 1 are types 7, 6, 5, 3, 1; byte 5 bit 0 is type 8.
    nlohmann::json types = nlohmann::json::array();
    if (typesValid) {
      for (unsigned type : {1u, 3u, 5u, 6u, 7u, 8u})
        if (type == 8 ? (mask & 0x0001) : (mask & (0x100u << type))) {
          t << "  supported: " << reservationTypeText(type) << " (type " << type << ")\n";
          types.push_back(type);
        }
      j["reservation_types_supported"] = types;
    }
    return std::string();
  }
  if (length < 8) return std::to_string(length) + " bytes arrived, the header holds 8";
  const uint32_t generation = wire::getBe32(d);
  const size_t claimed = size_t(wire::getBe32(d + 4));
  const bool cut = 8 + claimed > length;
  if (cut && length < allocation)
    return "additional length claims " + std::to_string(claimed) + " bytes, " + std::to_string(length - 8) +
           " arrived";
  const size_t end = cut ? length : 8 + claimed;
  j["generation"] = generation;
  j["generation_hex"] = hexNumber(generation, 8);
  t << "PR generation=" << hexNumber(generation, 8);
  if (action == 0) {
    if (claimed % 8 != 0) return "additional length " + std::to_string(claimed) + " is not a multiple of 8";
    nlohmann::json keys = nlohmann::json::array(), keysHex = nlohmann::json::array();
    t << ", " << claimed / 8 << " registered reservation key" << (claimed == 8 ? "" : "s")
      << (claimed ? ":" : "") << '\n';
    for (size_t at = 8; at + 8 <= end; at += 8) {
      const uint64_t key = wire::getBe64(d + at);
      t << "    " << hexNumber(key, 1) << '\n';
      keys.push_back(key);
      keysHex.push_back(hexNumber(key, 1));
    }
    if (cut) t << "(the device has " << claimed / 8 << " keys, " << (end - 8) / 8 << " arrived)\n";
    j["reservation_keys"] = keys;
    j["reservation_keys_hex"] = keysHex;
    return std::string();
  }
  if (claimed == 0) {
    t << ", there is NO reservation held\n";
    j["reservation"] = nullptr;
    return std::string();
  }
  if (claimed < 16 || end < 24)
    return "additional length " + std::to_string(claimed) + " cannot hold a reservation descriptor (16)";
  const uint64_t key = wire::getBe64(d + 8);
  const unsigned scope = d[21] >> 4, type = d[21] & 0x0f;
  t << ", reservation follows:\n    Key=" << hexNumber(key, 1) << "\n    scope: "
    << (scope == 0 ? "LU_SCOPE" : "reserved scope") << ",  type: " << reservationTypeText(type) << '\n';
  j["reservation"] = {{"reservation_key", key},
                      {"reservation_key_hex", hexNumber(key, 1)},
                      {"scope", scope},
                      {"reservation_type", type},
                      {"reservation_type_text", reservationTypeText(type)}};
  return std::string();
}

void reserveOutParameters(uint64_t key, uint64_t serviceKey, bool aptpl, uint8_t* list) {
  for (size_t i = 0; i < parameterListLength_c; ++i) list[i] = 0;
  wire::putBe64(list, key);
  wire::putBe64(list + 8, serviceKey);
  list[20] = aptpl ? 0x01 : 0x00;
}

int runPersistentReserve(QXScsiTarget& target, const PersistOptions& o, Output& out) {
  const int inCount = int(o.readKeys) + int(o.readReservation) + int(o.reportCapabilities);
  const int outCount = int(o.registerKey) + int(o.registerIgnore) + int(o.reserve) + int(o.release) +
                       int(o.clear) + int(o.preempt);
  if (o.in && o.out) return out.fail("persist: --in and --out exclude each other", exitContradicting);
  const bool isOut = o.out || (!o.in && outCount > 0);
  if (isOut ? inCount > 0 : outCount > 0)
    return out.fail(std::string("persist: ") + (isOut ? "--out takes --register, --register-ignore, --reserve, "
                                                         "--release, --clear or --preempt"
                                                       : "--in takes --read-keys, --read-reservation or "
                                                         "--report-capabilities"),
                    exitContradicting);
  if ((isOut ? outCount : inCount) > 1) return out.fail("persist: one action at a time", exitContradicting);
  if (isOut && outCount == 0)
    return out.fail("persist: --out needs an action (--register, --register-ignore, --reserve, --release, --clear "
                    "or --preempt)",
                    exitSyntax);
  uint64_t key = 0, serviceKey = 0, type = 0;
  if (!o.key.empty() && !parseWholeNumber(o.key, UINT64_MAX, key))
    return out.fail("persist: --param-rk '" + o.key + "': expected a whole number below 2^64", exitSyntax);
  if (!o.serviceKey.empty() && !parseWholeNumber(o.serviceKey, UINT64_MAX, serviceKey))
    return out.fail("persist: --param-sark '" + o.serviceKey + "': expected a whole number below 2^64", exitSyntax);
  if (!o.type.empty() && !parseWholeNumber(o.type, 15, type))
    return out.fail("persist: --prout-type '" + o.type + "': expected 0 to 15", exitSyntax);

  unsigned char cdb[10] = {};
  std::vector<uint8_t> buffer(isOut ? parameterListLength_c : allocation_c, 0);
  Request request;
  request.cdb = cdb;
  request.cdbLength = 10;
  request.data = buffer.data();
  request.dataLength = buffer.size();
  nlohmann::json& d = out.doc();
  unsigned action = 0;
  if (isOut) {
    action = o.registerKey ? 0 : o.reserve ? 1 : o.release ? 2 : o.clear ? 3 : o.preempt ? 4 : 6;
    cdb[0] = reserveOutCode;
    cdb[1] = static_cast<unsigned char>(action);
    cdb[2] = static_cast<unsigned char>(type);  // scope 0: the logical unit
    wire::putBe32(cdb + 5, static_cast<uint32_t>(parameterListLength_c));
    reserveOutParameters(key, serviceKey, o.aptpl, buffer.data());
    request.title = "PERSISTENT RESERVE OUT:";
    request.direction = QXScsi::dataOut_c;
    d["reservation_key"] = key;
    d["reservation_key_hex"] = hexNumber(key, 1);
    d["service_action_reservation_key"] = serviceKey;
    d["service_action_reservation_key_hex"] = hexNumber(serviceKey, 1);
    d["reservation_type"] = type;
  } else {
    action = o.readReservation ? 1 : o.reportCapabilities ? 2 : 0;
    cdb[0] = reserveInCode;
    cdb[1] = static_cast<unsigned char>(action);
    wire::putBe16(cdb + 7, static_cast<uint32_t>(allocation_c));
    request.title = "PERSISTENT RESERVE IN:";
    request.direction = QXScsi::dataIn_c;
  }
  d["service_action"] = action;
  d["service_action_name"] = isOut ? outActions_c[action] : inActions_c[action];
  Record rec = send(target, out.options(), request);
  const char* what = isOut ? "PERSISTENT RESERVE OUT" : "PERSISTENT RESERVE IN";
  if (!rec) return out.commandFailure(what, target);
  const int status = out.commandOutcome(*rec);
  if (rec->scsiStatus() != 0) return status;
  if (isOut) {
    out.text() << "PR out: " << outActions_c[action] << " done\n";
    return status;
  }
  const size_t got = out.received(allocation_c);
  out.data(buffer.data(), got);
  const std::string problem = describeReserveIn(buffer.data(), got, action, allocation_c, out);
  if (!problem.empty()) return out.fail("persist: response failed sanity checks: " + problem, exitMalformed);
  return status;
}

}  // namespace qxscsi::cli
