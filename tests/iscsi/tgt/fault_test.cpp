// Faults of a real target: tgtd killed, restarted, stopped (no answers), a LUN taken offline.
// Every test starts its own tgtd, since most of them break it.
#include <thread>

#include "qxscsiplatform/errors.h"
#include "tgt_support.h"

namespace qxscsi::test {
namespace {

using namespace QXScsiPlatform;

const char* kDisk = "iqn.2026-12.org.example:disk";

class IscsiFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!world.start()) GTEST_SKIP() << world.whyNot;
    ASSERT_TRUE(world.tgtd->addDisk(1, kDisk, 8));
    name = world.tgtd->url(kDisk, 1);
  }
  void TearDown() override { world.stop(); }

  // An open target whose unit attention is already consumed.
  std::unique_ptr<QXScsiSPITarget> open(QXScsiTarget::Parameters* params = nullptr) {
    auto t = std::make_unique<QXScsiSPITarget>(name.c_str(), params);
    if (t->valid()) Record(t->cmdTestUnitReady());
    return t;
  }
  QXScsiCmd* read(QXScsiTarget& t, unsigned char* block, unsigned long timeout = 0) {
    return call(t, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, block, 512, 0, QXScsiDevice(), timeout);
  }
  QXScsiCmd* write(QXScsiTarget& t, unsigned char* block) {
    return call(t, {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, block, 512, 1);
  }

  TgtdWorld world;
  std::string name;
};

TEST_F(IscsiFaultTest, KilledTargetFailsTheNextCommandWithTheConnectionError) {
  auto t = open();
  ASSERT_TRUE(t->valid());
  std::vector<unsigned char> block(512, 0x3C);
  world.tgtd->kill();

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(write(*t, block.data()), nullptr);
  EXPECT_LT(secondsSince(start), 5.0);
  EXPECT_EQ(t->localError(), 0);
  EXPECT_EQ(t->implementationError(), establishedConnectionFailed_c);
  EXPECT_TRUE(QXScsi::failureInEstablishedScsiTcpConnection(*t));
  std::string hint;
  t->implementationErrorHint(hint);
  EXPECT_NE(hint.find(world.tgtd->portal()), std::string::npos) << hint;
  EXPECT_TRUE(t->valid());  // still marked open; nothing re-opens behind the caller's back

  // The standard commands fail the same way; nothing reconnects.
  EXPECT_EQ(t->cmdTestUnitReady(), nullptr);
  EXPECT_EQ(t->implementationError(), establishedConnectionFailed_c);
  bool wasOpen = false;
  EXPECT_FALSE(t->open(wasOpen, nullptr));
  EXPECT_EQ(t->implementationError(), connectionFailed_c);
}

TEST_F(IscsiFaultTest, RestartedTargetWorksAgainAfterOpen) {
  auto t = open();
  ASSERT_TRUE(t->valid());
  std::vector<unsigned char> out(512, 0x5A), in(512, 0);
  Record w(write(*t, out.data()));
  ASSERT_TRUE(w);
  world.tgtd->kill();
  EXPECT_EQ(read(*t, in.data()), nullptr);
  std::string why;
  ASSERT_TRUE(world.tgtd->restart(&why)) << why;

  // Still broken: the caller decides when to re-open.
  EXPECT_EQ(read(*t, in.data()), nullptr);
  EXPECT_EQ(t->implementationError(), establishedConnectionFailed_c);

  bool wasOpen = false;
  ASSERT_TRUE(t->open(wasOpen, nullptr)) << t->implementationError();
  Record ua(t->cmdTestUnitReady());
  ASSERT_TRUE(ua);
  EXPECT_EQ(ua->scsiStatus(), 0);  // the opening took the fresh session's power-on unit attention
  Record r(read(*t, in.data()));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->scsiStatus(), 0);
  EXPECT_EQ(in, out);  // the block written before the crash is on the backing file
  EXPECT_EQ(t->implementationError(), 0);
}

TEST_F(IscsiFaultTest, StoppedTargetTimesOutWithinTheRecordsTimeout) {
  auto t = open();
  ASSERT_TRUE(t->valid());
  std::vector<unsigned char> in(512, 0);
  world.tgtd->pause();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(read(*t, in.data(), 2), nullptr);
  double took = secondsSince(start);
  world.tgtd->resume();
  EXPECT_GE(took, 1.9);
  EXPECT_LT(took, 4.0);
  EXPECT_EQ(t->implementationError(), commandTimeout_c);
  EXPECT_FALSE(QXScsi::failureInEstablishedScsiTcpConnection(*t));

  // The timed-out session was closed; re-opening brings the LUN back.
  EXPECT_EQ(read(*t, in.data(), 2), nullptr);
  EXPECT_EQ(t->implementationError(), establishedConnectionFailed_c);
  bool wasOpen = false;
  ASSERT_TRUE(t->open(wasOpen, nullptr));
  Record ua(t->cmdTestUnitReady());
  Record r(read(*t, in.data(), 2));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->scsiStatus(), 0);
}

