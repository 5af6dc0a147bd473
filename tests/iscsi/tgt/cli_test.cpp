// The command-line tool on a real iSCSI target: iSCSI URLs as device names, and list --portal.
// Built only when the tool is (CMake then names its path).
#ifdef QXSCSI_CLI_PATH
#include <nlohmann/json.hpp>

#include <algorithm>
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

TEST_F(IscsiCliTest, ListPortalShowsEveryTargetAndLun) {
  int status = -1;
  nlohmann::json j = tool({"list", "--portal", tgtd->portal()}, &status);
  ASSERT_EQ(status, 0) << j.dump();
  std::map<std::string, std::vector<int>> targets;
  for (const auto& t : j["targets"]) targets[t["target"]] = t["luns"].get<std::vector<int>>();
  EXPECT_EQ(targets, (std::map<std::string, std::vector<int>>{{kDisk, {0, 1}}, {kTape, {0, 1}}}));
  std::vector<std::string> devices;
  for (const auto& d : j["devices"]) devices.push_back(d["device"]);
  for (const std::string& url : {tgtd->url(kDisk, 1), tgtd->url(kTape, 1), tgtd->url(kDisk, 0)})
    EXPECT_NE(std::find(devices.begin(), devices.end(), url), devices.end()) << url << "\n" << j.dump();
}

TEST_F(IscsiCliTest, ListOfAnUnreachablePortalFails) {
  int status = -1;
  nlohmann::json j = tool({"list", "--portal", "127.0.0.1:1"}, &status);
  EXPECT_EQ(status, 15);
  EXPECT_NE(j.value("error", std::string()).find("cannot connect"), std::string::npos) << j.dump();
}

}  // namespace
}  // namespace qxscsi::test
#endif  // QXSCSI_CLI_PATH
