// luns: the decoder of 8-byte LUNs and of whole lists, against sg_luns where it reads the same
// bytes, and the built program on the emulated disk.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "cli/daily.h"
#include "cli/hex.h"
#include "tool_run.h"

namespace {

using namespace qxscsi::cli;
using qxscsi::test::runTool;

std::vector<uint8_t> bytes(const std::string& hex) {
  std::vector<uint8_t> b;
  std::string error;
  EXPECT_TRUE(parseHex(hex, b, error)) << hex << ": " << error;
  b.resize(8, 0);
  return b;
}

struct LunCase {
  const char* lun;   // 8 bytes in hex
  const char* text;  // the lines decoded, without the indent
  bool likeSgLuns;   // sg_luns --test prints the same lines
};

const LunCase lunCases[] = {
    {"0000000000000000", "Peripheral device addressing: lun=0\n", true},
    {"00ff000000000000", "Peripheral device addressing: lun=255\n", true},
    {"4001000000000000", "Flat space addressing: lun=1\n", true},
    {"7fff000000000000", "Flat space addressing: lun=16383\n", true},
    {"81ff000000000000", "Logical unit addressing: bus_id=7, target=1, lun=31\n", true},
    {"0102400200000000",
     "Peripheral device addressing: bus_id=1, target=2\n>>Second level addressing:\n  Flat space addressing: lun=2\n",
     true},
    {"3f05010600020000",
     "Peripheral device addressing: bus_id=63, target=5\n>>Second level addressing:\n"
     "  Peripheral device addressing: bus_id=1, target=6\n>>Third level addressing:\n"
     "  Peripheral device addressing: lun=2\n",
     true},
    {"c101000000000000", "REPORT LUNS well known logical unit\n", true},
    {"c102000000000000", "ACCESS CONTROLS well known logical unit\n", true},
    {"c103000000000000", "TARGET LOG PAGES well known logical unit\n", true},
    {"c106000000000000", "TARGET COMMANDS well known logical unit\n", true},
    {"c107000000000000", "well known logical unit 7\n", true},
    {"c1d0000000000000", "UFS DEVICE well known logical unit\n", false},  // sg_luns 1.46 gives no UFS names
    {"d2000101", "Extended flat space addressing: lun=257\n", true},
    {"e2000000012c0000", "Long extended flat space addressing: lun=300\n", true},
    {"c3", "Extended logical unit addressing: length=0, e.a. method=3, value=0\n", true},
    {"ca12000000000000", "Extended logical unit addressing: length=0, e.a. method=10, value=18\n", true},
    {"ffffffffffffffff", "Logical unit not specified\n", false},  // sg_luns: "_not_"
    {"0001000000000005", "Peripheral device addressing: lun=1\n<<bytes 2 to 7 after the last level are not zero>>\n",
     false},  // sg_luns says nothing of them
    {"4003f20000000000",
     "Flat space addressing: lun=3\n<<bytes 2 to 7 after the last level are not zero>>\n", false},
};

TEST(LunDecode, EachAddressingMethodAsSgLunsShowsIt) {
  for (const LunCase& c : lunCases) {
    std::ostringstream text;
    describeLun(bytes(c.lun).data(), "", text);
    EXPECT_EQ(text.str(), c.text) << c.lun;
  }
}

// sg_luns --test decodes one LUN: where our lines are meant to match, they do (skipped without it).
TEST(LunDecode, MatchesSgLunsWhereTheyAgree) {
  if (std::system("command -v sg_luns >/dev/null 2>&1") != 0) GTEST_SKIP() << "no sg_luns";
  for (const LunCase& c : lunCases) {
    if (!c.likeSgLuns) continue;
    std::string out;
    FILE* p = popen((std::string("sg_luns --test=") + c.lun).c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    std::ostringstream ours;
    describeLun(bytes(c.lun).data(), "  ", ours);
    EXPECT_EQ(ours.str(), out.substr(out.find('\n') + 1)) << c.lun;  // after its "Decoded LUN:"
  }
}

TEST(LunDecode, JsonFieldsOfEachMethod) {
  const struct {
    const char* lun;
    const char* json;
  } cases[] = {
      {"0005000000000000", R"({"addressing_method":0,"addressing_method_text":"peripheral device","lun":5,
                              "lun_hex":"0x0005000000000000"})"},
      {"4123000000000000", R"({"addressing_method":1,"addressing_method_text":"flat space","lun":291,
                              "lun_hex":"0x4123000000000000"})"},
      {"8a43000000000000", R"({"addressing_method":2,"addressing_method_text":"logical unit","bus_number":2,
                              "target":10,"lun":3,"lun_hex":"0x8a43000000000000"})"},
      {"0102400200000000", R"({"addressing_method":0,"addressing_method_text":"peripheral device",
                              "bus_identifier":1,"target":2,"lun_hex":"0x0102400200000000",
                              "next_level":{"addressing_method":1,"addressing_method_text":"flat space","lun":2}})"},
      {"c104000000000000", R"({"addressing_method":3,"addressing_method_text":"extended logical unit","length":0,
                              "extended_address_method":1,"extended_address_method_text":"well known logical unit",
                              "well_known_logical_unit":4,"well_known_logical_unit_hex":"0x04",
                              "well_known_logical_unit_text":"SECURITY PROTOCOL","lun_hex":"0xc104000000000000"})"},
      {"e2ffffffffff0000", R"({"addressing_method":3,"addressing_method_text":"extended logical unit","length":2,
                              "extended_address_method":2,"extended_address_method_text":"long extended flat space",
                              "lun":1099511627775,"lun_hex":"0xe2ffffffffff0000"})"},
      {"f012345678abcdef", R"({"addressing_method":3,"addressing_method_text":"extended logical unit","length":3,
                              "extended_address_method":0,"extended_address_method_text":"reserved",
                              "value":5124095577148911,"value_hex":"0x12345678abcdef",
                              "lun_hex":"0xf012345678abcdef"})"},
  };
  for (const auto& c : cases) {
    std::ostringstream text;
    EXPECT_EQ(describeLun(bytes(c.lun).data(), "", text), nlohmann::json::parse(c.json)) << c.lun;
  }
}

