// inquiry: standard data and VPD pages decoded from answers captured from real devices (the
// Linux scsi_debug driver's, read with sg_vpd -HHHH), cut answers, and runs of the built program.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/hex.h"
#include "cli/output.h"
#include "cli/vpd.h"
#include "qxscsi/implementation.h"
#include "qxscsi/target.h"
#include "tool_run.h"

namespace {

using qxscsi::cli::Options;
using qxscsi::cli::Output;

std::vector<uint8_t> bytes(const std::string& hex) {
  std::vector<uint8_t> out;
  std::string error;
  EXPECT_TRUE(qxscsi::cli::parseHex(hex, out, error)) << error;
  return out;
}

// The decoded JSON of `data` (the standard data when `vpd` is false) and its text.
struct Decoded {
  nlohmann::json doc;
  std::string text;
};

Decoded decode(const std::vector<uint8_t>& data, bool vpd) {
  Decoded d;
  for (bool json : {true, false}) {
    Options o;
    o.json = json;
    Output out(o);
    std::ostringstream captured;
    std::streambuf* saved = std::cout.rdbuf(captured.rdbuf());
    if (vpd)
      qxscsi::cli::describeVpdPage(data.data(), data.size(), out);
    else
      qxscsi::cli::describeStandardInquiry(data.data(), data.size(), out);
    std::cout.rdbuf(saved);
    if (json)
      d.doc = out.doc();
    else
      d.text = captured.str();
  }
  return d;
}

// scsi_debug's standard INQUIRY data (96 bytes; SPC-5, MultiP, CmdQue, four version descriptors).
const char* const scsiDebugStandard_c =
    "00 00 07 02 5b 00 10 0a 4c 69 6e 75 78 20 20 20 73 63 73 69 5f 64 65 62 75 67 20 20 20 20 20 20"
    "30 31 39 31 32 30 32 31 30 35 32 30 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 c0 05 c0 06 00"
    "21 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";

TEST(StandardInquiry, CapturedAnswerDecodesAsSgInqShowsIt) {
  const Decoded d = decode(bytes(scsiDebugStandard_c), false);
  EXPECT_EQ(d.doc["version"], 7);
  EXPECT_EQ(d.doc["version_text"], "SPC-5");
  EXPECT_EQ(d.doc["multi_port"], true);
  EXPECT_EQ(d.doc["command_queuing"], true);
  EXPECT_EQ(d.doc["tpgs"], 0);
  EXPECT_EQ(d.doc["additional_length"], 91);
  EXPECT_EQ(d.doc["vendor"], "Linux");
  EXPECT_EQ(d.doc["product"], "scsi_debug");
  EXPECT_EQ(d.doc["revision"], "0191");
  EXPECT_EQ(d.doc["vendor_specific"], "20210520");
  EXPECT_EQ(d.doc["version_descriptors"],
            nlohmann::json::parse(R"([{"code":192,"code_hex":"0x00c0"},{"code":1472,"code_hex":"0x05c0"},
                                      {"code":1536,"code_hex":"0x0600"},{"code":8448,"code_hex":"0x2100"}])"));
  // The lines sg_inq prints for the same bytes (its obsolete fields in brackets).
  for (const char* line :
       {"  PQual=0  PDT=0  RMB=0  LU_CONG=0  hot_pluggable=0  version=0x07  [SPC-5]\n",
        "  [AERC=0]  [TrmTsk=0]  NormACA=0  HiSUP=0  Resp_data_format=2\n",
        "  SCCS=0  ACC=0  TPGS=0  3PC=0  Protect=0  [BQue=0]\n",
        "  EncServ=0  MultiP=1 (VS=0)  [MChngr=0]  [ACKREQQ=0]  Addr16=0\n",
        "  [RelAdr=0]  WBus16=0  Sync=0  [Linked=1]  [TranDis=0]  CmdQue=1\n",
        "  [SPI: Clocking=0x0  QAS=0  IUS=0]\n", "    length=96 (0x60)\n", " Vendor identification: Linux\n",
        " Vendor specific: 20210520\n", "  Version descriptors:\n    0x00c0\n    0x05c0\n"})
    EXPECT_NE(d.text.find(line), std::string::npos) << line << d.text;
}

// One bit set in bytes 1, 3, 5, 6 and 7 of otherwise empty data: exactly its key turns true.
TEST(StandardInquiry, EachFlagComesFromItsOwnBit) {
  const struct {
    int byte, bit;
    const char* key;
  } flags[] = {{1, 7, "removable"},        {1, 6, "logical_unit_conglomerate"},
               {3, 5, "normal_aca"},       {3, 4, "hierarchical_support"},
               {5, 7, "scc_supported"},    {5, 6, "access_controls_coordinator"},
               {5, 3, "third_party_copy"}, {5, 0, "protect"},
               {6, 7, "basic_queuing"},    {6, 6, "enclosure_services"},
               {6, 4, "multi_port"},       {6, 0, "address_16"},
               {7, 5, "wide_bus_16"},      {7, 4, "synchronous"},
               {7, 1, "command_queuing"}};
  for (const auto& f : flags) {
    std::vector<uint8_t> data(36, ' ');
    for (int i = 0; i < 8; ++i) data[i] = 0;
    data[4] = 31;
    data[f.byte] = static_cast<uint8_t>(1u << f.bit);
    const nlohmann::json doc = decode(data, false).doc;
    for (const auto& other : flags)
      EXPECT_EQ(doc[other.key], other.key == f.key) << f.key << " vs " << other.key;
  }
  std::vector<uint8_t> fields(36, 0);
  fields[0] = 0x61;  // qualifier 3, type 1
  fields[1] = 0x30;  // hot pluggable 3
  fields[5] = 0x30;  // TPGS 3
  const nlohmann::json doc = decode(fields, false).doc;
  EXPECT_EQ(doc["peripheral_qualifier"], 3);
  EXPECT_EQ(doc["peripheral_device_type"], 1);
  EXPECT_EQ(doc["hot_pluggable"], 3);
  EXPECT_EQ(doc["tpgs"], 3);
  EXPECT_NE(decode(fields, false).text.find("LU not accessible"), std::string::npos);
}

// Only what arrived is decoded: each length keeps the keys its bytes hold and no others.
TEST(StandardInquiry, CutAnswersShowOnlyWhatArrived) {
  const std::vector<uint8_t> whole = bytes(scsiDebugStandard_c);
  const struct {
    size_t length;
    const char* present;  // a key that must be there ("" for none)
    const char* absent;   // a key that must not
  } cases[] = {{1, "peripheral_device_type", "version"},
               {3, "version", "response_data_format"},
               {4, "response_data_format", "additional_length"},
               {6, "protect", "multi_port"},
               {7, "multi_port", "command_queuing"},
               {8, "command_queuing", "vendor"},
               {35, "short", "product"},
               {36, "revision", "vendor_specific"},
               {40, "vendor_specific", "version_descriptors"},
               {59, "vendor_specific", "version_descriptors"},
               {60, "version_descriptors", "short"}};
  for (const auto& c : cases) {
    const std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(c.length));
    const Decoded d = decode(cut, false);
    EXPECT_TRUE(d.doc.contains(c.present)) << c.length << ' ' << d.doc;
    EXPECT_FALSE(d.doc.contains(c.absent)) << c.length << ' ' << d.doc;
  }
  const Decoded at40 = decode(std::vector<uint8_t>(whole.begin(), whole.begin() + 40), false);
  EXPECT_EQ(at40.doc["vendor_specific"], "2021");
  EXPECT_NE(at40.text.find("length=96 (0x60), but only 40 bytes arrived"), std::string::npos) << at40.text;
  const Decoded at60 = decode(std::vector<uint8_t>(whole.begin(), whole.begin() + 60), false);
  EXPECT_EQ(at60.doc["version_descriptors"].size(), 1u);
  EXPECT_TRUE(decode({}, false).doc["short"].get<bool>());
}

