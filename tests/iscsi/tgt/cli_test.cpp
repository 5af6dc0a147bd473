// The command-line tool on a real iSCSI target: iSCSI URLs as device names, and list --portal.
// Built only when the tool is (CMake then names its path).
#ifdef QXSCSI_CLI_PATH
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <map>

#include "tgt_support.h"

namespace qxscsi::test {
namespace {

const char* kDisk = "iqn.2026-12.org.example:disk";
const char* kTape = "iqn.2026-12.org.example:tape";

class IscsiCliTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The tool installs the back-ends itself: only tgtd is needed here.
    tgtd = TgtdInstance::start(&whyNot).release();
    if (tgtd && !(tgtd->addDisk(1, kDisk, 8) && tgtd->addTape(2, kTape, "CLI001"))) {
      whyNot = "tgtadm failed";
      delete tgtd;
      tgtd = nullptr;
    }
  }
  static void TearDownTestSuite() {
    delete tgtd;
    tgtd = nullptr;
  }
  void SetUp() override {
    if (!tgtd) GTEST_SKIP() << whyNot;
  }
  // Runs the tool with args and --json; the parsed document (null when it printed none).
  static nlohmann::json tool(std::vector<std::string> args, int* status) {
    args.insert(args.begin(), QXSCSI_CLI_PATH);
    args.push_back("--json");
    std::string out;
    *status = runProgram(args, &out);
    size_t start = out.find('{');
    return start == std::string::npos ? nlohmann::json()
                                      : nlohmann::json::parse(out.substr(start), nullptr, false);
  }

  static TgtdInstance* tgtd;
  static std::string whyNot;
};

TgtdInstance* IscsiCliTest::tgtd = nullptr;
std::string IscsiCliTest::whyNot;

TEST_F(IscsiCliTest, InquiryTakesAnIscsiUrl) {
  int status = -1;
  nlohmann::json j = tool({"inquiry", tgtd->url(kDisk, 1)}, &status);
  EXPECT_EQ(status, 0) << j.dump();
  EXPECT_EQ(j.value("vendor", std::string()), "IET") << j.dump();
}

// Every session the tool opens is a new I_T nexus, which tgtd greets with a unit attention
// (29h/00h): the opening takes it, so that the tool's one command gets its own answer.
TEST_F(IscsiCliTest, TestUnitReadyOnAFreshSessionIsReady) {
  std::string out;
  int status = runProgram({QXSCSI_CLI_PATH, "tur", tgtd->url(kDisk, 1)}, &out);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("ready"), std::string::npos) << out;
  EXPECT_EQ(out.find("not ready"), std::string::npos) << out;

  // "report" keeps the unit attention for the caller.
  out.clear();
  status = runProgram({QXSCSI_CLI_PATH, "--param", "iscsi_unit_attention=report", "tur", tgtd->url(kDisk, 1)},
                      &out);
  EXPECT_EQ(status, 6) << out;  // unit attention
  EXPECT_NE(out.find("Unit Attention"), std::string::npos) << out;
}

TEST_F(IscsiCliTest, ReadCapacityThroughRawOnAFreshSession) {
  int status = -1;
  nlohmann::json j = tool({"raw", "--cdb", "25 00 00 00 00 00 00 00 00 00", "--in", "8", tgtd->url(kDisk, 1)},
                          &status);
  ASSERT_EQ(status, 0) << j.dump();
  std::string hex = j.value("data_hex", std::string());
  hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
  std::transform(hex.begin(), hex.end(), hex.begin(), [](unsigned char c) { return std::tolower(c); });
  EXPECT_EQ(hex, "00003fff00000200") << j.dump();  // 8 MiB of 512-byte blocks
}

TEST_F(IscsiCliTest, ListPortalShowsEveryTargetAndLun) {
  int status = -1;
  nlohmann::json j = tool({"list", "--portal", tgtd->portal()}, &status);
  ASSERT_EQ(status, 0) << j.dump();
  std::map<std::string, std::vector<int>> targets;
  for (const auto& t : j["targets"]) targets[t["target"]] = t["logical_units"].get<std::vector<int>>();
  EXPECT_EQ(targets, (std::map<std::string, std::vector<int>>{{kDisk, {0, 1}}, {kTape, {0, 1}}}));
  std::vector<std::string> devices;
  for (const auto& d : j["devices"]) {
    devices.push_back(d["device"]);
    // Only that portal's devices, each with an address and no adapter.
    EXPECT_EQ(d["device"].get<std::string>().rfind("iscsi://", 0), 0u) << d;
    EXPECT_TRUE(d["adapter"].is_null()) << d;
    EXPECT_EQ(d["address"].size(), 3u) << d;
  }
  for (const std::string& url : {tgtd->url(kDisk, 1), tgtd->url(kTape, 1), tgtd->url(kDisk, 0)})
    EXPECT_NE(std::find(devices.begin(), devices.end(), url), devices.end()) << url << "\n" << j.dump();
}

TEST_F(IscsiCliTest, ListOfAnUnreachablePortalFails) {
  int status = -1;
  nlohmann::json j = tool({"list", "--portal", "127.0.0.1:1"}, &status);
  EXPECT_EQ(status, 15);
  EXPECT_NE(j["error"].value("message", std::string()).find("cannot connect"), std::string::npos) << j.dump();
}

}  // namespace
}  // namespace qxscsi::test
#endif  // QXSCSI_CLI_PATH
