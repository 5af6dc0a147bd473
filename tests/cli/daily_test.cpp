// readcap, start, sync and modes: their decoders on captured bytes and the built program on the
// emulated disk.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/daily.h"
#include "tool_run.h"

namespace {

using namespace qxscsi::cli;

using qxscsi::test::ToolRun;

ToolRun tool(const std::string& args, bool withErr = false) { return qxscsi::test::runTool(args, withErr); }

nlohmann::json toolJson(const std::string& args, int expected = 0) {
  ToolRun r = tool(args + " --json");
  EXPECT_EQ(r.status, expected) << args << "\n" << r.out;
  return nlohmann::json::parse(r.out, nullptr, false);
}

TEST(ReadCapacityDecode, SixteenByteFieldsComeFromTheirBits) {
  // A 4Kn drive formatted with type 2 protection, 8 logical per physical block, thin provisioned.
  const uint8_t d[32] = {0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                         0x03, 0x23, 0xc0 | 0x3f, 0xff};
  Capacity c = decodeCapacity(d, sizeof d, true);
  ASSERT_TRUE(c.problem.empty());
  EXPECT_EQ(c.lastLba, 0x100000000ull);
  EXPECT_EQ(c.blockLength, 4096u);
  EXPECT_TRUE(c.protectionEnabled);
  EXPECT_EQ(c.protectionType, 1u);  // P_TYPE 1: type 2 protection
  EXPECT_EQ(c.protectionIntervalExponent, 2u);
  EXPECT_EQ(c.physicalBlockExponent, 3u);
  EXPECT_TRUE(c.provisioningManagement);
  EXPECT_TRUE(c.provisioningReadZeros);
  EXPECT_EQ(c.lowestAlignedLba, 0x3fffu);
  EXPECT_FALSE(needsLongCapacity(c));
}

TEST(ReadCapacityDecode, ShortAnswersAreProblemsAndFFFFFFFFAsksForSixteen) {
  const uint8_t big[8] = {0xff, 0xff, 0xff, 0xff, 0x00, 0x00, 0x02, 0x00};
  Capacity c = decodeCapacity(big, sizeof big, false);
  EXPECT_TRUE(c.problem.empty());
  EXPECT_TRUE(needsLongCapacity(c));
  const uint8_t almost[8] = {0xff, 0xff, 0xff, 0xfe, 0x00, 0x00, 0x02, 0x00};
  EXPECT_FALSE(needsLongCapacity(decodeCapacity(almost, sizeof almost, false)));
  // A 7-byte (10) answer or a 15-byte (16) one cannot hold the block length / the exponents.
  EXPECT_FALSE(decodeCapacity(big, 7, false).problem.empty());
  EXPECT_FALSE(needsLongCapacity(decodeCapacity(big, 7, false)));
  uint8_t sixteen[32] = {};
  EXPECT_FALSE(decodeCapacity(sixteen, 15, true).problem.empty());
  EXPECT_TRUE(decodeCapacity(sixteen, 16, true).problem.empty());
}

TEST(SyncCacheCdb, TheShortFormIsUsedWhileLbaAndCountFit) {
  struct Case {
    uint64_t lba, count;
    bool immediate;
    std::vector<uint8_t> cdb;
  } cases[] = {
      {0, 0, false, {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {0xffffffff, 0xffff, true, {0x35, 0x02, 0xff, 0xff, 0xff, 0xff, 0, 0xff, 0xff, 0}},
      {0x100000000ull, 1, false, {0x91, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}},
      {5, 0x10000, true, {0x91, 0x02, 0, 0, 0, 0, 0, 0, 0, 5, 0, 1, 0, 0, 0, 0}},
  };
  for (const Case& k : cases) {
    SyncOptions o;
    o.lba = k.lba;
    o.count = k.count;
    o.immediate = k.immediate;
    unsigned char cdb[16];
    const unsigned char n = syncCacheCdb(o, cdb);
    EXPECT_EQ(std::vector<uint8_t>(cdb, cdb + n), k.cdb) << k.lba << " " << k.count;
  }
}

TEST(WholeNumberArgument, DecimalAndHexUpToTheirLimit) {
  struct Case {
    const char* text;
    uint64_t max;
    bool taken;
    uint64_t value;
  } cases[] = {
      {"0", UINT64_MAX, true, 0},
      {"18446744073709551615", UINT64_MAX, true, UINT64_MAX},
      {"18446744073709551616", UINT64_MAX, false, 0},
      {"99999999999999999999", UINT64_MAX, false, 0},
      {"0xffffffffffffffff", UINT64_MAX, true, UINT64_MAX},
      {"0x10000000000000000", UINT64_MAX, false, 0},
      {"0X1aB", UINT64_MAX, true, 0x1ab},
      {"4294967295", UINT32_MAX, true, UINT32_MAX},
      {"4294967296", UINT32_MAX, false, 0},
      {"", UINT64_MAX, false, 0},
      {"0x", UINT64_MAX, false, 0},
      {"-1", UINT64_MAX, false, 0},
      {"+1", UINT64_MAX, false, 0},
      {" 1", UINT64_MAX, false, 0},
      {"1k", UINT64_MAX, false, 0},
      {"0xg", UINT64_MAX, false, 0},
  };
  for (const Case& k : cases) {
    uint64_t v = 7;
    EXPECT_EQ(parseWholeNumber(k.text, k.max, v), k.taken) << k.text;
    EXPECT_EQ(v, k.taken ? k.value : 7u) << k.text;
  }
}

TEST(DailyTool, ReadcapShowsTheEmulatedGeometryInBothForms) {
  nlohmann::json j = toolJson("readcap 'emulated:disk?capacity=1000&block=4096'");
  EXPECT_EQ(j["command"]["cdb_hex"], "25000000000000000000");
  EXPECT_EQ(j["last_logical_block_address"], 999);
  EXPECT_EQ(j["last_logical_block_address_hex"], "0x3e7");
  EXPECT_EQ(j["logical_block_count"], 1000);
  EXPECT_EQ(j["capacity_bytes"], 4096000);
  EXPECT_EQ(j["data_hex"], "000003e700001000");
  EXPECT_FALSE(j.contains("protection_enabled"));
  // The largest emulated disk in memory: 256 MiB.
  j = toolJson("readcap --long -t 5 'emulated:disk?capacity=65536&block=4096'");
  EXPECT_EQ(j["command"]["cdb_hex"], "9e100000000000000000000000200000");
  EXPECT_EQ(j["command"]["timeout_seconds"], 5);
  EXPECT_EQ(j["last_logical_block_address"], 65535);
  EXPECT_EQ(j["capacity_bytes_hex"], "0x10000000");
  EXPECT_EQ(j["protection_enabled"], false);
  EXPECT_EQ(j["logical_block_provisioning_management_enabled"], false);
  EXPECT_EQ(j["data_hex"].get<std::string>().size(), 64u);
  ToolRun r = tool("readcap --long 'emulated:disk?capacity=8&block=520'");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("last LBA: 7 (0x7), number of logical blocks: 8\nlogical block length: 520 bytes"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("device size: 4160 bytes"), std::string::npos) << r.out;
}

TEST(DailyTool, StatusesOfTheDeviceBecomeExitStatuses) {
  struct Case {
    const char* args;
    int status;
  } cases[] = {
      {"readcap emulated:tape", 9},                    // INVALID COMMAND OPERATION CODE on a tape
      {"readcap 'emulated:disk?hostile=busy'", 26},   // BUSY
      {"start 'emulated:disk?hostile=conflict'", 24},  // RESERVATION CONFLICT
      {"sync 'emulated:disk?hostile=timeout'", 33},    // timed out
      {"sync --lba 2048 emulated:disk", 22},           // past the last LBA (2047)
      {"sync --lba 2047 --count 2 emulated:disk", 22},
      {"sync --count 4294967296", 1},                  // refused before sending
      {"sync --lba 18446744073709551616", 1},
      {"sync --lba 0x10000000000000000", 1},
      {"sync --count -1", 1},
      {"start --load --eject", 31},
      {"start --stop --load", 31},
  };
  for (const Case& k : cases) {
    nlohmann::json j = toolJson(k.args, k.status);
    EXPECT_EQ(j["exit_status"], k.status) << k.args;
  }
}

TEST(DailyTool, StartAndSyncSendTheBitsAsked) {
  struct Case {
    const char* args;
    const char* cdb;
    const char* action;
  } cases[] = {
      {"start", "1b0000000100", "start"},
      {"start --stop --immed", "1b0100000000", "stop"},
      {"start --load", "1b0000000300", "load"},
      {"start --eject --stop", "1b0000000200", "eject"},
  };
  for (const Case& k : cases) {
    nlohmann::json j = toolJson(k.args);
    EXPECT_EQ(j["command"]["cdb_hex"], k.cdb) << k.args;
    EXPECT_EQ(j["action"], k.action) << k.args;
  }
  nlohmann::json j = toolJson("sync --lba 2040 --count 8 --immed");
  EXPECT_EQ(j["command"]["cdb_hex"], "3502000007f800000800");
  EXPECT_EQ(j["logical_block_address_hex"], "0x7f8");
  j = toolJson("sync --count 70000 -t 7 'emulated:disk?capacity=70000'");
  EXPECT_EQ(j["command_length"], 16);
  EXPECT_EQ(j["command"]["timeout_seconds"], 7);
  EXPECT_EQ(tool("sync --lba 2047").out, "cache synchronized from LBA 2047 to the end\n");
  EXPECT_EQ(tool("start --stop -v", true).out.find("    cdb: 1b 00 00 00 00 00\n"), 0u);
}

}  // namespace

namespace {

struct ModeRun {
  Options options;
  Output out{options};
  std::string problem;
  ModeRun(const std::vector<uint8_t>& bytes, bool six, unsigned asked, size_t allocation = 4096) {
    options.json = true;
    problem = describeModeData(bytes.data(), bytes.size(), six, asked, allocation, out);
  }
};

// MODE SENSE(10) answer of a disk: long LBA descriptor, Caching page with WCE and a short NCS
// field cut by the page length, and a vendor page 00h.
const std::vector<uint8_t> captured10 = {
    0x00, 0x28, 0x00, 0x90, 0x01, 0x00, 0x00, 0x10,                                // header: WP, LONGLBA
    0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0x00, 0x00, 0x10, 0x00,  // 2^32 blocks of 4096
    0x88, 0x0a, 0x04, 0x00, 0xff, 0xff, 0x00, 0x00, 0x12, 0x34, 0x00, 0x00,        // Caching, 12 bytes
    0x00, 0x04, 0xde, 0xad, 0xbe, 0xef,                                            // vendor page 00h
};

TEST(ModeDataDecode, HeaderDescriptorAndPagesComeFromTheirBytes) {
  ModeRun r(captured10, false, 0x3f);
  ASSERT_EQ(r.problem, "");
  nlohmann::json& d = r.out.doc();
  EXPECT_EQ(d["mode_data_length"], 42);
  EXPECT_EQ(d["medium_type"], 0);
  EXPECT_EQ(d["write_protect"], true);
  EXPECT_EQ(d["long_lba"], true);
  ASSERT_EQ(d["block_descriptors"].size(), 1u);
  EXPECT_EQ(d["block_descriptors"][0]["logical_block_count_hex"], "0x100000000");
  EXPECT_EQ(d["block_descriptors"][0]["logical_block_length"], 4096);
  ASSERT_EQ(d["pages"].size(), 2u);
  nlohmann::json& caching = d["pages"][0];
  EXPECT_EQ(caching["page_code_hex"], "0x08");
  EXPECT_EQ(caching["parameters_saveable"], true);
  EXPECT_EQ(caching["fields"]["write_cache_enable"], 1);
  EXPECT_EQ(caching["fields"]["read_cache_disable"], 0);
  EXPECT_EQ(caching["fields"]["disable_prefetch_transfer_length"], 0xffff);
  EXPECT_EQ(caching["fields"]["maximum_prefetch"], 0x1234);
  EXPECT_EQ(caching["fields"]["maximum_prefetch_ceiling"], 0);
  EXPECT_FALSE(caching["fields"].contains("force_sequential_write"));  // byte 12 is past this page
  nlohmann::json& vendor = d["pages"][1];
  EXPECT_FALSE(vendor.contains("fields"));
  EXPECT_FALSE(vendor.contains("name"));
  EXPECT_EQ(vendor["data_hex"], "0004deadbeef");
}

TEST(ModeDataDecode, AnswersThatContradictThemselvesAreRefused) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    bool six;
    unsigned asked;
    const char* problem;
  } cases[] = {
      {"header cut", {0x00, 0x06, 0x00}, false, 0x3f, "3 bytes arrived"},
      {"length past arrival", {0x0b, 0x00, 0x00, 0x00, 0x08, 0x02}, true, 0x3f, "claims 12 bytes, 6 arrived"},
      {"descriptor past end", {0x05, 0x00, 0x00, 0x08, 0, 0}, true, 0x3f, "block descriptor length 8 runs past"},
      {"descriptor of 4", {0x07, 0x00, 0x00, 0x04, 0, 0, 0, 0}, true, 0x3f, "not a multiple of 8"},
      {"page past end", {0x07, 0x00, 0x00, 0x00, 0x08, 0x12, 0, 0}, true, 0x3f, "page at byte 4 runs past"},
      {"other page", {0x07, 0x00, 0x00, 0x00, 0x01, 0x02, 0, 0}, true, 0x08, "page 0x08 asked, page 0x01 answered"},
  };
  for (const Case& k : cases) {
    ModeRun r(k.bytes, k.six, k.asked, 252);
    EXPECT_NE(r.problem.find(k.problem), std::string::npos) << k.what << ": " << r.problem;
    EXPECT_FALSE(r.out.doc().contains("pages")) << k.what;
  }
  // Cut by our own allocation length: the whole pages are shown and the cut one is not.
  std::vector<uint8_t> cut(captured10.begin(), captured10.begin() + 30);
  ModeRun r(cut, false, 0x3f, 30);
  EXPECT_EQ(r.problem, "");
  EXPECT_EQ(r.out.doc()["pages"].size(), 0u);
  EXPECT_EQ(r.out.doc()["last_page_cut_off"], true);
}

TEST(ModePageArgument, TakesNumbersInThreeFormsAndAbbreviations) {
  struct Case {
    const char* text;
    int page;
  } cases[] = {{"8", 8},      {"0x08", 8}, {"0Ah", 10}, {"1ch", 0x1c}, {"63", 63}, {"co", 10},
               {"all", 0x3f}, {"64", -1},  {"0x40", -1}, {"", -1},     {"0x", -1}, {"h", -1},
               {"-1", -1},    {"8x", -1},  {"123456", -1}};
  for (const Case& k : cases) EXPECT_EQ(parseModePage(k.text), k.page) << k.text;
}

TEST(DailyTool, ModesReadsTheEmulatedDiskPages) {
  nlohmann::json j = toolJson("modes 'emulated:disk?capacity=4096&block=4096'");
  EXPECT_EQ(j["command"]["cdb_hex"], "5a003f00000000100000");
  EXPECT_EQ(j["block_descriptors"][0]["logical_block_count"], 4096);
  EXPECT_EQ(j["block_descriptors"][0]["logical_block_length"], 4096);
  std::vector<int> codes;
  for (const auto& p : j["pages"]) codes.push_back(p["page_code"]);
  EXPECT_EQ(codes, (std::vector<int>{0x01, 0x08, 0x0a, 0x1c}));
  j = toolJson("modes --six -p ca -c changeable --dbd");
  EXPECT_EQ(j["command"]["cdb_hex"], "1a084800fc00");
  EXPECT_EQ(j["page_control"], "changeable");
  EXPECT_EQ(j["block_descriptors"].size(), 0u);
  ASSERT_EQ(j["pages"].size(), 1u);
  EXPECT_EQ(j["pages"][0]["fields"]["write_cache_enable"], 1);  // the disk lets WCE and RCD change
  EXPECT_EQ(toolJson("modes -p 8 -c 3")["page_control"], "saved");
  j = toolJson("modes -p 0Ah -c default --llbaa -t 4");
  EXPECT_EQ(j["command"]["cdb_hex"], "5a108a00000000100000");
  EXPECT_EQ(j["command"]["timeout_seconds"], 4);
  EXPECT_EQ(j["long_lba"], true);
  EXPECT_EQ(j["pages"][0]["name"], "Control");
  struct Case {
    const char* args;
    int status;
  } cases[] = {
      {"modes -p 5", 5},                                // a page the disk does not have
      {"modes 'emulated:disk?hostile=lengths'", 97},    // mode data length claims more than arrived
      {"modes -p 64", 1},
      {"modes -c everything", 1},
      {"modes -c 4", 1},
      {"modes --six --llbaa", 31},
      {"modes --subpage 256", 1},
  };
  for (const Case& k : cases) EXPECT_EQ(toolJson(k.args, k.status)["exit_status"], k.status) << k.args;
  ToolRun r = tool("modes -p rw");
  EXPECT_NE(r.out.find("page 01h Read-Write error recovery: 12 bytes, PS=1\n    AWRE"), std::string::npos) << r.out;
}

}  // namespace
