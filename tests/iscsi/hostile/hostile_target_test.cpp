// The iSCSI back-end against a scripted target that answers in hostile ways: lying residuals,
// silence, connections closed in the middle of a PDU, names that are not UTF-8. Nothing may
// crash, read or write outside a buffer, or wait past its timeout.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "qxscsi/backends/install.h"
#include "qxscsi/commands.h"
#include "qxscsi/target.h"
#include "qxscsiplatform/errors.h"
#include "scripted_target.h"

namespace qxscsi::test {
namespace {

using namespace QXScsiPlatform;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Record {
  QXScsiCmd* cmd;
  explicit Record(QXScsiCmd* c) : cmd(c) {}
  ~Record() { QXScsiFreeCmd(cmd); }
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;
};

// READ(10) of one block into the first 512 bytes of `buffer`; the rest of it is a guard zone.
QXScsiCmd* readBlock(QXScsiTarget& t, std::vector<unsigned char>& buffer, unsigned long timeout = 5) {
  unsigned char cdb[10] = {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0};
  QXScsiAnyArgs args(cdb, sizeof cdb, buffer.data(), 512, QXScsi::dataIn_c);
  return t.cmdCall(args, QXScsiDevice(), timeout);
}

class ScriptedTargetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    installation = backends::install();
    ASSERT_TRUE(installation) << "another installation is alive";
  }
  // The script in `mode`, or a skip when it cannot run here.
  std::unique_ptr<ScriptedTarget> start(const std::string& mode) {
    auto s = std::make_unique<ScriptedTarget>(mode);
    if (!s->running()) {
      why = s->why();
      return nullptr;
    }
    return s;
  }
  std::unique_ptr<backends::Installation> installation;
  std::string why;
};

#define START_OR_SKIP(var, mode)       \
  auto var = start(mode);              \
  if (!var) GTEST_SKIP() << why;       \
  static_assert(true, "")

TEST_F(ScriptedTargetTest, WellBehavedModeOpensReadsAndWrites) {
  START_OR_SKIP(target, "good");
  QXScsiSPITarget t(target->url().c_str());
  ASSERT_TRUE(t.valid()) << t.implementationError();
  std::vector<unsigned char> block(512, 0xEE);
  Record r(readBlock(t, block));
  ASSERT_TRUE(r.cmd);
  EXPECT_EQ(r.cmd->scsiStatus(), 0);
  EXPECT_EQ(block, std::vector<unsigned char>(512, 0));
  backends::CommandFacts facts;
  ASSERT_TRUE(backends::lastCommand(t, facts));
  EXPECT_EQ(facts.transferred, 512u);

  unsigned char cdb[10] = {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0};
  QXScsiAnyArgs args(cdb, sizeof cdb, block.data(), 512, QXScsi::dataOut_c);
  Record w(t.cmdCall(args, QXScsiDevice(), 5));
  ASSERT_TRUE(w.cmd) << t.implementationError();
  EXPECT_EQ(w.cmd->scsiStatus(), 0);
}

// Residual flags and counts that contradict the data: whatever the back-end makes of them, the
// byte count stays within the buffer, nothing beyond it is written, and the answer comes at once.
struct ResidualCase {
  const char* mode;
  bool connectionFails;  // the data does not fit the buffer: libiscsi drops the connection
};

std::ostream& operator<<(std::ostream& os, const ResidualCase& c) { return os << c.mode; }

class LyingResidualTest : public ScriptedTargetTest, public ::testing::WithParamInterface<ResidualCase> {};

TEST_P(LyingResidualTest, ByteCountStaysWithinTheBuffer) {
  START_OR_SKIP(target, GetParam().mode);
  QXScsiSPITarget t(target->url().c_str());
  ASSERT_TRUE(t.valid()) << t.implementationError();
  std::vector<unsigned char> buffer(512 + 256, 0xEE);
  auto start = Clock::now();
  Record r(readBlock(t, buffer));
  EXPECT_LT(secondsSince(start), 3.0);
  EXPECT_EQ(std::vector<unsigned char>(buffer.begin() + 512, buffer.end()),
            std::vector<unsigned char>(256, 0xEE));
  if (GetParam().connectionFails) {
    EXPECT_EQ(r.cmd, nullptr);
    EXPECT_EQ(t.implementationError(), establishedConnectionFailed_c);
    return;
  }
  if (!r.cmd) return;  // refusing the answer is fine too
  backends::CommandFacts facts;
  ASSERT_TRUE(backends::lastCommand(t, facts));
  EXPECT_EQ(facts.requested, 512u);
  EXPECT_LE(facts.transferred, facts.requested);
  // The session survives a lie about counts: the next command is answered as well.
  Record again(readBlock(t, buffer));
  EXPECT_TRUE(again.cmd) << t.implementationError();
}

