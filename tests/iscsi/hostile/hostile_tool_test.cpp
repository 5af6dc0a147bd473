// The command-line tool against the scripted target, in a child process bounded in time (and, in
// plain builds, in memory): where libiscsi 1.19 itself reads past a sense segment or loops, the
// damage stays in the child and the test still ends.
#ifdef QXSCSI_CLI_PATH
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "scripted_target.h"
#include "tgtd_harness.h"

namespace qxscsi::test {
namespace {

using Clock = std::chrono::steady_clock;

struct ToolRun {
  int status = -1;
  std::string output;
  double seconds = 0;
  nlohmann::json json() const {
    size_t start = output.find('{');
    return start == std::string::npos ? nlohmann::json()
                                      : nlohmann::json::parse(output.substr(start), nullptr, false);
  }
};

// The tool with `args` under timeout(1) (SIGKILL one second after SIGTERM) and prlimit(1).
ToolRun tool(std::vector<std::string> args, int seconds = 10) {
  std::vector<std::string> argv = {"/usr/bin/timeout", "-k", "1", std::to_string(seconds)};
#ifndef QXSCSI_NO_MEMORY_LIMIT
  for (const char* a : {"/usr/bin/prlimit", "--as=268435456", "--"}) argv.push_back(a);
#endif
  argv.push_back(QXSCSI_CLI_PATH);
  argv.insert(argv.end(), args.begin(), args.end());
  ToolRun r;
  auto start = Clock::now();
  r.status = runProgram(argv, &r.output);
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return r;
}

const char* kReadBlock = "28 00 00 00 00 00 00 00 01 00";

class ScriptedTargetToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* p : {"/usr/bin/timeout", "/usr/bin/prlimit"})
      if (access(p, X_OK) != 0) GTEST_SKIP() << p << " is not installed";
  }
};

// A CHECK CONDITION whose sense segment is short, empty or one byte long: libiscsi parses 18
// bytes from it regardless; the tool reports what arrived and ends by itself.
struct SenseCase {
  const char* mode;
  int exitStatus;
  const char* text;
};

std::ostream& operator<<(std::ostream& os, const SenseCase& c) { return os << c.mode; }

class ShortSenseTest : public ScriptedTargetToolTest, public ::testing::WithParamInterface<SenseCase> {};

TEST_P(ShortSenseTest, ToolReportsTheSenseThatArrived) {
  ScriptedTarget target(GetParam().mode);
  if (!target.running()) GTEST_SKIP() << target.why();
  ToolRun r = tool({"raw", "--cdb", kReadBlock, "--in", "512", target.url()});
  EXPECT_EQ(r.status, GetParam().exitStatus) << r.output;
  EXPECT_NE(r.output.find("CHECK CONDITION"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(GetParam().text), std::string::npos) << r.output;
}

INSTANTIATE_TEST_SUITE_P(Modes, ShortSenseTest,
                         ::testing::Values(SenseCase{"sense-short", 3, "Medium Error"},
                                           SenseCase{"sense-none", 98, "status: 0x02"},
                                           SenseCase{"sense-one", 98, "status: 0x02"}),
                         [](const ::testing::TestParamInfo<SenseCase>& i) {
                           std::string n = i.param.mode;
                           for (char& c : n)
                             if (c == '-') c = '_';
                           return n;
                         });

TEST_F(ScriptedTargetToolTest, WellBehavedModeIsReadyAndAnswersInquiry) {
  ScriptedTarget target("good");
  if (!target.running()) GTEST_SKIP() << target.why();
  ToolRun r = tool({"tur", target.url()});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("ready"), std::string::npos) << r.output;
  r = tool({"inquiry", target.url()});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("SCRIPTED TARGET"), std::string::npos) << r.output;
}

// libiscsi 1.19 splits the data an R2T asks for into segments of the target's
// MaxRecvDataSegmentLength; at 0 it queues empty Data-Out PDUs for ever, inside one call that never
// returns to our poll loop, so the record's timeout cannot end it. Only the child's limits do.
TEST_F(ScriptedTargetToolTest, ZeroMaxRecvDataSegmentLengthWriteNeverSucceedsAndIsBoundedByTheChildsLimits) {
  ScriptedTarget target("mrdsl-zero");
  if (!target.running()) GTEST_SKIP() << target.why();
  std::string file = "/tmp/qxscsi-hostile-block-" + std::to_string(getpid());
  std::ofstream(file) << std::string(512, 'x');
  ToolRun r = tool({"-t", "2", "raw", "--cdb", "2a 00 00 00 00 00 00 00 01 00", "--out", file, target.url()}, 4);
  std::remove(file.c_str());
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_LT(r.seconds, 8.0);
  // Reading needs no Data-Out: the same session reads as usual.
  r = tool({"-t", "2", "raw", "--cdb", kReadBlock, "--in", "512", target.url()});
  EXPECT_EQ(r.status, 0) << r.output;
}

TEST_F(ScriptedTargetToolTest, LoginErrorWithANonUtf8ChapNameIsValidJson) {
  ScriptedTarget target("chap-n-not-utf8");
  if (!target.running()) GTEST_SKIP() << target.why();
  ToolRun r = tool({"--json", "tur", target.url()});
  EXPECT_EQ(r.status, 15) << r.output;  // cannot open
  nlohmann::json j = r.json();
  ASSERT_TRUE(j.is_object()) << r.output;
  std::string error = j["error"].value("message", std::string());
  EXPECT_NE(error.find("Wrong CHAP targetname"), std::string::npos) << error;
  EXPECT_EQ(r.output.find('\xff'), std::string::npos);  // never the raw byte on a terminal
}

TEST_F(ScriptedTargetToolTest, PortalListingWithANonUtf8TargetNameIsValidJson) {
  ScriptedTarget target("name-not-utf8");
  if (!target.running()) GTEST_SKIP() << target.why();
  ToolRun r = tool({"list", "--portal", target.portal(), "--json"});
  EXPECT_EQ(r.status, 0) << r.output;
  nlohmann::json j = r.json();
  ASSERT_TRUE(j.is_object()) << r.output;
  ASSERT_TRUE(j["targets"].is_array());
  ASSERT_EQ(j["targets"].size(), 1u) << j.dump();
  EXPECT_EQ(j["targets"][0].value("target", std::string()).rfind(kScriptedTargetName, 0), 0u) << j.dump();
  EXPECT_EQ(r.output.find('\xff'), std::string::npos);
  // The text listing escapes the bytes as well.
  r = tool({"list", "--portal", target.portal()});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output.find('\xff'), std::string::npos) << r.output;
}

}  // namespace
}  // namespace qxscsi::test
#endif