// An extended LUN at a lower level whose length runs past the 8 bytes is named, not read past them.
TEST(LunDecode, AnExtendedLevelThatRunsPastTheLunIsNotRead) {
  std::ostringstream text;
  const nlohmann::json j = describeLun(bytes("010101020103f0ff").data(), "", text);
  EXPECT_NE(text.str().find(">>Fourth level addressing:\n  Extended logical unit addressing: length=3 runs past"),
            std::string::npos)
      << text.str();
  EXPECT_EQ(j["next_level"]["next_level"]["next_level"]["extended_address_method_text"], "runs past the end of the LUN");
}

// A REPORT LUNS answer of `count` entries (LUN i in flat space) and LUN LIST LENGTH `listLength`.
std::vector<uint8_t> lunList(unsigned count, uint32_t listLength) {
  std::vector<uint8_t> d(8 + 8 * size_t(count), 0);
  d[0] = uint8_t(listLength >> 24);
  d[1] = uint8_t(listLength >> 16);
  d[2] = uint8_t(listLength >> 8);
  d[3] = uint8_t(listLength);
  for (unsigned i = 0; i < count; ++i) {
    d[8 + 8 * i] = uint8_t(0x40 | i >> 8);
    d[9 + 8 * i] = uint8_t(i);
  }
  return d;
}

TEST(LunListDecode, OnlyWholeEntriesAreDecodedAndLengthsThatLieAreProblems) {
  struct Case {
    const char* what;
    std::vector<uint8_t> data;
    size_t length;      // bytes that arrived
    size_t allocation;  // allocation length sent
    const char* problem;  // part of the problem; "" for none
    size_t count, listed;
  };
  const std::vector<uint8_t> many = lunList(300, 2400);
  const Case cases[] = {
      {"300 entries, all there", many, many.size(), 8192, "", 300, 300},
      {"300 entries cut by the allocation inside one", many, 8 + 8 * 100 + 5, 8 + 8 * 100 + 5, "", 300, 100},
      {"bytes beyond the list are not entries", lunList(4, 16), 40, 8192, "", 2, 2},
      {"an empty list", lunList(0, 0), 8, 8192, "", 0, 0},
      {"a length that lies: 300 claimed, 3 arrived", lunList(3, 2400), 32, 8192, "says 2408 bytes, 32 arrived", 0, 0},
      {"a length not a multiple of 8", lunList(3, 20), 32, 8192, "20 is not a multiple of 8", 0, 0},
      {"the overstated length of a hostile device", lunList(3, 0xfffffffc), 32, 8192, "not a multiple of 8", 0, 0},
      {"no whole header", lunList(1, 8), 7, 8192, "7 bytes arrived", 0, 0},
  };
  Options options;
  options.json = true;
  for (const Case& c : cases) {
    Output out(options);
    const std::string problem = describeLunList(c.data.data(), c.length, c.allocation, 2, out);
    if (*c.problem != '\0') {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << c.what << ": " << problem;
      EXPECT_FALSE(out.doc().contains("logical_units")) << c.what;
      continue;
    }
    EXPECT_EQ(problem, "") << c.what;
    const nlohmann::json& d = out.doc();
    EXPECT_EQ(d["logical_unit_count"], c.count) << c.what;
    EXPECT_EQ(d["logical_units_listed"], c.listed) << c.what;
    EXPECT_EQ(d["select_report"], 2) << c.what;
    ASSERT_EQ(d["logical_units"].size(), c.listed) << c.what;
    if (c.listed > 0) {
      EXPECT_EQ(d["logical_units"][c.listed - 1]["lun"], c.listed - 1) << c.what;
    }
  }
}

