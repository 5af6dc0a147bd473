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
const char* kLocked = "iqn.2026-12.org.example:locked";
const char* kMutual = "iqn.2026-12.org.example:mutual";
// Secrets distinct enough that finding one in any output is a leak.
const char* kOneWay = "Pw-oneway-1234";
const char* kMutualPw = "Pw-mutual-5678";
const char* kTargetPw = "Pw-target-9012";
const char* kWrong = "Pw-wrong-3456";

class IscsiCliTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The tool installs the back-ends itself: only tgtd is needed here.
    tgtd = TgtdInstance::start(&whyNot).release();
    if (tgtd && !(tgtd->addDisk(1, kDisk, 8) && tgtd->addTape(2, kTape, "CLI001") &&
                  tgtd->addDisk(3, kLocked, 1) && tgtd->addAccount(3, "alice", kOneWay) &&
                  tgtd->addDisk(4, kMutual, 1) && tgtd->addAccount(4, "carol", kMutualPw) &&
                  tgtd->addOutgoingAccount(4, "mutual-target", kTargetPw))) {
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

  // Runs the tool once per output form (plain, --json, -v, --trace) with args; every output
  // (stdout and stderr together) must be free of every secret. The exit statuses, in that order.
  static std::vector<int> everyOutputKeepsTheSecrets(const std::vector<std::string>& args) {
    std::vector<int> statuses;
    for (const char* form : {"", "--json", "-v", "--trace"}) {
      std::vector<std::string> argv = {QXSCSI_CLI_PATH};
      if (*form) argv.push_back(form);
      argv.insert(argv.end(), args.begin(), args.end());
      std::string out;
      statuses.push_back(runProgram(argv, &out));
      for (const char* secret : {kOneWay, kMutualPw, kTargetPw, kWrong})
        EXPECT_EQ(out.find(secret), std::string::npos) << form << " shows " << secret << ":\n" << out;
    }
    return statuses;
  }
  static std::string chapUrl(const std::string& user, const std::string& password, const char* iqn) {
    return "iscsi://" + user + "%" + password + "@" + tgtd->portal() + "/" + iqn + "/1";
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
  // Without CHAP the protected targets are listed, their LUNs not.
  EXPECT_EQ(targets, (std::map<std::string, std::vector<int>>{
                         {kDisk, {0, 1}}, {kTape, {0, 1}}, {kLocked, {}}, {kMutual, {}}}));
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

// Statuses: 0 success, 15 the opening failed (authentication failure, error -12).
TEST_F(IscsiCliTest, OneWayChapFromTheUrlNeverShowsThePassword) {
  const std::vector<int> ok(4, 0), refused(4, 15);
  EXPECT_EQ(everyOutputKeepsTheSecrets({"inquiry", chapUrl("alice", kOneWay, kLocked)}), ok);
  EXPECT_EQ(everyOutputKeepsTheSecrets({"inquiry", chapUrl("alice", kWrong, kLocked)}), refused);
  EXPECT_EQ(everyOutputKeepsTheSecrets({"tur", tgtd->url(kLocked, 1)}), refused);  // no CHAP at all
  // The JSON document names the device with its password masked.
  int status = -1;
  nlohmann::json j = tool({"inquiry", chapUrl("alice", kOneWay, kLocked)}, &status);
  EXPECT_EQ(j.value("device", std::string()), chapUrl("alice", "***", kLocked)) << j.dump();
  j = tool({"inquiry", chapUrl("alice", kWrong, kLocked)}, &status);
  EXPECT_NE(j["error"].value("message", std::string()).find("alice%***@"), std::string::npos) << j.dump();
}

TEST_F(IscsiCliTest, ChapFromParametersAndEnvironment) {
  const std::vector<int> ok(4, 0), refused(4, 15);
  std::string plain = tgtd->url(kLocked, 1);
  EXPECT_EQ(everyOutputKeepsTheSecrets({"--param", "iscsi_user=alice", "--param",
                                        std::string("iscsi_password=") + kOneWay, "tur", plain}),
            ok);
  // The parameter's password wins over the URL's.
  EXPECT_EQ(everyOutputKeepsTheSecrets({"--param", std::string("iscsi_password=") + kWrong, "tur",
                                        chapUrl("alice", kOneWay, kLocked)}),
            refused);
  setenv("LIBISCSI_CHAP_USERNAME", "alice", 1);
  setenv("LIBISCSI_CHAP_PASSWORD", kOneWay, 1);
  std::vector<int> fromEnv = everyOutputKeepsTheSecrets({"tur", plain});
  // The URL's password wins over the environment's.
  std::vector<int> urlOverEnv = everyOutputKeepsTheSecrets({"tur", chapUrl("alice", kWrong, kLocked)});
  unsetenv("LIBISCSI_CHAP_USERNAME");
  unsetenv("LIBISCSI_CHAP_PASSWORD");
  EXPECT_EQ(fromEnv, ok);
  EXPECT_EQ(urlOverEnv, refused);
}

TEST_F(IscsiCliTest, MutualChapChecksTheTargetToo) {
  const std::vector<int> ok(4, 0), refused(4, 15);
  std::string url = chapUrl("carol", kMutualPw, kMutual);
  auto targetParams = [](const char* password) {
    return std::vector<std::string>{"--param", "iscsi_target_user=mutual-target", "--param",
                                    std::string("iscsi_target_password=") + password};
  };
  std::vector<std::string> args = targetParams(kTargetPw);
  args.insert(args.end(), {"tur", url});
  EXPECT_EQ(everyOutputKeepsTheSecrets(args), ok);
  // The target answers with another secret than we expect: we refuse it.
  args = targetParams(kWrong);
  args.insert(args.end(), {"tur", url});
  EXPECT_EQ(everyOutputKeepsTheSecrets(args), refused);
  // Our own password is wrong: the target refuses us.
  args = targetParams(kTargetPw);
  args.insert(args.end(), {"tur", chapUrl("carol", kWrong, kMutual)});
  EXPECT_EQ(everyOutputKeepsTheSecrets(args), refused);
  // Mutual CHAP without our own part is refused before any login.
  std::string out;
  args = targetParams(kTargetPw);
  args.insert(args.begin(), QXSCSI_CLI_PATH);
  args.insert(args.end(), {"tur", tgtd->url(kMutual, 1)});
  EXPECT_EQ(runProgram(args, &out), 15);
  EXPECT_NE(out.find("error -15"), std::string::npos) << out;
}

TEST_F(IscsiCliTest, ListedUrlsMaskThePortalsPassword) {
  std::string portal = std::string("alice%") + kOneWay + "@" + tgtd->portal();
  for (int status : everyOutputKeepsTheSecrets({"list", "--portal", portal})) EXPECT_EQ(status, 0);
  int status = -1;
  nlohmann::json j = tool({"list", "--portal", portal}, &status);
  std::vector<std::string> devices;
  for (const auto& d : j["devices"]) devices.push_back(d["device"]);
  std::string masked = chapUrl("alice", "***", kLocked);
  EXPECT_NE(std::find(devices.begin(), devices.end(), masked), devices.end()) << j.dump();
  // A malformed portal's error shows it masked as well.
  EXPECT_EQ(everyOutputKeepsTheSecrets({"list", "--portal", portal + "/junk/"}), std::vector<int>(4, 15));
}

// -t bounds each step of the listing: a portal that never answers ends after about -t seconds.
TEST_F(IscsiCliTest, ListOfASilentPortalEndsAtTheTimeout) {
  SilentPortal silent;
  ASSERT_TRUE(silent.listening());
  auto start = std::chrono::steady_clock::now();
  int status = -1;
  nlohmann::json j = tool({"-t", "1", "list", "--portal", silent.portal()}, &status);
  double took = secondsSince(start);
  EXPECT_EQ(status, 15) << j.dump();
  EXPECT_LT(took, 3.0);
  EXPECT_NE(j["error"].value("message", std::string()).find("did not finish"), std::string::npos) << j.dump();
}

}  // namespace
}  // namespace qxscsi::test
#endif  // QXSCSI_CLI_PATH