// VPD pages captured from scsi_debug (86h, 89h, B0h to B2h); B3h is sg3_utils' sample referrals page.
const char* const extendedInquiry_c = "00 86 00 3c 00 07 00 00";
const char* const blockLimits_c =
    "00 b0 00 3c 00 00 00 01 00 00 40 00 00 00 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01"
    "00 00 00 00 00 00 00 00 00 00 ff ff 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
const char* const blockCharacteristics_c = "00 b1 00 3c 00 01 00 05";
const char* const provisioning_c = "00 b2 00 04 00 00 00 00";
const char* const referrals_c = "00 b3 00 0c 00 00 00 00 11 22 33 44 00 00 10 00";

// scsi_debug's ATA information page: 572 bytes, the IDENTIFY DEVICE data from byte 60; zeros from
// byte 379 up to the IDENTIFY checksum word.
std::string ataInformation() {
  std::string hex =
      "00 89 02 38 00 00 00 00 6c 69 6e 75 78 20 20 20 53 41 54 20 73 63 73 69 5f 64 65 62 75 67 20 20 "
      "31 32 33 34 34 00 00 00 01 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 ec 00 00 00 5a 0c ff 3f "
      "37 c8 10 00 00 00 00 00 3f 00 00 00 00 00 00 00 58 58 58 58 58 58 58 58 20 20 20 20 20 20 20 20 "
      "20 20 20 20 00 00 00 40 04 00 2e 33 38 31 20 20 20 20 54 53 38 33 30 30 33 31 53 41 20 20 20 20 "
      "20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 10 80 00 00 00 2f "
      "00 00 00 02 00 02 07 00 ff ff 01 00 3f 00 c1 ff 3e 00 10 01 b0 f8 50 09 00 00 07 00 03 00 78 00 "
      "78 00 f0 00 78 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 02 00 00 00 00 00 00 00 7e 00 1b 00 "
      "6b 34 01 7d 03 40 69 34 01 3c 03 40 7f 40 00 00 00 00 fe fe 00 00 00 00 00 fe 00 00 00 00 00 00 "
      "00 00 00 00 b0 f8 50 09 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
      "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 00 b0 f8 "
      "50 09 b0 f8 50 09 20 20 02 00 b6 42 00 80 8a 00 06 3c 0a 3c ff ff c6 07 00 01 00 08 f0 0f 00 10 "
      "02 00 30 00 00 00 00 00 00 00 06 fe 00 00 02 00 50 00 8a 00 4f 95 00 00 21 00 0b ";
  for (int i = 379; i < 570; ++i) hex += "00 ";
  return hex + "a5 51";
}