TEST(LunListDecode, ATruncatedListSaysHowManyItShows) {
  Options options;
  Output out(options);
  const std::vector<uint8_t> many = lunList(300, 2400);
  std::ostringstream captured;
  std::streambuf* old = std::cout.rdbuf(captured.rdbuf());
  const std::string problem = describeLunList(many.data(), 8 + 8 * 2, 8 + 8 * 2, 0, out);
  std::cout.rdbuf(old);
  EXPECT_EQ(problem, "");
  EXPECT_EQ(captured.str(),
            "Lun list length = 2400 which implies 300 lun entries\nReport luns [select_report=0x0]:\n"
            "    4000000000000000\n      Flat space addressing: lun=0\n"
            "    4001000000000000\n      Flat space addressing: lun=1\n"
            "(the device claims 300 entries; the 2 that arrived whole are shown)\n");
}

TEST(LunListDecode, AskingAgainIsBoundedAndOnlyWhenTheBufferWasFilled) {
  const struct {
    size_t got, allocation;
    uint64_t listLength;
    size_t again;
  } cases[] = {
      {8192, 8192, 2400 * 8, 2400 * 8 + 8},      // filled and longer: the size the list needs
      {8192, 8192, 8184, 0},                     // exactly fits
      {100, 8192, 2400 * 8, 0},                  // not filled: what arrived is all there is
      {8192, 8192, 0xfffffff8, 1024 * 1024},     // longer than the bound: the bound
      {1024 * 1024, 1024 * 1024, 0xfffffff8, 0}, // the bound already sent
      {16, 16, 8, 0},
      {16, 16, 16, 24},
  };
  for (const auto& c : cases)
    EXPECT_EQ(largerAllocation(c.got, c.allocation, c.listLength + 8, lunListLargest_c), c.again)
        << c.got << " of " << c.allocation << ", list " << c.listLength;
}

TEST(LunsTool, RunsOnTheEmulatedDisk) {
  qxscsi::test::ToolRun r = runTool("luns 'emulated:disk?luns=3'", true);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out,
            "Lun list length = 24 which implies 3 lun entries\nReport luns [select_report=0x0]:\n"
            "    0000000000000000\n      Peripheral device addressing: lun=0\n"
            "    0001000000000000\n      Peripheral device addressing: lun=1\n"
            "    0002000000000000\n      Peripheral device addressing: lun=2\n");

  r = runTool("--json luns 'emulated:disk?luns=256' --select 0x02", false);
  const nlohmann::json j = nlohmann::json::parse(r.out, nullptr, false);
  ASSERT_FALSE(j.is_discarded()) << r.out;
  EXPECT_EQ(j["command"]["cdb_hex"], "a00002000000000020000000");  // SELECT REPORT 2, 8192 bytes
  EXPECT_EQ(j["logical_unit_count"], 256);
  EXPECT_EQ(j["logical_units"][255]["lun_hex"], "0x00ff000000000000");
  EXPECT_EQ(j["data_hex"].get<std::string>().size(), 2 * (8 + 256 * 8u));

  const struct {
    const char* args;
    int status;
    const char* line;
  } failures[] = {
      {"luns 'emulated:disk?luns=3&hostile=lengths'", 97, "LUN LIST LENGTH 4294967292 is not a multiple of 8"},
      {"luns --select 3", 5, "Invalid field in cdb"},
      {"luns --select 256", 1, "--select '256': expected 0 to 255"},
      {"luns --select x", 1, "--select 'x'"},
      {"-t 2 luns 'emulated:disk?hostile=timeout'", 33, "timed out"},
  };
  for (const auto& f : failures) {
    r = runTool(f.args, true);
    EXPECT_EQ(r.status, f.status) << f.args << "\n" << r.out;
    EXPECT_NE(r.out.find(f.line), std::string::npos) << f.args << "\n" << r.out;
  }
}

}  // namespace
