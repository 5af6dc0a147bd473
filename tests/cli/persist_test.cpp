// persist: the PERSISTENT RESERVE IN decoder on captured bytes, the OUT parameter list byte for
// byte, and the built program on a file-backed emulated disk that keeps its registrations.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/daily.h"
#include "tool_run.h"

namespace {

using namespace qxscsi::cli;

struct InRun {
  Options options;
  Output out{options};
  std::string problem;
  InRun(const std::vector<uint8_t>& bytes, unsigned action, size_t allocation = 8192) {
    options.json = true;
    problem = describeReserveIn(bytes.data(), bytes.size(), action, allocation, out);
  }
};

TEST(ReserveInDecode, KeysReservationAndCapabilitiesComeFromTheirBytes) {
  InRun keys({0, 0, 0, 7, 0, 0, 0, 16, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0, 0, 0, 0x12, 0x34},
             0);
  ASSERT_EQ(keys.problem, "");
  EXPECT_EQ(keys.out.doc()["generation"], 7);
  EXPECT_EQ(keys.out.doc()["reservation_keys_hex"], nlohmann::json({"0xffffffffffffffff", "0x1234"}));
  EXPECT_EQ(keys.out.doc()["reservation_keys"][0], UINT64_MAX);

  InRun held({0, 0, 0, 2, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0xab, 0xcd, 0, 0, 0, 0, 0, 0x06, 0, 0}, 1);
  ASSERT_EQ(held.problem, "");
  EXPECT_EQ(held.out.doc()["reservation"]["reservation_key_hex"], "0xabcd");
  EXPECT_EQ(held.out.doc()["reservation"]["reservation_type"], 6);
  EXPECT_EQ(held.out.doc()["reservation"]["reservation_type_text"], "Exclusive Access, registrants only");
  InRun none({0, 0, 0, 2, 0, 0, 0, 0}, 1);
  ASSERT_EQ(none.problem, "");
  EXPECT_TRUE(none.out.doc()["reservation"].is_null());

  // CRH, ATP_C, PTPL_C; TMV, ALLOW_COMMANDS 1, PTPL_A; types 1 and 3 and 8 only.
  InRun caps({0, 8, 0x15, 0x91, 0x0a, 0x01, 0, 0}, 2);
  ASSERT_EQ(caps.problem, "");
  const nlohmann::json& c = caps.out.doc();
  EXPECT_EQ(c["compatible_reservation_handling"], true);
  EXPECT_EQ(c["specify_initiator_ports_capable"], false);
  EXPECT_EQ(c["all_target_ports_capable"], true);
  EXPECT_EQ(c["persist_through_power_loss_capable"], true);
  EXPECT_EQ(c["persist_through_power_loss_activated"], true);
  EXPECT_EQ(c["allow_commands"], 1);
  EXPECT_EQ(c["reservation_types_supported"], nlohmann::json({1, 3, 8}));
  InRun noMask({0, 8, 0, 0x00, 0xff, 0xff, 0, 0}, 2);  // TMV 0: the mask means nothing
  EXPECT_FALSE(noMask.out.doc().contains("reservation_types_supported"));
}

TEST(ReserveInDecode, AnswersThatContradictThemselvesAreRefused) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    unsigned action;
    size_t allocation;
    const char* problem;  // a part of the message; "" for none
  } cases[] = {
      {"keys header cut", {0, 0, 0, 1, 0, 0, 0}, 0, 8192, "7 bytes arrived"},
      {"keys past the bytes", {0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0, 0}, 0, 8192, "claims 8 bytes, 4 arrived"},
      {"half a key", {0, 0, 0, 1, 0, 0, 0, 4, 1, 2, 3, 4}, 0, 8192, "not a multiple of 8"},
      {"keys cut by the allocation", {0, 0, 0, 1, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 9, 1}, 0, 17, ""},
      {"reservation too short", {0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 1}, 1, 8192, "cannot hold"},
      {"capabilities cut", {0, 8, 0, 0, 0, 0, 0}, 2, 8192, "7 bytes arrived"},
      {"capabilities length 4", {0, 4, 0, 0, 0, 0, 0, 0}, 2, 8192, "shorter than 8"},
  };
  for (const Case& k : cases) {
    InRun r(k.bytes, k.action, k.allocation);
    if (*k.problem == 0)
      EXPECT_EQ(r.problem, "") << k.what;
    else
      EXPECT_NE(r.problem.find(k.problem), std::string::npos) << k.what << ": " << r.problem;
  }
  InRun cut(cases[3].bytes, 0, 17);
  EXPECT_EQ(cut.out.doc()["reservation_keys_hex"], nlohmann::json({"0x9"}));
}

TEST(ReserveOutParameters, KeysAndAptplSitWhereTheyBelong) {
  uint8_t list[24];
  std::fill(std::begin(list), std::end(list), 0xee);
  reserveOutParameters(0x0102030405060708ull, UINT64_MAX, true, list);
  const std::vector<uint8_t> expected = {1, 2, 3, 4, 5, 6, 7, 8, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
                                         0, 0, 0, 0, 1, 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(list, list + 24), expected);
}

using qxscsi::test::ToolRun;

ToolRun tool(const std::string& args) { return qxscsi::test::runTool(args, true); }

TEST(PersistTool, RegistrationsAndReservationsLastAcrossRunsOnAFileDisk) {
  const std::string file = "/tmp/qxscsi-persist-test-" + std::to_string(getpid()) + ".img";
  const std::string disk = " 'emulated:disk?file=" + file + "'";
  const std::string other = " 'emulated:disk?file=" + file + "&initiator=other'";
  struct Case {
    std::string args;
    int status;
    const char* cdb;  // nullptr: refused before sending
  } cases[] = {
      {"persist -o -G -S 0x1234 -Z" + disk, 0, "5f000000000000001800"},
      {"persist -o -R -K 0x1234 -T 3" + disk, 0, "5f010300000000001800"},
      {"persist -o -R -K 0x1234 -T 3" + other, 24, "5f010300000000001800"},  // not registered there
      {"persist -o -I -S 7 -Z" + other, 0, "5f060000000000001800"},
      {"persist -o -P -K 7 -S 0x1234 -T 3" + other, 0, "5f040300000000001800"},
      {"persist -o -L -K 0x1234 -T 3" + disk, 24, "5f020300000000001800"},  // preempted: no longer registered
      {"persist -o -C -K 7" + other, 0, "5f030000000000001800"},
      {"persist --in --out" + disk, 31, nullptr},
      {"persist -k -c" + disk, 31, nullptr},
      {"persist -i -R" + disk, 31, nullptr},
      {"persist -o" + disk, 1, nullptr},
      {"persist -o -G -S 0x10000000000000000" + disk, 1, nullptr},
      {"persist -o -R -T 16" + disk, 1, nullptr},
  };
  for (const Case& k : cases) {
    ToolRun r = tool(k.args + " --json");
    EXPECT_EQ(r.status, k.status) << k.args << "\n" << r.out;
    const size_t brace = r.out.find('{');
    ASSERT_NE(brace, std::string::npos) << k.args;
    nlohmann::json j = nlohmann::json::parse(r.out.substr(brace), nullptr, false);
    if (k.cdb)
      EXPECT_EQ(j["command"]["cdb_hex"], k.cdb) << k.args;
    else
      EXPECT_FALSE(j.contains("command")) << k.args;
  }
  EXPECT_EQ(tool("persist -k" + disk).out, "PR generation=0x00000004, 0 registered reservation keys\n");
  std::remove(file.c_str());
  std::remove((file + ".state").c_str());  // where the disk keeps its reservations
}

}  // namespace