TEST(VpdPages, CapturedAnswersDecodeToTheValuesSgVpdShows) {
  const struct {
    std::string hex;
    const char* object;
    const char* expected;  // keys of the page's object that must hold these values
    const char* line;      // a line of the text as sg_vpd prints it
  } cases[] = {
      {extendedInquiry_c, "extended_inquiry",
       R"({"head_of_queue_supported":true,"ordered_supported":true,"simple_supported":true,
           "supported_protection_types":0,"volatile_cache_supported":false})",
       "  UASK_SUP=0 GROUP_SUP=0 PRIOR_SUP=0 HEADSUP=1 ORDSUP=1 SIMPSUP=1\n"},
      {blockLimits_c, "block_limits",
       R"({"write_same_non_zero":false,"optimal_transfer_length_granularity":1,"maximum_transfer_length":16384,
           "optimal_transfer_length":1024,"optimal_unmap_granularity":1,"unmap_granularity_alignment_valid":false,
           "maximum_write_same_length":65535,"maximum_write_same_length_hex":"0xffff",
           "maximum_atomic_boundary_size":0})",
       "  Maximum transfer length: 16384 blocks\n"},
      {blockCharacteristics_c, "block_device_characteristics",
       R"({"medium_rotation_rate":1,"product_type":0,"nominal_form_factor":5,
           "nominal_form_factor_text":"less than 1.8 inch"})",
       "  Non-rotating medium (e.g. solid state)\n"},
      {provisioning_c, "logical_block_provisioning",
       R"({"unmap_supported":false,"threshold_exponent":0,"provisioning_type":0,"threshold_percentage":0})",
       "  Provisioning type: 0 (not known or fully provisioned)\n"},
      {referrals_c, "referrals",
       R"({"user_data_segment_size":287454020,"user_data_segment_multiplier":4096})",
       "  User data segment size: 287454020\n  User data segment multiplier: 4096\n"},
      {ataInformation(), "ata_information",
       R"({"sat_vendor":"linux","sat_product":"SAT scsi_debug","sat_revision":"1234","transport":"SATA",
           "command_code":236,"command_code_hex":"0xec","model":"ST380013AS","serial_number":"XXXXXXXX",
           "firmware_revision":"3.18"})",
       "  ATA command IDENTIFY DEVICE response summary:\n    model: ST380013AS\n    serial number: "
       "XXXXXXXX\n"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> page = bytes(c.hex);
    page.resize(4 + (page[2] << 8 | page[3]), 0);  // the pages' zero tails, left out above
    const Decoded d = decode(page, true);
    ASSERT_TRUE(d.doc.contains(c.object)) << c.object << d.doc;
    const nlohmann::json expected = nlohmann::json::parse(c.expected);
    for (const auto& [key, value] : expected.items())
      EXPECT_EQ(d.doc[c.object][key], value) << c.object << '.' << key;
    EXPECT_NE(d.text.find(c.line), std::string::npos) << c.line << d.text;
  }
  std::vector<uint8_t> ata = bytes(ataInformation());
  ASSERT_EQ(ata.size(), 572u);
  EXPECT_EQ(decode(ata, true).doc["ata_information"]["identify_hex"], qxscsi::cli::toHex(&ata[60], 512));
}

