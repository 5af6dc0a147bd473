// Standard INQUIRY data decoded field by field, in the layout storage engineers know from sg_inq.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/hex.h"
#include "cli/sense_report.h"

namespace qxscsi::cli {
namespace {

// An ASCII field of standard INQUIRY data, trailing blanks and NULs dropped, anything else escaped.
std::string field(const uint8_t* data, size_t from, size_t to) {
  while (to > from && (data[to - 1] == ' ' || data[to - 1] == 0)) --to;
  return untrustedText(data + from, to - from);
}

const char* versionName(unsigned version) {
  static const char* const names[] = {
      "no conformance claimed", "SCSI-1", "SCSI-2", "SPC", "SPC-2", "SPC-3", "SPC-4", "SPC-5"};
  return version < 8 ? names[version] : "no conformance claimed";
}

const char* qualifierNote(unsigned qualifier) {
  switch (qualifier) {
    case 0:
      return "";
    case 1:
      return " [LU temporarily unavailable]";
    case 3:
      return " [LU not accessible via this port]";
    default:
      return " [reserved or vendor specific qualifier]";
  }
}

unsigned bit(uint8_t byte, unsigned n) { return (byte >> n) & 1u; }

}  // namespace

void describeStandardInquiry(const uint8_t* d, size_t n, Output& out) {
  nlohmann::json& j = out.doc();
  std::ostream& t = out.text();
  char line[160];
  if (n == 0) {
    t << "short inquiry data (0 bytes)\n";
    j["short"] = true;
    return;
  }
  const unsigned qualifier = d[0] >> 5, pdt = d[0] & 0x1f;
  t << "standard INQUIRY:" << qualifierNote(qualifier) << '\n';
  j["peripheral_qualifier"] = qualifier;
  j["peripheral_device_type"] = pdt;
  j["peripheral_device_type_hex"] = hexNumber(pdt, 2);
  j["peripheral_device_type_text"] = deviceTypeText(pdt);
  if (n >= 3) {
    std::snprintf(line, sizeof line,
                  "  PQual=%u  PDT=%u  RMB=%u  LU_CONG=%u  hot_pluggable=%u  version=0x%02x  [%s]\n",
                  qualifier, pdt, bit(d[1], 7), bit(d[1], 6), (d[1] >> 4) & 3u, d[2], versionName(d[2]));
    t << line;
    j["removable"] = bit(d[1], 7) != 0;
    j["logical_unit_conglomerate"] = bit(d[1], 6) != 0;
    j["hot_pluggable"] = (d[1] >> 4) & 3u;
    j["version"] = d[2];
    j["version_hex"] = hexNumber(d[2], 2);
    j["version_text"] = versionName(d[2]);
  }
  if (n >= 4) {
    std::snprintf(line, sizeof line, "  [AERC=%u]  [TrmTsk=%u]  NormACA=%u  HiSUP=%u  Resp_data_format=%u\n",
                  bit(d[3], 7), bit(d[3], 6), bit(d[3], 5), bit(d[3], 4), d[3] & 0x0fu);
    t << line;
    j["normal_aca"] = bit(d[3], 5) != 0;
    j["hierarchical_support"] = bit(d[3], 4) != 0;
    j["response_data_format"] = d[3] & 0x0f;
  }
  if (n >= 6) {
    std::snprintf(line, sizeof line, "  SCCS=%u  ACC=%u  TPGS=%u  3PC=%u  Protect=%u", bit(d[5], 7),
                  bit(d[5], 6), (d[5] >> 4) & 3u, bit(d[5], 3), bit(d[5], 0));
    t << line;
    j["scc_supported"] = bit(d[5], 7) != 0;
    j["access_controls_coordinator"] = bit(d[5], 6) != 0;
    j["tpgs"] = (d[5] >> 4) & 3u;
    j["third_party_copy"] = bit(d[5], 3) != 0;
    j["protect"] = bit(d[5], 0) != 0;
    if (n >= 7) {
      char vs[16] = "";  // the vendor-specific bit beside MultiP means something only with it
      if (bit(d[6], 4)) std::snprintf(vs, sizeof vs, " (VS=%u)", bit(d[6], 5));
      std::snprintf(line, sizeof line,
                    "  [BQue=%u]\n  EncServ=%u  MultiP=%u%s  [MChngr=%u]  [ACKREQQ=%u]  Addr16=%u",
                    bit(d[6], 7), bit(d[6], 6), bit(d[6], 4), vs, bit(d[6], 3), bit(d[6], 2), bit(d[6], 0));
      t << line;
      j["basic_queuing"] = bit(d[6], 7) != 0;
      j["enclosure_services"] = bit(d[6], 6) != 0;
      j["multi_port"] = bit(d[6], 4) != 0;
      j["address_16"] = bit(d[6], 0) != 0;
    }
    t << '\n';
  }
  if (n >= 8) {
    std::snprintf(line, sizeof line,
                  "  [RelAdr=%u]  WBus16=%u  Sync=%u  [Linked=%u]  [TranDis=%u]  CmdQue=%u\n", bit(d[7], 7),
                  bit(d[7], 5), bit(d[7], 4), bit(d[7], 3), bit(d[7], 2), bit(d[7], 1));
    t << line;
    j["wide_bus_16"] = bit(d[7], 5) != 0;
    j["synchronous"] = bit(d[7], 4) != 0;
    j["command_queuing"] = bit(d[7], 1) != 0;
  }
  if (n >= 57) {
    std::snprintf(line, sizeof line, "  [SPI: Clocking=0x%x  QAS=%u  IUS=%u]\n", (d[56] >> 2) & 3u,
                  bit(d[56], 1), bit(d[56], 0));
    t << line;
  }
  if (n >= 5) {
    const size_t claimed = 5 + static_cast<size_t>(d[4]);
    std::snprintf(line, sizeof line, "    length=%zu (0x%zx)", claimed, claimed);
    t << line;
    if (claimed > n) t << ", but only " << n << " bytes arrived";
    t << '\n';
    j["additional_length"] = d[4];
  }
  t << "   Peripheral device type: " << deviceTypeText(pdt) << '\n';
  // Vendor, product and revision come together or not at all: none is shown cut.
  if (n < 36) {
    t << " (" << n << " of 36 bytes arrived: no vendor, product or revision)\n";
    j["short"] = true;
    return;
  }
  const std::string vendor = field(d, 8, 16), product = field(d, 16, 32), revision = field(d, 32, 36);
  t << " Vendor identification: " << vendor << "\n Product identification: " << product
    << "\n Product revision level: " << revision << '\n';
  j["vendor"] = vendor;
  j["product"] = product;
  j["revision"] = revision;
  if (n > 36) {  // vendor specific: whatever of bytes 36 to 55 arrived
    const std::string text = field(d, 36, n < 56 ? n : 56);
    if (!text.empty()) t << " Vendor specific: " << text << '\n';
    j["vendor_specific"] = text;
  }
  nlohmann::json descriptors = nlohmann::json::array();
  for (size_t at = 58; at + 2 <= n && at < 74; at += 2) {
    const unsigned code = static_cast<unsigned>(d[at]) << 8 | d[at + 1];
    if (code == 0) continue;
    descriptors.push_back({{"code", code}, {"code_hex", hexNumber(code, 4)}});
  }
  if (!descriptors.empty()) {
    t << "\n  Version descriptors:\n";
    for (const auto& v : descriptors) t << "    " << v["code_hex"].get<std::string>() << '\n';
  }
  if (n >= 60) j["version_descriptors"] = descriptors;
}

}  // namespace qxscsi::cli
