// Sense data descriptors, short and odd sense buffers, and the text beside sg_decode_sense's.
#include <gtest/gtest.h>

#include <scsi/sg_lib.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "cli/hex.h"
#include "cli/sense_report.h"
#include "tool_run.h"

namespace {

using namespace qxscsi::cli;
using nlohmann::json;
using Bytes = std::vector<uint8_t>;

Bytes bytes(const std::string& hex) {
  Bytes b;
  std::string error;
  EXPECT_TRUE(parseHex(hex, b, error)) << error;
  return b;
}

// Descriptor-format sense (key, ASC, ASCQ) with `descriptors` after the 8-byte header.
Bytes withHeader(const std::string& header, const std::string& descriptors) {
  Bytes d = bytes(descriptors);
  Bytes s = bytes(header);
  s.resize(8, 0);
  s[7] = static_cast<uint8_t>(d.size());
  s.insert(s.end(), d.begin(), d.end());
  return s;
}

// What a shell command prints on stdout.
std::string commandOutput(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

std::string decodedText(const Bytes& s) {
  std::ostringstream text;
  printSenseDecoded(text, decodeSense(s.data(), s.size()), s.data());
  return text.str();
}

struct DescriptorCase {
  const char* name;
  const char* header;       // response code, key, ASC, ASCQ
  const char* descriptors;  // the one descriptor
  json fields;              // a subset of its JSON
  const char* text;         // a line libsgutils2 writes for it
};

void PrintTo(const DescriptorCase& c, std::ostream* os) { *os << c.name; }

const std::vector<DescriptorCase>& descriptorCases() {
  static const std::vector<DescriptorCase> cases = {
      {"information", "72 03 11 00", "00 0a 80 00 00 00 00 00 00 00 12 34",
       {{"information_valid", true}, {"information", 0x1234}, {"information_hex", "0x1234"}},
       "Information: 0x0000000000001234"},
      {"command_specific", "72 0a 1d 00", "01 0a 00 00 01 02 03 04 05 06 07 08",
       {{"command_specific_information", 0x0102030405060708ULL}, {"command_specific_information_hex", "0x102030405060708"}},
       "Command specific: 0x0102030405060708"},
      {"field_pointer", "72 05 24 00", "02 06 00 00 cb 00 11 00",
       {{"sense_key_specific_valid", true},
        {"sense_key_specific_fields",
         {{"in_command_descriptor_block", true}, {"field_pointer", 17}, {"bit_pointer_valid", true}, {"bit_pointer", 3}}}},
       "Error in Command: byte 17 bit 3"},
      {"progress", "73 02 04 04", "02 06 00 00 80 40 00 00",
       {{"sense_key_specific_fields", {{"progress_indication", 0x4000}}}}, "Progress indication: 25.00%"},
      {"segment_pointer", "72 0a 26 00", "02 06 00 00 a0 00 20 00",
       {{"sense_key_specific_fields", {{"in_segment_descriptor", true}, {"field_pointer", 32}}}},
       "Relative to start of segment descriptor, byte 32"},
      {"retry_count", "72 01 17 01", "02 06 00 00 80 00 05 00",
       {{"sense_key_specific_fields", {{"actual_retry_count", 5}}}}, "Actual retry count: 5"},
      {"field_replaceable_unit", "72 04 44 00", "03 02 00 5a",
       {{"field_replaceable_unit_code", 0x5a}, {"field_replaceable_unit_code_hex", "0x5a"}},
       "Field replaceable unit code: 0x5a"},
      {"stream", "72 00 00 01", "04 02 00 80",
       {{"filemark", true}, {"end_of_medium", false}, {"incorrect_length", false}}, "Stream commands: FILEMARK"},
      {"block_ili", "72 03 11 00", "05 02 00 20", {{"incorrect_length", true}},
       "Block commands: Incorrect Length Indicator (ILI) set"},
      {"osd_object", "72 05 24 00",
       "06 1e 00 00 00 00 00 00 00 00 00 01 00 00 00 02 00 00 00 00 00 00 01 00 00 00 00 00 00 01 00 00",
       {{"not_initiated_command_functions", 1}, {"completed_command_functions", 2}, {"partition_id", 0x100},
        {"object_id", 0x10000}},
       "OSD object identification"},
      {"osd_integrity", "72 05 24 00",
       "07 22 00 00 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11",
       {{"integrity_check_value_hex", std::string(64, '1')}}, "OSD response integrity check value"},
      {"osd_attributes", "72 05 24 00", "08 0e 00 00 00 00 00 00 00 00 00 01 00 00 00 02",
       {{"attributes", json::array({{{"attributes_page", 1}, {"attributes_page_hex", "0x00000001"},
                                     {"attribute_number", 2}, {"attribute_number_hex", "0x00000002"}}})}},
       "OSD attribute identification"},
      {"ata_status", "72 01 00 1d", "09 0c 01 04 00 02 00 03 00 04 00 05 40 51",
       {{"extend", true}, {"error", 4}, {"count", 2}, {"logical_block_address", 0x050403}, {"device", 0x40},
        {"status", 0x51}},
       "ATA Status Return: extend=1 error=0x4"},
      {"another_progress", "72 02 04 07", "0a 06 02 04 04 00 80 00",
       {{"sense_key", 2}, {"additional_sense_code", 4}, {"additional_sense_code_qualifier", 4},
        {"progress_indication", 0x8000}},
       "Another progress indication"},
      {"referral", "72 01 00 00",
       "0b 1a 01 00 00 00 00 01 00 00 00 00 00 00 00 10 00 00 00 00 00 00 00 20 01 00 00 07",
       {{"not_all_referrals", true},
        {"referrals", json::array({{{"first_logical_block_address", 0x10}, {"first_logical_block_address_hex", "0x10"},
                                    {"last_logical_block_address", 0x20}, {"last_logical_block_address_hex", "0x20"},
                                    {"target_port_groups",
                                     json::array({{{"asymmetric_access_state", 1}, {"target_port_group", 7}}})}}})}},
       "tpg: 7  state: active/non optimized"},
      {"forwarded", "72 0a 00 00", "0c 0c 01 02 70 00 05 00 00 00 00 00 00 00",
       {{"forwarded_sense_data_truncated", false}, {"sense_data_source", 1}, {"forwarded_status", 2},
        {"forwarded_sense", {{"sense_key", 5}, {"format", "fixed"}}}},
       "Sense data source: Extended copy command destination device 0"},
      {"direct_access_block", "72 03 11 00",
       "0d 1c a0 00 80 00 07 0c 00 00 00 00 00 00 12 34 00 00 00 00 00 00 00 09 00 00 00 00 00 00",
       {{"information_valid", true}, {"incorrect_length", true}, {"information", 0x1234},
        {"field_replaceable_unit_code", 0x0c}, {"command_specific_information", 9},
        {"sense_key_specific_fields", {{"actual_retry_count", 7}}}},
       "Direct-access block device"},
      {"device_designation", "72 06 3f 0e", "0e 0e 00 01 02 01 00 08 41 42 43 44 45 46 47 48",
       {{"usage_reason", 1}, {"code_set", 2}, {"designator_type", 1}, {"designator_hex", "4142434445464748"}},
       "Usage reason: resend this and further commands to:"},
      {"microcode_activation", "72 06 3f 01", "0f 06 00 00 00 00 00 3c", {{"microcode_activation_time_seconds", 60}},
       "Microcode activation time: 60 seconds"},
      {"vendor", "72 01 00 00", "80 03 de ad 01", {{"data_hex", "dead01"}}, "Vendor specific [0x80]"},
      {"unknown_type", "72 01 00 00", "20 02 aa bb", {{"data_hex", "aabb"}}, "Unknown [0x20]"},
  };
  return cases;
}

class SenseDescriptorTest : public ::testing::TestWithParam<DescriptorCase> {};

TEST_P(SenseDescriptorTest, FieldsFromOurWalkAndTextFromTheLibrary) {
  const DescriptorCase& c = GetParam();
  const Bytes s = withHeader(c.header, c.descriptors);
  const SenseReport r = decodeSense(s.data(), s.size());
  EXPECT_TRUE(r.tooShort.empty()) << r.tooShort;
  ASSERT_EQ(r.descriptors.size(), 1u);
  const json got = senseJson(r, s.data())["descriptors"][0];
  EXPECT_EQ(got["type"], s[8]);
  EXPECT_EQ(got["additional_length"], s[9]);
  for (const auto& [key, value] : c.fields.items()) {
    if (value.is_object()) {
      for (const auto& [inner, v] : value.items()) EXPECT_EQ(got[key][inner], v) << key << "." << inner << ": " << got;
    } else {
      EXPECT_EQ(got[key], value) << key << ": " << got;
    }
  }
  // libsgutils2 finds the same descriptor where the walk put it.
  EXPECT_EQ(sg_scsi_sense_desc_find(s.data(), static_cast<int>(s.size()), s[8]), s.data() + r.descriptors[0].offset);
  const std::string text = decodedText(s);
  EXPECT_NE(text.find(c.text), std::string::npos) << text;
  // Every cut of the same bytes is decoded without reading past it (ASan) and says it is short.
  for (size_t n = 1; n < s.size(); ++n) {
    const Bytes cut(s.begin(), s.begin() + static_cast<long>(n));
    const SenseReport part = decodeSense(cut.data(), cut.size());
    EXPECT_FALSE(part.tooShort.empty()) << c.name << " cut to " << n;
    senseJson(part, cut.data()).dump();
    decodedText(cut);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryType, SenseDescriptorTest, ::testing::ValuesIn(descriptorCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SenseDescriptorTest, DescriptorsShorterThanTheirTypeNeedAreBytesOnly) {
  // An information descriptor with 2 bytes where it needs 10, then a complete block commands one.
  const Bytes s = withHeader("72 03 11 00", "00 02 80 00 05 02 00 20");
  const SenseReport r = decodeSense(s.data(), s.size());
  ASSERT_EQ(r.descriptors.size(), 2u);
  const json j = senseJson(r, s.data());
  EXPECT_EQ(j["descriptors"][0]["too_short"], true);
  EXPECT_EQ(j["descriptors"][0]["data_hex"], "8000");
  EXPECT_FALSE(j["descriptors"][0].contains("information"));
  EXPECT_FALSE(r.infoValid);
  EXPECT_TRUE(r.incorrectLength);
  EXPECT_NE(decodedText(s).find("Information:    >> descriptor too short"), std::string::npos);
}

TEST(SenseDescriptorTest, TopLevelFieldsComeFromTheFirstCompleteDescriptor) {
  const Bytes s = withHeader("72 05 24 00",
                             "02 06 00 00 c0 00 04 00 "              // field pointer CDB byte 4
                             "00 0a 80 00 00 00 00 00 00 00 00 07 "  // information 7
                             "00 0a 80 00 00 00 00 00 00 00 00 09");  // a second one: not taken
  const SenseReport r = decodeSense(s.data(), s.size());
  EXPECT_TRUE(r.sksv);
  EXPECT_EQ(r.sksText, "error in CDB, byte 4");
  EXPECT_EQ(r.information, 7u);
  EXPECT_EQ(r.descriptors.size(), 3u);
  EXPECT_EQ(senseJson(r)["sense_key_specific_fields"]["field_pointer"], 4);
}

TEST(SenseDescriptorTest, ForwardedSenseNestsTwoLevelsThenShowsBytes) {
  // Sense forwarding sense forwarding sense forwarding sense.
  const std::string inner = "70 00 05 00 00 00 00 00";
  std::string level = inner;
  for (int i = 0; i < 3; ++i) {
    Bytes b = bytes(level);
    level = "72 0a 00 00 00 00 00 " + hexNumber(4 + b.size(), 2).substr(2) + " 0c " +
            hexNumber(2 + b.size(), 2).substr(2) + " 00 02 " + toHex(b.data(), b.size());
  }
  const Bytes s = bytes(level);
  const json j = senseJson(decodeSense(s.data(), s.size()));
  const json& second = j["descriptors"][0]["forwarded_sense"];
  const json& third = second["descriptors"][0]["forwarded_sense"];
  EXPECT_EQ(third["format"], "descriptor");
  EXPECT_FALSE(third["descriptors"][0].contains("forwarded_sense"));
  EXPECT_EQ(third["descriptors"][0]["data_hex"], "0002" + toHex(bytes(inner).data(), 8));
}

struct ShortCase {
  const char* name;
  const char* hex;
  const char* format;    // as JSON says it
  const char* tooShort;  // part of the reason; "" when the bytes hold what they claim
};

void PrintTo(const ShortCase& c, std::ostream* os) { *os << c.name; }

class SenseShortTest : public ::testing::TestWithParam<ShortCase> {};

TEST_P(SenseShortTest, FormatAndTheReasonItIsShort) {
  const ShortCase& c = GetParam();
  const Bytes s = bytes(c.hex);
  const SenseReport r = decodeSense(s.data(), s.size());
  const json j = senseJson(r, s.data());
  EXPECT_EQ(j["format"], c.format) << j;
  if (*c.tooShort == 0) {
    EXPECT_FALSE(j.contains("too_short")) << j;
  } else {
    EXPECT_NE(j.value("too_short", "").find(c.tooShort), std::string::npos) << j;
    const std::string text = decodedText(s);
    EXPECT_NE(text.find("\ntoo short: "), std::string::npos) << text;
    EXPECT_NE(text.find(c.tooShort), std::string::npos) << text;
  }
  EXPECT_EQ(j["received"], s.size());
}

INSTANTIATE_TEST_SUITE_P(
    Buffers, SenseShortTest,
    ::testing::Values(
        ShortCase{"fixed_complete", "70 00 05 00 00 00 00 0a 00 00 00 00 24 00 00 00 00 00", "fixed", ""},
        ShortCase{"fixed_under_8", "70 00 05 00 00", "fixed", "needs 8 bytes to give its additional length: 5 given"},
        ShortCase{"fixed_claims_more", "70 00 05 00 00 00 00 0a 00 00 00 00 24", "fixed",
                  "claims 18 bytes: 13 given"},
        ShortCase{"fixed_claims_8", "70 00 03 00 00 00 00 00", "fixed", "has its fields in 18 bytes: 8 claimed"},
        ShortCase{"descriptor_header_cut", "72 05 24", "descriptor", "needs its 8-byte header: 3 given"},
        ShortCase{"descriptor_claims_more", "72 05 24 00 00 00 00 0c 00 0a 80 00", "descriptor",
                  "claims 20 bytes: 12 given"},
        ShortCase{"descriptor_past_its_length", "72 05 24 00 00 00 00 04 03 06 00 5a", "descriptor",
                  "descriptor 03h at byte 8 claims 8 bytes: 4 remain"},
        ShortCase{"descriptor_type_only", "72 05 24 00 00 00 00 05 05 02 00 20 03", "descriptor",
                  "descriptor 03h at byte 12"},
        ShortCase{"descriptor_none", "72 06 29 00 00 00 00 00", "descriptor", ""},
        ShortCase{"vendor_specific", "7f 00", "vendor_specific", ""},
        ShortCase{"vendor_specific_long", "7f 00 05 00 00 00 00 0a 00 00 00 00 24 00 00 00 00 00", "vendor_specific",
                  ""},
        ShortCase{"not_sense", "60 00 05 00", "unknown", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SenseShortTest, VendorSpecificIsNeitherDeferredNorDecoded) {
  const Bytes s = bytes("7f 00 05 00 00 00 00 0a 00 00 00 00 24 00 00 00 00 00");
  const SenseReport r = decodeSense(s.data(), s.size());
  EXPECT_EQ(r.format, SenseFormat::vendorSpecific);
  EXPECT_FALSE(r.deferred);
  const json j = senseJson(r, s.data());
  EXPECT_FALSE(j.contains("sense_key")) << j;
  EXPECT_FALSE(j.contains("deferred")) << j;
  EXPECT_EQ(j["raw_hex"], toHex(s.data(), s.size()));
  std::ostringstream compact;
  printSense(compact, r);
  EXPECT_EQ(compact.str(), "response code: 0x7f (vendor specific)\n");
  const Bytes deferred = bytes("71 00 05 00 00 00 00 0a 00 00 00 00 24 00 00 00 00 00");
  EXPECT_TRUE(decodeSense(deferred.data(), deferred.size()).deferred);
}

TEST(SenseTextTest, DeviceTextCannotStartLinesOrSendEscapes) {
  // A device designation whose T10 vendor identification (ASCII) carries an escape sequence and a newline.
  const Bytes s = withHeader("72 06 3f 0e", "0e 0e 00 01 02 01 00 08 41 1b 5b 32 4a 0a 42 43");
  const std::string text = decodedText(s);
  EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
  EXPECT_NE(text.find("vendor id: A.[2J.BC\n"), std::string::npos) << text;
  EXPECT_EQ(senseJson(decodeSense(s.data(), s.size()))["descriptors"][0]["designator_hex"], "411b5b324a0a4243");
}

// The text is libsgutils2's, as sg_decode_sense shows the same bytes: only our "too short" line is ours.
TEST(SenseTextTest, MatchesSgDecodeSense) {
  std::vector<std::string> inputs = {
      "70 00 05 00 00 00 00 0a 00 00 00 00 24 00 00 c0 00 02",
      "f0 00 05 00 00 01 02 0a 00 00 00 00 24 00 00 c0 00 02",
      "71 00 e3 00 00 00 00 0a",
      "7f 00 05 00 00 00 00 0a 00 00 00 00 24 00 00 00 00 00",
      "72 05 24 00 00 00 00 08 00 0a 80 00",
      "7f 00",
  };
  for (const DescriptorCase& c : descriptorCases()) {
    const Bytes s = withHeader(c.header, c.descriptors);
    std::string spaced;
    for (uint8_t b : s) spaced += toHex(&b, 1) + " ";
    inputs.push_back(spaced);
  }
  for (const std::string& hex : inputs) {
    const qxscsi::test::ToolRun ours = qxscsi::test::runTool("decode-sense " + hex, false);
    ASSERT_EQ(ours.status, 0) << hex;
    const std::string theirs = commandOutput("sg_decode_sense " + hex);
    std::string expected = theirs;
    while (!expected.empty() && expected.back() == '\n' && expected.size() > 1 &&
           expected[expected.size() - 2] == '\n')
      expected.pop_back();  // sg_decode_sense ends with an empty line
    std::string got = ours.out;
    const size_t note = got.find("too short: ");
    if (note != std::string::npos) got.erase(note);
    EXPECT_EQ(got, expected) << hex;
  }
}

}  // namespace