// A page cut short: a field is shown only when all its bytes arrived.
TEST(VpdPages, CutPagesLeaveOutFieldsThatDidNotArrive) {
  std::vector<uint8_t> limits = bytes(blockLimits_c);
  const std::vector<uint8_t> ata = bytes(ataInformation());
  const struct {
    const std::vector<uint8_t>* page;
    size_t length;
    const char* object;
    const char* present;
    const char* absent;
  } cases[] = {
      {&limits, 12, "block_limits", "maximum_transfer_length", "optimal_transfer_length"},
      {&limits, 43, "block_limits", "unmap_granularity_alignment", "maximum_write_same_length"},
      {&limits, 44, "block_limits", "maximum_write_same_length_hex", "maximum_atomic_transfer_length"},
      {&ata, 31, "ata_information", "sat_vendor", "sat_product"},
      {&ata, 56, "ata_information", "transport", "command_code"},
      {&ata, 60, "ata_information", "command_code", "identify_hex"},
      {&ata, 113, "ata_information", "serial_number", "firmware_revision"},
      {&ata, 153, "ata_information", "firmware_revision", "model"},
      {&ata, 154, "ata_information", "model", "short"}};
  for (const auto& c : cases) {
    const std::vector<uint8_t> cut(c.page->begin(), c.page->begin() + static_cast<long>(c.length));
    const nlohmann::json doc = decode(cut, true).doc;
    EXPECT_TRUE(doc[c.object].contains(c.present)) << c.length << ' ' << doc;
    EXPECT_FALSE(doc[c.object].contains(c.absent)) << c.length << ' ' << doc;
  }
  const std::vector<uint8_t> part(ata.begin(), ata.begin() + 100);
  EXPECT_EQ(decode(part, true).doc["ata_information"]["identify_hex"].get<std::string>().size(), 80u);
  EXPECT_NE(decode(part, true).text.find("IDENTIFY data (40 of 512 bytes)"), std::string::npos);
}

