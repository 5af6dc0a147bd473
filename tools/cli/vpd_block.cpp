// The block-device VPD pages: block limits (B0h), block device characteristics (B1h), logical
// block provisioning (B2h) and referrals (B3h).
#include <cstdio>
#include <vector>

#include "cli/vpd_fields.h"

namespace qxscsi::cli {
namespace {

const VpdField blockLimits_c[] = {
    {4, 1, 0x01, FieldStyle::number, "Write same non-zero (WSNZ)", "write_same_non_zero"},
    {5, 1, 0xff, FieldStyle::blocks, "Maximum compare and write length", "maximum_compare_and_write_length",
     nullptr, 0, "Command not implemented"},
    {6, 2, 0xff, FieldStyle::blocks, "Optimal transfer length granularity",
     "optimal_transfer_length_granularity", nullptr, 0, "not reported"},
    {8, 4, 0xff, FieldStyle::blocks, "Maximum transfer length", "maximum_transfer_length", nullptr, 0,
     "not reported"},
    {12, 4, 0xff, FieldStyle::blocks, "Optimal transfer length", "optimal_transfer_length", nullptr, 0,
     "not reported"},
    {16, 4, 0xff, FieldStyle::blocks, "Maximum prefetch transfer length", "maximum_prefetch_transfer_length",
     nullptr, 0, "ignored"},
    {20, 4, 0xff, FieldStyle::number, "Maximum unmap LBA count", "maximum_unmap_lba_count", nullptr, 0,
     "Unmap command not implemented"},
    {24, 4, 0xff, FieldStyle::number, "Maximum unmap block descriptor count",
     "maximum_unmap_block_descriptor_count", nullptr, 0, "Unmap command not implemented"},
    {28, 4, 0xff, FieldStyle::blocks, "Optimal unmap granularity", "optimal_unmap_granularity", nullptr, 0,
     "not reported"},
    {32, 1, 0x80, FieldStyle::truth, "Unmap granularity alignment valid",
     "unmap_granularity_alignment_valid"},
    {32, 4, 0x7f, FieldStyle::number, "Unmap granularity alignment", "unmap_granularity_alignment"},
    {36, 8, 0xff, FieldStyle::hex, "Maximum write same length", "maximum_write_same_length", nullptr, 0,
     "not reported"},
    {44, 4, 0xff, FieldStyle::blocks, "Maximum atomic transfer length", "maximum_atomic_transfer_length",
     nullptr, 0, "not reported"},
    {48, 4, 0xff, FieldStyle::number, "Atomic alignment", "atomic_alignment", nullptr, 0,
     "unaligned atomic writes permitted"},
    {52, 4, 0xff, FieldStyle::number, "Atomic transfer length granularity",
     "atomic_transfer_length_granularity", nullptr, 0, "no granularity requirement"},
    {56, 4, 0xff, FieldStyle::blocks, "Maximum atomic transfer length with atomic boundary",
     "maximum_atomic_transfer_length_with_atomic_boundary", nullptr, 0, "not reported"},
    {60, 4, 0xff, FieldStyle::blocks, "Maximum atomic boundary size", "maximum_atomic_boundary_size", nullptr,
     0, "can only write atomic 1 block"},
};

const char* const productTypes_c[] = {"Not specified",
                                      "CFast",
                                      "CompactFlash",
                                      "Memory Stick",
                                      "MultiMediaCard",
                                      "Secure Digital Card (SD)",
                                      "XQD",
                                      "Universal Flash Storage Card (UFS)"};
const char* const formFactors_c[] = {"not reported", "5.25 inch", "3.5 inch",
                                     "2.5 inch",     "1.8 inch",  "less than 1.8 inch"};
const char* const zoned_c[] = {"not reported", "host-aware", "host-managed"};

const VpdField blockDeviceCharacteristics_c[] = {
    {6, 1, 0xff, FieldStyle::number, "Product type", "product_type", productTypes_c, 8},
    {7, 1, 0xc0, FieldStyle::flag, "WABEREQ", "write_after_block_erase_required"},
    {7, 1, 0x30, FieldStyle::flag, "WACEREQ", "write_after_cryptographic_erase_required"},
    {7, 1, 0x0f, FieldStyle::number, "Nominal form factor", "nominal_form_factor", formFactors_c, 6},
    {8, 1, 0x30, FieldStyle::flag, "ZONED", "zoned", zoned_c, 3},
    {8, 1, 0x08, FieldStyle::flag, "RBWZ", "reassign_blocks_write_zeros"},
    {8, 1, 0x04, FieldStyle::flag, "BOCS", "background_operation_control_supported"},
    {8, 1, 0x02, FieldStyle::flag, "FUAB", "force_unit_access_behavior"},
    {8, 1, 0x01, FieldStyle::flag, "VBULS", "verify_byte_check_unmapped_lba_supported"},
    {12, 4, 0xff, FieldStyle::flag, "DEPOPULATION_TIME", "depopulation_time"},
};

const char* const provisioningTypes_c[] = {"not known or fully provisioned", "resource provisioned",
                                           "thin provisioned"};

const VpdField logicalBlockProvisioning_c[] = {
    {5, 1, 0x80, FieldStyle::number, "Unmap command supported (LBPU)", "unmap_supported"},
    {5, 1, 0x40, FieldStyle::number, "Write same (16) with unmap bit supported (LBPWS)",
     "write_same_16_unmap_supported"},
    {5, 1, 0x20, FieldStyle::number, "Write same (10) with unmap bit supported (LBPWS10)",
     "write_same_10_unmap_supported"},
    {5, 1, 0x1c, FieldStyle::number, "Logical block provisioning read zeros (LBPRZ)",
     "logical_block_provisioning_read_zeros"},
    {5, 1, 0x02, FieldStyle::number, "Anchored LBAs supported (ANC_SUP)", "anchored_supported"},
    {4, 1, 0xff, FieldStyle::number, "Threshold exponent", "threshold_exponent", nullptr, 0,
     "threshold sets not supported"},
    {5, 1, 0x01, FieldStyle::number, "Descriptor present (DP)", "descriptor_present"},
    {6, 1, 0xf8, FieldStyle::number, "Minimum percentage", "minimum_percentage", nullptr, 0, "not reported"},
    {6, 1, 0x07, FieldStyle::number, "Provisioning type", "provisioning_type", provisioningTypes_c, 3},
    {7, 1, 0xff, FieldStyle::number, "Threshold percentage", "threshold_percentage", nullptr, 0,
     "percentages not supported"},
};

const VpdField referrals_c[] = {
    {8, 4, 0xff, FieldStyle::number, "User data segment size", "user_data_segment_size"},
    {12, 4, 0xff, FieldStyle::number, "User data segment multiplier", "user_data_segment_multiplier"},
};

nlohmann::json& pageObject(Output& out, const char* key, const char* title) {
  out.text() << title << '\n';
  return out.doc()[key] = nlohmann::json::object();
}

}  // namespace

void describeBlockLimits(const uint8_t* p, size_t n, Output& out) {
  nlohmann::json& j = pageObject(out, "block_limits", "Block limits VPD page (SBC):");
  describeFields(p, n, blockLimits_c, out, j);
}

void describeBlockDeviceCharacteristics(const uint8_t* p, size_t n, Output& out) {
  nlohmann::json& j =
      pageObject(out, "block_device_characteristics", "Block device characteristics VPD page (SBC):");
  if (n >= 6) {  // medium rotation rate: 0 not reported, 1 no rotation, 2 to 400h reserved
    const unsigned rate = static_cast<unsigned>(p[4]) << 8 | p[5];
    char line[64];
    if (rate == 0)
      std::snprintf(line, sizeof line, "Nominal rotation rate not reported");
    else if (rate == 1)
      std::snprintf(line, sizeof line, "Non-rotating medium (e.g. solid state)");
    else if (rate < 0x401)
      std::snprintf(line, sizeof line, "Reserved [0x%x]", rate);
    else
      std::snprintf(line, sizeof line, "Nominal rotation rate: %u rpm", rate);
    out.text() << "  " << line << '\n';
    j["medium_rotation_rate"] = rate;
  }
  describeFields(p, n, blockDeviceCharacteristics_c, out, j);
}

void describeLogicalBlockProvisioning(const uint8_t* p, size_t n, Output& out) {
  nlohmann::json& j =
      pageObject(out, "logical_block_provisioning", "Logical block provisioning VPD page (SBC):");
  describeFields(p, n, logicalBlockProvisioning_c, out, j);
  // With DP set, a provisioning group designation descriptor follows: walked as page 83h's are.
  if (n > 8 && (p[5] & 0x01) != 0) {
    std::vector<uint8_t> asPage(p + 4, p + n);
    asPage[0] = 0;
    asPage[1] = 0x83;
    asPage[2] = static_cast<uint8_t>((n - 8) >> 8);
    asPage[3] = static_cast<uint8_t>(n - 8);
    out.text() << "  Provisioning group descriptor:\n";
    Output group(out.options());
    describeDeviceIdentification(asPage.data(), asPage.size(), group);
    j["provisioning_group_descriptor"] = group.doc()["designators"];
  }
}

void describeReferrals(const uint8_t* p, size_t n, Output& out) {
  nlohmann::json& j = pageObject(out, "referrals", "Referrals VPD page (SBC):");
  describeFields(p, n, referrals_c, out, j);
}

}  // namespace qxscsi::cli