TEST_F(IscsiFaultTest, LoginToAStoppedTargetEndsAtTheLoginTimeout) {
  world.tgtd->pause();
  QXScsiTarget::Parameters params;
  QXScsi::setParameter("iscsi_login_timeout", "2", params);
  auto start = std::chrono::steady_clock::now();
  QXScsiSPITarget t(name.c_str(), &params);
  double took = secondsSince(start);
  world.tgtd->resume();
  EXPECT_FALSE(t.valid());
  EXPECT_EQ(t.implementationError(), connectionFailed_c);
  EXPECT_GE(took, 1.9);
  EXPECT_LT(took, 4.0);
  std::string hint;
  t.implementationErrorHint(hint);
  EXPECT_NE(hint.find("did not finish"), std::string::npos) << hint;
}

TEST_F(IscsiFaultTest, RetryAccessWaitsForTheTargetToComeBack) {
  world.tgtd->kill();
  QXScsiTarget::Parameters params;
  QXScsi::setParameter("retry_access", "10", params);
  bool valid = false;
  long error = 1;
  // The caller's thread waits in access; tgtd comes back meanwhile (started from this thread,
  // which owns it).
  std::thread caller([&] {
    QXScsiSPITarget t(name.c_str(), &params);
    valid = t.valid();
    error = t.implementationError();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  std::string why;
  bool restarted = world.tgtd->restart(&why);
  caller.join();
  ASSERT_TRUE(restarted) << why;
  EXPECT_TRUE(valid);
  EXPECT_EQ(error, 0);
}

TEST_F(IscsiFaultTest, OfflineLunAnswersNotReady) {
  auto t = open();
  ASSERT_TRUE(t->valid());
  ASSERT_TRUE(world.tgtd->setLunParams(1, 1, "online=0"));
  Record offline(t->cmdTestUnitReady());
  ASSERT_TRUE(world.tgtd->setLunParams(1, 1, "online=1"));
  ASSERT_TRUE(offline);
  EXPECT_EQ(offline->scsiStatus(), 2);
  EXPECT_EQ(senseKey(*offline.cmd), 0x2u);  // NOT READY
  EXPECT_EQ(t->implementationError(), 0);   // a CHECK CONDITION is a result, not a failure
  Record online(t->cmdTestUnitReady());
  ASSERT_TRUE(online);
  EXPECT_EQ(online->scsiStatus(), 0);
}

// Logging out of a target that stopped answering waits no longer than the login timeout.
TEST_F(IscsiFaultTest, LogoutFromAStoppedTargetEndsAtTheLoginTimeout) {
  QXScsiTarget::Parameters params;
  QXScsi::setParameter("iscsi_login_timeout", "1", params);
  auto t = open(&params);
  ASSERT_TRUE(t->valid());
  world.tgtd->pause();
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(t->close(false));
  double took = secondsSince(start);
  world.tgtd->resume();
  EXPECT_GE(took, 0.9);
  EXPECT_LT(took, 3.0);
}

// A portal that takes the connection and never answers: the opening, and the listing, give up at
// their timeouts.
TEST_F(IscsiFaultTest, SilentPortalEndsEveryWaitAtItsTimeout) {
  SilentPortal silent;
  ASSERT_TRUE(silent.listening());
  QXScsiTarget::Parameters params;
  QXScsi::setParameter("iscsi_login_timeout", "1", params);
  auto start = std::chrono::steady_clock::now();
  QXScsiSPITarget t(("iscsi://" + silent.portal() + "/" + kDisk + "/1").c_str(), &params);
  double took = secondsSince(start);
  EXPECT_FALSE(t.valid());
  EXPECT_EQ(t.implementationError(), connectionFailed_c);
  EXPECT_LT(took, 3.0);

  for (unsigned long timeout : {1UL, 2UL}) {
    std::vector<backends::DeviceGroup> groups;
    std::string error;
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(world.installation->list(silent.portal(), timeout, groups, error));
    took = secondsSince(start);
    EXPECT_GE(took, timeout - 0.1) << timeout;
    EXPECT_LT(took, timeout + 1.5) << timeout;
    EXPECT_NE(error.find("did not finish"), std::string::npos) << error;
    EXPECT_TRUE(groups.empty());
  }
}

}  // namespace
}  // namespace qxscsi::test