// Bits whose place is easy to get wrong: the multi-bit fields, the 31-bit unmap granularity
// alignment beside its valid bit, and the download microcode modes of byte 19.
TEST(VpdPages, MultiBitFieldsAndNeighbouringBits) {
  std::vector<uint8_t> ext(64, 0);
  ext[1] = 0x86;
  ext[3] = 0x3c;
  ext[4] = 0xe8;   // ACTIVATE_MICROCODE 3, SPT 5
  ext[8] = 0xa0;   // LU_COLL_TYPE 5
  ext[19] = 0x0a;  // DM_MD_D and DM_MD_F
  const nlohmann::json e = decode(ext, true).doc["extended_inquiry"];
  EXPECT_EQ(e["activate_microcode"], 3);
  EXPECT_EQ(e["supported_protection_types"], 5);
  EXPECT_EQ(e["logical_unit_collection_type"], 5);
  EXPECT_EQ(e["download_microcode_mode_d"], true);
  EXPECT_EQ(e["download_microcode_mode_e"], false);
  EXPECT_EQ(e["download_microcode_mode_f"], true);
  EXPECT_EQ(e["download_microcode_mode_7"], false);
  std::vector<uint8_t> limits = bytes(blockLimits_c);
  limits[32] = 0x80;
  limits[35] = 0x08;
  const nlohmann::json b = decode(limits, true).doc["block_limits"];
  EXPECT_EQ(b["unmap_granularity_alignment_valid"], true);
  EXPECT_EQ(b["unmap_granularity_alignment"], 8);
  std::vector<uint8_t> prov = bytes(provisioning_c);
  prov[5] = 0x14;  // LBPRZ 5, DP 0
  prov[6] = 0x0a;  // minimum percentage 1, thin provisioned
  const nlohmann::json p = decode(prov, true).doc["logical_block_provisioning"];
  EXPECT_EQ(p["logical_block_provisioning_read_zeros"], 5);
  EXPECT_EQ(p["minimum_percentage"], 1);
  EXPECT_EQ(p["provisioning_type_text"], "thin provisioned");
  EXPECT_EQ(p["descriptor_present"], false);
}

// With DP set, B2h carries the provisioning group's designation descriptor after its header.
TEST(VpdPages, ProvisioningGroupDescriptorIsADesignator) {
  const struct {
    const char* hex;
    size_t designators;
    bool complete;
  } cases[] = {{"00 b2 00 10 00 01 02 00 01 03 00 08 50 01 40 51 23 45 67 89", 1, true},
               {"00 b2 00 0a 00 01 02 00 01 03 00 08 50 01", 1, false},  // runs past the page
               {"00 b2 00 10 00 00 02 00 01 03 00 08 50 01 40 51 23 45 67 89", 0, true}};  // DP clear
  for (const auto& c : cases) {
    const Decoded d = decode(bytes(c.hex), true);
    const nlohmann::json& page = d.doc["logical_block_provisioning"];
    if (c.designators == 0) {
      EXPECT_FALSE(page.contains("provisioning_group_descriptor")) << c.hex;
      continue;
    }
    ASSERT_EQ(page["provisioning_group_descriptor"].size(), c.designators) << c.hex << page;
    const nlohmann::json& g = page["provisioning_group_descriptor"][0];
    EXPECT_EQ(g["designator_type"], 3) << c.hex;
    EXPECT_EQ(g["complete"], c.complete) << c.hex;
    EXPECT_EQ(g["designator_hex"], c.complete ? "5001405123456789" : "5001") << c.hex;
  }
}

// Strings from a translation layer are untrusted: escaped in text and JSON.
TEST(VpdPages, AtaStringsAreEscaped) {
  std::vector<uint8_t> ata = bytes(ataInformation());
  ata[8] = 0x1b;        // ESC in the SAT vendor
  ata[60 + 54] = 0xff;  // model word 27: a byte that is no UTF-8
  ata[60 + 55] = 'A';
  const Decoded d = decode(ata, true);
  EXPECT_EQ(d.doc["ata_information"]["sat_vendor"], "\\x1binux");
  EXPECT_EQ(d.doc["ata_information"]["model"].get<std::string>().substr(0, 5), "A\\xff");
  EXPECT_EQ(d.text.find('\x1b'), std::string::npos);
  EXPECT_FALSE(nlohmann::json::parse(d.doc.dump(), nullptr, false).is_discarded());
}

