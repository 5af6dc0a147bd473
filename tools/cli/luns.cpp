// luns: REPORT LUNS through cmdCall, every 8-byte entry decoded level by level.
#include <cstdio>
#include <vector>

#include "cli/daily.h"
#include "cli/hex.h"
#include "cli/send.h"
#include "cli/sense_report.h"
#include "qxscsi/target.h"
#include "wire/bytes.h"
#include "wire/cdb.h"

namespace qxscsi::cli {
namespace {

constexpr size_t headerBytes = 8;
constexpr size_t entryBytes = 8;

const char* const methodNames[] = {"peripheral device", "flat space", "logical unit", "extended logical unit"};

// Big-endian value of `count` bytes.
uint64_t getBe(const uint8_t* p, unsigned count) {
  uint64_t v = 0;
  for (unsigned i = 0; i < count; ++i) v = v << 8 | p[i];
  return v;
}

// Decodes the level of `lun` that starts at byte `at` (0, 2, 4 or 6) into `j`, writing its line after
// `indent`. Returns true when the level points at a next one.
bool describeLevel(const uint8_t* lun, unsigned at, const std::string& indent, std::ostream& t, nlohmann::json& j) {
  const uint8_t* p = lun + at;
  const unsigned method = p[0] >> 6;
  j["addressing_method"] = method;
  j["addressing_method_text"] = methodNames[method];
  t << indent;
  switch (method) {
    case 0: {
      const unsigned bus = p[0] & 0x3f;
      if (bus == 0) {
        j["lun"] = p[1];
        t << "Peripheral device addressing: lun=" << unsigned(p[1]) << '\n';
        return false;
      }
      j["bus_identifier"] = bus;
      j["target"] = p[1];
      t << "Peripheral device addressing: bus_id=" << bus << ", target=" << unsigned(p[1]) << '\n';
      return true;
    }
    case 1: {
      const unsigned number = (p[0] & 0x3fu) << 8 | p[1];
      j["lun"] = number;
      t << "Flat space addressing: lun=" << number << '\n';
      return false;
    }
    case 2: {
      const unsigned target = p[0] & 0x3f, bus = p[1] >> 5, number = p[1] & 0x1f;
      j["bus_number"] = bus;
      j["target"] = target;
      j["lun"] = number;
      t << "Logical unit addressing: bus_id=" << bus << ", target=" << target << ", lun=" << number << '\n';
      return false;
    }
    default:
      break;
  }
  const unsigned lengthField = (p[0] >> 4) & 0x03;
  const unsigned extended = p[0] & 0x0f;
  const unsigned size = 2 * (lengthField + 1);
  j["length"] = lengthField;
  j["extended_address_method"] = extended;
  if (at + size > entryBytes) {
    t << "Extended logical unit addressing: length=" << lengthField << " runs past the 8 bytes of the LUN\n";
    j["extended_address_method_text"] = "runs past the end of the LUN";
    return false;
  }
  const uint64_t value = getBe(p + 1, size - 1);
  if (lengthField == 0 && extended == 1) {
    const char* name = wellKnownLunName(p[1]);
    j["extended_address_method_text"] = "well known logical unit";
    j["well_known_logical_unit"] = p[1];
    j["well_known_logical_unit_hex"] = hexNumber(p[1], 2);
    if (name != nullptr) {
      j["well_known_logical_unit_text"] = name;
      t << name << " well known logical unit\n";
    } else {
      t << "well known logical unit " << unsigned(p[1]) << '\n';
    }
  } else if ((lengthField == 1 || lengthField == 2) && extended == 2) {
    j["extended_address_method_text"] = lengthField == 1 ? "extended flat space" : "long extended flat space";
    j["lun"] = value;
    t << (lengthField == 1 ? "Extended" : "Long extended") << " flat space addressing: lun=" << value << '\n';
  } else if (lengthField == 3 && extended == 0x0f && value == 0xffffffffffffffULL) {
    j["extended_address_method_text"] = "logical unit not specified";
    t << "Logical unit not specified\n";
  } else {
    j["extended_address_method_text"] = "reserved";
    j["value"] = value;
    j["value_hex"] = hexNumber(value, int(2 * (size - 1)));
    t << "Extended logical unit addressing: length=" << lengthField << ", e.a. method=" << extended
      << ", value=" << value << '\n';
  }
  return false;
}

}  // namespace

const char* wellKnownLunName(unsigned number) {
  switch (number) {
    case 0x01: return "REPORT LUNS";
    case 0x02: return "ACCESS CONTROLS";
    case 0x03: return "TARGET LOG PAGES";
    case 0x04: return "SECURITY PROTOCOL";
    case 0x05: return "MANAGEMENT PROTOCOL";
    case 0x06: return "TARGET COMMANDS";
    // Those of UFS devices, which keep bit 7 set in theirs.
    case 0x81: return "UFS REPORT LUNS";
    case 0xb0: return "UFS BOOT";
    case 0xc4: return "UFS RPMB";
    case 0xd0: return "UFS DEVICE";
    default: return nullptr;
  }
}

nlohmann::json describeLun(const uint8_t* lun, const std::string& indent, std::ostream& t) {
  nlohmann::json top;
  top["lun_hex"] = "0x" + toHex(lun, entryBytes);
  nlohmann::json* level = &top;
  std::string lead = indent;
  unsigned at = 0;
  for (;;) {
    const bool next = describeLevel(lun, at, lead, t, *level);
    at += 2;
    if (!next || at >= entryBytes) break;
    t << indent << ">>" << (at == 2 ? "Second" : at == 4 ? "Third" : "Fourth") << " level addressing:\n";
    lead = indent + "  ";
    (*level)["next_level"] = nlohmann::json::object();
    level = &(*level)["next_level"];
  }
  // What follows the last level of a LUN is zero; anything else is shown, not decoded.
  const unsigned used = level->value("length", 0u) * 2 + at;
  bool trailing = false;
  for (unsigned i = used; i < entryBytes; ++i) trailing = trailing || lun[i] != 0;
  if (trailing) {
    top["trailing_bytes_not_zero"] = true;
    t << lead << "<<bytes " << used << " to 7 after the last level are not zero>>\n";
  }
  return top;
}

std::string describeLunList(const uint8_t* data, size_t length, size_t allocation, unsigned select, Output& out) {
  if (length < headerBytes) return std::to_string(length) + " bytes arrived, the header holds 8";
  const uint32_t listLength = wire::getBe32(data);
  if (listLength % entryBytes != 0)
    return "the LUN LIST LENGTH " + std::to_string(listLength) + " is not a multiple of 8";
  const size_t total = size_t(listLength) + headerBytes;
  if (total > length && length < allocation)
    return "the LUN LIST LENGTH says " + std::to_string(total) + " bytes, " + std::to_string(length) + " arrived";
  const size_t count = listLength / entryBytes;
  const size_t end = total < length ? total : length;
  const size_t whole = (end - headerBytes) / entryBytes;
  std::ostream& t = out.text();
  nlohmann::json& d = out.doc();
  d["select_report"] = select;
  d["lun_list_length"] = listLength;
  d["logical_unit_count"] = count;
  d["logical_units_listed"] = whole;
  t << "Lun list length = " << listLength << " which implies " << count << " lun entr" << (count == 1 ? "y" : "ies")
    << '\n';
  nlohmann::json list = nlohmann::json::array();
  for (size_t i = 0; i < whole; ++i) {
    const uint8_t* lun = data + headerBytes + i * entryBytes;
    if (i == 0) t << "Report luns [select_report=" << hexNumber(select, 1) << "]:\n";
    t << "    " << toHex(lun, entryBytes) << '\n';
    list.push_back(describeLun(lun, "      ", t));
  }
  d["logical_units"] = list;
  if (whole < count)
    t << "(the device claims " << count << " entries; the " << whole << " that arrived whole are shown)\n";
  return {};
}

int runReportLuns(QXScsiTarget& target, const LunsOptions& o, Output& out) {
  std::vector<uint8_t> buffer;
  // A list too long for the buffer: once more with room for all of it (as far as 1 MiB). A LUN LIST
  // LENGTH that cannot be right is reported below rather than asked for.
  const GrowingAnswer a = sendGrowing(
      target, out, "REPORT LUNS", lunListFirst_c, lunListLargest_c,
      [&](unsigned char (&cdb)[12], uint32_t allocation) {
        wire::reportLunsCdb(cdb, allocation);
        cdb[2] = static_cast<unsigned char>(o.select);
      },
      [](const uint8_t* data, size_t) {
        const uint32_t listLength = wire::getBe32(data);
        return listLength % entryBytes == 0 ? uint64_t(listLength) + headerBytes : 0;
      },
      buffer);
  if (!a.good) return a.status;
  out.data(buffer.data(), a.got);
  const std::string problem = describeLunList(buffer.data(), a.got, a.allocation, o.select, out);
  if (!problem.empty()) return out.fail("luns: response failed sanity checks: " + problem, exitMalformed);
  return a.status;
}

}  // namespace qxscsi::cli
