// Field tables read into text and JSON; the extended INQUIRY data page (86h).
#include "cli/vpd_fields.h"

#include <cstdio>

#include "cli/sense_report.h"

namespace qxscsi::cli {
namespace {

unsigned long long fieldValue(const uint8_t* p, const VpdField& f) {
  if (f.bytes == 1) {
    unsigned shift = 0;
    while (((f.mask >> shift) & 1) == 0) ++shift;
    return static_cast<unsigned>(p[f.offset] & f.mask) >> shift;
  }
  unsigned long long v = 0;
  for (unsigned i = 0; i < f.bytes; ++i) v = (v << 8) | (p[f.offset + i] & (i == 0 ? f.mask : 0xff));
  return v;
}

bool oneBit(uint8_t mask) { return mask != 0 && (mask & (mask - 1)) == 0; }

}  // namespace

void describeFields(const uint8_t* p, size_t n, const VpdField* fields, size_t count, Output& out,
                    nlohmann::json& object) {
  std::ostream& t = out.text();
  int lineOffset = -1;  // one-byte flags of one byte share a line, as sg_vpd prints them
  for (size_t i = 0; i < count; ++i) {
    const VpdField& f = fields[i];
    if (static_cast<size_t>(f.offset) + f.bytes > n) continue;  // did not arrive
    const unsigned long long v = fieldValue(p, f);
    char value[48];
    if (f.style == FieldStyle::hex && v != 0)
      std::snprintf(value, sizeof value, "0x%llx blocks", v);
    else if (f.style == FieldStyle::truth)
      std::snprintf(value, sizeof value, "%s", v != 0 ? "true" : "false");
    else
      std::snprintf(value, sizeof value,
                    f.style == FieldStyle::blocks || f.style == FieldStyle::hex ? "%llu blocks" : "%llu", v);
    const bool named = f.style == FieldStyle::flag || f.style == FieldStyle::dropped;
    const bool flag = named && f.bytes == 1;
    const bool joins = flag && lineOffset == f.offset;
    if (lineOffset >= 0 && !joins) t << '\n';
    t << (joins ? " " : "  ") << (f.style == FieldStyle::dropped ? "[" : "") << f.label
      << (named ? "=" : ": ") << value << (f.style == FieldStyle::dropped ? "]" : "");
    if (v < f.nameCount) t << " (" << f.names[v] << ')';
    if (v == 0 && f.zeroNote != nullptr) t << " [" << f.zeroNote << ']';
    lineOffset = flag ? f.offset : -1;
    if (!flag) t << '\n';
    if (f.bytes == 1 && oneBit(f.mask))
      object[f.key] = v != 0;
    else
      object[f.key] = v;
    if (f.bytes == 8) object[std::string(f.key) + "_hex"] = hexNumber(v, 1);
    if (f.names != nullptr) object[std::string(f.key) + "_text"] = v < f.nameCount ? f.names[v] : "reserved";
  }
  if (lineOffset >= 0) t << '\n';
}

namespace {

const VpdField extendedInquiry_c[] = {
    {4, 1, 0xc0, FieldStyle::flag, "ACTIVATE_MICROCODE", "activate_microcode"},
    {4, 1, 0x38, FieldStyle::flag, "SPT", "supported_protection_types"},
    {4, 1, 0x04, FieldStyle::flag, "GRD_CHK", "guard_check"},
    {4, 1, 0x02, FieldStyle::flag, "APP_CHK", "application_tag_check"},
    {4, 1, 0x01, FieldStyle::flag, "REF_CHK", "reference_tag_check"},
    {5, 1, 0x20, FieldStyle::flag, "UASK_SUP", "unit_attention_sense_key_supported"},
    {5, 1, 0x10, FieldStyle::flag, "GROUP_SUP", "grouping_function_supported"},
    {5, 1, 0x08, FieldStyle::flag, "PRIOR_SUP", "priority_supported"},
    {5, 1, 0x04, FieldStyle::flag, "HEADSUP", "head_of_queue_supported"},
    {5, 1, 0x02, FieldStyle::flag, "ORDSUP", "ordered_supported"},
    {5, 1, 0x01, FieldStyle::flag, "SIMPSUP", "simple_supported"},
    {6, 1, 0x08, FieldStyle::flag, "WU_SUP", "write_uncorrectable_supported"},
    {6, 1, 0x04, FieldStyle::dropped, "CRD_SUP", "correction_disable_supported"},
    {6, 1, 0x02, FieldStyle::flag, "NV_SUP", "nonvolatile_cache_supported"},
    {6, 1, 0x01, FieldStyle::flag, "V_SUP", "volatile_cache_supported"},
    {7, 1, 0x20, FieldStyle::flag, "NO_PI_CHK", "no_protection_information_checking"},
    {7, 1, 0x10, FieldStyle::flag, "P_I_I_SUP", "protection_information_interval_supported"},
    {7, 1, 0x01, FieldStyle::flag, "LUICLR", "logical_unit_it_nexus_clear"},
    {8, 1, 0xe0, FieldStyle::flag, "LU_COLL_TYPE", "logical_unit_collection_type"},
    {8, 1, 0x10, FieldStyle::flag, "R_SUP", "referrals_supported"},
    {8, 1, 0x08, FieldStyle::flag, "RTD_SUP", "revert_to_defaults_supported"},
    {8, 1, 0x02, FieldStyle::flag, "HSSRELEF", "history_snapshots_release_effects"},
    {8, 1, 0x01, FieldStyle::dropped, "CBCS", "capability_based_command_security"},
    {9, 1, 0x0f, FieldStyle::flag, "Multi I_T nexus microcode download", "multi_it_nexus_microcode_download"},
    {10, 2, 0xff, FieldStyle::flag, "Extended self-test completion minutes",
     "extended_self_test_completion_minutes"},
    {12, 1, 0x80, FieldStyle::flag, "POA_SUP", "power_on_activation_supported"},
    {12, 1, 0x40, FieldStyle::flag, "HRA_SUP", "hard_reset_activation_supported"},
    {12, 1, 0x20, FieldStyle::flag, "VSA_SUP", "vendor_specific_activation_supported"},
    {12, 1, 0x10, FieldStyle::flag, "DMS_VALID", "download_microcode_support_valid"},
    {13, 1, 0xff, FieldStyle::flag, "Maximum supported sense data length",
     "maximum_supported_sense_data_length"},
    {14, 1, 0x80, FieldStyle::flag, "IBS", "implicit_bind_supported"},
    {14, 1, 0x40, FieldStyle::flag, "IAS", "implicit_affiliation_supported"},
    {14, 1, 0x04, FieldStyle::flag, "SAC", "set_affiliation_supported"},
    {14, 1, 0x02, FieldStyle::flag, "NRD1", "no_redundancy_data_1"},
    {14, 1, 0x01, FieldStyle::flag, "NRD0", "no_redundancy_data_0"},
    {15, 2, 0xff, FieldStyle::flag, "Maximum inquiry change logs", "maximum_inquiry_change_logs"},
    {17, 2, 0xff, FieldStyle::flag, "Maximum mode page change logs", "maximum_mode_page_change_logs"},
    {19, 1, 0x80, FieldStyle::flag, "DM_MD_4", "download_microcode_mode_4"},
    {19, 1, 0x40, FieldStyle::flag, "DM_MD_5", "download_microcode_mode_5"},
    {19, 1, 0x20, FieldStyle::flag, "DM_MD_6", "download_microcode_mode_6"},
    {19, 1, 0x10, FieldStyle::flag, "DM_MD_7", "download_microcode_mode_7"},
    {19, 1, 0x08, FieldStyle::flag, "DM_MD_D", "download_microcode_mode_d"},
    {19, 1, 0x04, FieldStyle::flag, "DM_MD_E", "download_microcode_mode_e"},
    {19, 1, 0x02, FieldStyle::flag, "DM_MD_F", "download_microcode_mode_f"},
};

}  // namespace

void describeExtendedInquiry(const uint8_t* p, size_t n, Output& out) {
  out.text() << "extended INQUIRY data VPD page:\n";
  nlohmann::json& j = out.doc()["extended_inquiry"] = nlohmann::json::object();
  describeFields(p, n, extendedInquiry_c, out, j);
}

}  // namespace qxscsi::cli