// A device whose VPD answers come from a table: a page it lists may be refused, or answered with
// another page's code.
class ScriptedVpdDevice : public QXScsiTargetImpl {
 public:
  explicit ScriptedVpdDevice(const std::map<int, std::vector<uint8_t>>& pages) : pages_(pages) {}
  bool access(const char*, int) override { return true; }
  bool accessExclusive(const char*, int) override { return true; }
  bool release() override { return true; }
  long implementationError() const override { return 0; }
  bool executeCommand(QXScsiCmd& cmd, const QXScsiDevice&) override {
    const unsigned char* cdb = nullptr;
    unsigned char cdbLength = 0;
    cmd.getCDB(cdb, cdbLength);
    const unsigned char* data = nullptr;
    unsigned long length = 0;
    int direction = 0;
    cmd.getCmdData(data, length, direction);
    auto it = pages_.find(cdb[2]);
    if (it == pages_.end()) {  // ILLEGAL REQUEST, INVALID FIELD IN CDB
      static unsigned char sense[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24};
      setCmdScsiStatus(cmd, 0x02);
      setCmdSenseData(cmd, sense, sizeof sense);
      return true;
    }
    std::copy(it->second.begin(), it->second.end(), const_cast<unsigned char*>(data));
    setCmdScsiStatus(cmd, 0);
    return true;
  }

 private:
  std::map<int, std::vector<uint8_t>> pages_;
};

class ScriptedVpdTarget : public QXScsiTarget {
 public:
  explicit ScriptedVpdTarget(std::map<int, std::vector<uint8_t>> pages) : pages_(std::move(pages)) {}
  QXScsiTargetImpl* getClientScsiTargetImpl() const override { return new ScriptedVpdDevice(pages_); }

 private:
  std::map<int, std::vector<uint8_t>> pages_;
};

TEST(VpdAll, ARefusedOrWrongPageIsReportedAndTheRunGoesOn) {
  const struct {
    bool wrongCode;  // 89h answered with page B3h's bytes instead of refused
    int status;
    const char* message;
  } cases[] = {{false, 5, "VPD page 89h is listed but was not read"},
               {true, 97, "page b3h arrived, page 89h was asked for"}};
  for (const auto& c : cases) {
    std::map<int, std::vector<uint8_t>> pages = {{0x00, bytes("00 00 00 03 00 89 b3")},
                                                 {0xb3, bytes(referrals_c)}};
    if (c.wrongCode) pages[0x89] = bytes(referrals_c);
    ScriptedVpdTarget target(pages);
    ASSERT_TRUE(target.initScsiTarget("scripted", QXScsiAddress(), 0, nullptr));
    Options o;
    o.json = true;
    Output out(o);
    qxscsi::cli::InquiryOptions inquiry;
    inquiry.vpdText = "all";
    const int status = qxscsi::cli::runInquiry(target, inquiry, out);
    EXPECT_EQ(status, c.status);
    const nlohmann::json& doc = out.doc();
    ASSERT_EQ(doc["vpd_pages"].size(), 3u) << doc;
    EXPECT_EQ(doc["vpd_pages"][0]["supported_pages"], nlohmann::json::parse("[0,137,179]"));
    EXPECT_NE(doc["vpd_pages"][1]["error"]["message"].get<std::string>().find(c.message), std::string::npos)
        << doc["vpd_pages"][1];
    EXPECT_FALSE(doc["vpd_pages"][1].contains("referrals"));
    EXPECT_EQ(doc["vpd_pages"][2]["referrals"]["user_data_segment_multiplier"],
              4096);  // read after the failure
    EXPECT_FALSE(doc["vpd_pages"][2].contains("error"));
    EXPECT_EQ(doc["error"]["exit_status"], c.status);  // the run's failure, for the exit status
  }
}

