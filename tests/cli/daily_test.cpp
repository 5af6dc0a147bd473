// readcap, start, sync and modes: their decoders on captured bytes and the built program on the
// emulated disk.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/daily.h"

namespace {

using namespace qxscsi::cli;

struct ToolRun {
  int status = -1;
  std::string out;
};

ToolRun tool(const std::string& args, bool withErr = false) {
  const std::string cmd = std::string(QXSCSI_TOOL_PATH) + " " + args + (withErr ? " 2>&1" : " 2>/dev/null");
  ToolRun r;
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

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