INSTANTIATE_TEST_SUITE_P(Modes, LyingResidualTest,
                         ::testing::Values(ResidualCase{"underflow-all", false},
                                           ResidualCase{"underflow-beyond", false},
                                           ResidualCase{"overflow-max", false},
                                           ResidualCase{"both-flags", false},
                                           ResidualCase{"no-data-claims-all", false},
                                           ResidualCase{"data-beyond-buffer", true}),
                         [](const ::testing::TestParamInfo<ResidualCase>& i) {
                           std::string n = i.param.mode;
                           for (char& c : n)
                             if (c == '-') c = '_';
                           return n;
                         });

TEST_F(ScriptedTargetTest, SilentPortalFailsTheOpeningAtTheLoginTimeout) {
  START_OR_SKIP(target, "silent-login");
  QXScsiTarget::Parameters params;
  QXScsi::setParameter("iscsi_login_timeout", "2", params);
  auto start = Clock::now();
  QXScsiSPITarget t(target->url().c_str(), &params);
  double took = secondsSince(start);
  EXPECT_FALSE(t.valid());
  EXPECT_EQ(t.implementationError(), connectionFailed_c);
  EXPECT_GE(took, 1.9);
  EXPECT_LT(took, 4.0);
}

TEST_F(ScriptedTargetTest, UnansweredCommandEndsAtTheRecordsTimeout) {
  START_OR_SKIP(target, "silent-command");
  QXScsiSPITarget t(target->url().c_str());
  ASSERT_TRUE(t.valid()) << t.implementationError();
  std::vector<unsigned char> buffer(512);
  auto start = Clock::now();
  EXPECT_EQ(readBlock(t, buffer, 2), nullptr);
  double took = secondsSince(start);
  EXPECT_EQ(t.implementationError(), commandTimeout_c);
  EXPECT_GE(took, 1.9);
  EXPECT_LT(took, 4.0);
}

TEST_F(ScriptedTargetTest, CloseInTheMiddleOfTheLoginResponseFailsTheOpening) {
  START_OR_SKIP(target, "close-login");
  auto start = Clock::now();
  QXScsiSPITarget t(target->url().c_str());
  EXPECT_LT(secondsSince(start), 3.0);
  EXPECT_FALSE(t.valid());
  EXPECT_EQ(t.implementationError(), connectionFailed_c);
}

TEST_F(ScriptedTargetTest, CloseInTheMiddleOfTheDataFailsTheCommand) {
  START_OR_SKIP(target, "close-command");
  QXScsiSPITarget t(target->url().c_str());
  ASSERT_TRUE(t.valid()) << t.implementationError();
  std::vector<unsigned char> buffer(512 + 64, 0xEE);
  auto start = Clock::now();
  EXPECT_EQ(readBlock(t, buffer), nullptr);
  EXPECT_LT(secondsSince(start), 3.0);
  EXPECT_EQ(t.implementationError(), establishedConnectionFailed_c);
  EXPECT_TRUE(QXScsi::failureInEstablishedScsiTcpConnection(t));
  EXPECT_EQ(std::vector<unsigned char>(buffer.begin() + 512, buffer.end()),
            std::vector<unsigned char>(64, 0xEE));
}

TEST_F(ScriptedTargetTest, ChapNameThatIsNotUtf8FailsTheLoginWithItsBytesEscaped) {
  START_OR_SKIP(target, "chap-n-not-utf8");
  QXScsiSPITarget t(target->url().c_str());
  EXPECT_FALSE(t.valid());
  EXPECT_NE(t.implementationError(), 0);
  std::string hint;
  t.implementationErrorHint(hint);
  EXPECT_NE(hint.find("CHAP"), std::string::npos) << hint;
}

TEST_F(ScriptedTargetTest, ListingKeepsATargetNameThatIsNotUtf8) {
  START_OR_SKIP(target, "name-not-utf8");
  std::vector<backends::DeviceGroup> groups;
  std::string error;
  ASSERT_TRUE(installation->list(target->portal(), 5, groups, error)) << error;
  ASSERT_EQ(groups.size(), 1u);
  // The name's bytes as the target sent them: the login to it used them as they are.
  EXPECT_EQ(groups[0].name, std::string(kScriptedTargetName) + ":\xff\xfe\xc3(");
  EXPECT_EQ(groups[0].error, "");
  EXPECT_EQ(groups[0].luns, std::vector<unsigned long>{0});
}

}  // namespace
}  // namespace qxscsi::test