class InquiryRun : public ::testing::Test {
 protected:
  static nlohmann::json json(const std::string& args, int expected = 0) {
    const qxscsi::test::ToolRun r = qxscsi::test::runTool(args + " --json", false);
    EXPECT_EQ(r.status, expected) << args << '\n' << r.out;
    return nlohmann::json::parse(r.out, nullptr, false);
  }
};

TEST_F(InquiryRun, AllPagesOfEachEmulatedDevice) {
  const struct {
    const char* device;
    const char* codes;
  } cases[] = {{"emulated:disk", "[0,128,131,134,176,177,178]"},
               {"emulated:tape", "[0,128,131,134]"},
               {"emulated:changer", "[0,128,131,134]"}};
  for (const auto& c : cases) {
    const nlohmann::json doc = json(std::string("inquiry --vpd all ") + c.device);
    nlohmann::json codes = nlohmann::json::array();
    for (const auto& page : doc["vpd_pages"]) {
      codes.push_back(page["page_code"]);
      EXPECT_FALSE(page.contains("error")) << page;
      EXPECT_TRUE(page.contains("data_hex")) << page;
    }
    EXPECT_EQ(codes, nlohmann::json::parse(c.codes)) << c.device;
    EXPECT_FALSE(doc.contains("error"));
  }
  const qxscsi::test::ToolRun text = qxscsi::test::runTool("inquiry --vpd all", true);
  EXPECT_EQ(text.status, 0);
  for (const char* section :
       {"supported VPD pages:\n", "\nVPD page 86h", "extended INQUIRY data VPD page:\n", "\nVPD page b0h",
        "Block limits VPD page (SBC):\n", "  Maximum transfer length: 65535 blocks\n",
        "Block device characteristics VPD page (SBC):\n", "Logical block provisioning VPD page (SBC):\n"})
    EXPECT_NE(text.out.find(section), std::string::npos) << section << text.out;
}

TEST_F(InquiryRun, FailuresOfPageZeroEndTheRun) {
  const struct {
    const char* args;
    int status;
  } cases[] = {{"inquiry --vpd all 'emulated:disk?hostile=lengths'", 97},
               {"inquiry --vpd all 'emulated:disk?hostile=busy'", 26}};
  for (const auto& c : cases) {
    const nlohmann::json doc = json(c.args, c.status);
    EXPECT_EQ(doc["vpd_pages"].size(), 1u) << c.args << doc;
  }
}

TEST_F(InquiryRun, NewAbbreviationsReachTheirPages) {
  EXPECT_EQ(json("inquiry --vpd ei")["page_code"], 0x86);
  EXPECT_TRUE(json("inquiry --vpd bdc").contains("block_device_characteristics"));
  // 89h and B3h are not answered by the emulated disk: named in the refusal, exit 5.
  EXPECT_NE(json("inquiry --vpd ai", 5)["hint"].get<std::string>().find("89h"), std::string::npos);
  EXPECT_NE(json("inquiry --vpd ref", 5)["hint"].get<std::string>().find("b3h"), std::string::npos);
}

// list read a 96-byte buffer of which the emulated devices fill 36: the zeros after the answer
// were decoded as vendor-specific bytes and version descriptors.
TEST_F(InquiryRun, ListDecodesOnlyTheAnswer) {
  const nlohmann::json doc = json("list");
  ASSERT_FALSE(doc["devices"].empty());
  for (const auto& device : doc["devices"]) {
    EXPECT_EQ(device["inquiry"]["additional_length"], 31) << device;
    EXPECT_FALSE(device["inquiry"].contains("vendor_specific")) << device;
    EXPECT_FALSE(device["inquiry"].contains("version_descriptors")) << device;
  }
}

}  // namespace
