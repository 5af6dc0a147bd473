// Carrying out command records over a scripted session: what reaches the session, what comes
// back into the record, failures, residuals, and that nothing is ever sent twice.
#include <gtest/gtest.h>

#include "fake_session.h"
#include "iscsi_target_impl.h"
#include "qxscsi/backends/iscsi.h"
#include "qxscsi/commands.h"
#include "qxscsi/devices.h"
#include "qxscsiplatform/connection.h"
#include "qxscsiplatform/errors.h"

namespace qxscsi::backends::iscsi {
namespace {

using namespace QXScsiPlatform;
using test::FakeScript;

class IscsiCommandTest : public ::testing::Test {
 protected:
  IscsiCommandTest() : impl(test::fakeFactory(script)) {}
  void SetUp() override {
    ASSERT_TRUE(impl.access("iscsi://127.0.0.1/iqn.2026-12.org.example:disk/1", -1));
    script.commands.clear();  // forget the probe
  }
  // Runs a 10-byte READ record of the given buffer; returns executeCommand's answer.
  bool read10(QXScsiCmd& cmd) { return impl.executeCommand(cmd, QXScsiDevice()); }

  FakeScript script;
  IscsiTargetImpl impl;
  unsigned char read10Cdb[10] = {0x28, 0, 0, 0, 0, 8, 0, 0, 8, 0};
  unsigned char buffer[4096] = {};
};

TEST_F(IscsiCommandTest, RecordReachesTheSessionWithTheCallersOwnBuffer) {
  QXScsiCmd cmd(read10Cdb, 10, buffer, sizeof buffer, 0);
  cmd.setTimeout(7);
  ASSERT_TRUE(read10(cmd));
  ASSERT_EQ(script.commands.size(), 1u);
  const auto& c = script.commands[0];
  EXPECT_EQ(c.cdb, std::vector<unsigned char>(read10Cdb, read10Cdb + 10));
  EXPECT_EQ(c.direction, 0);
  EXPECT_EQ(c.data, buffer);  // no staging copy in between
  EXPECT_EQ(c.length, sizeof buffer);
  EXPECT_EQ(c.timeout, 7u);
}

TEST_F(IscsiCommandTest, TimeoutsPassThroughAndZeroMeansThirtySeconds) {
  for (unsigned long t : {0UL, 1UL, 60UL, 3600UL}) {
    QXScsiCmd cmd(read10Cdb, 10, buffer, sizeof buffer, 0);
    cmd.setTimeout(t);
    ASSERT_TRUE(read10(cmd));
    EXPECT_EQ(script.commands.back().timeout, t ? t : 30UL);
  }
}

TEST_F(IscsiCommandTest, NoDataDirectionSendsNoBuffer) {
  unsigned char tur[6] = {};
  QXScsiCmd cmd(tur, 6, buffer, sizeof buffer, 2);
  ASSERT_TRUE(read10(cmd));
  EXPECT_EQ(script.commands[0].direction, 2);
  EXPECT_EQ(script.commands[0].length, 0u);
}

TEST_F(IscsiCommandTest, UnusableRecordsAreRefusedBeforeTheWire) {
  QXScsiCmd empty(read10Cdb, 0, buffer, sizeof buffer, 0);
  EXPECT_FALSE(read10(empty));
  EXPECT_EQ(impl.implementationError(), invalidRequest_c);
  QXScsiCmd badDirection(read10Cdb, 10, buffer, sizeof buffer, 3);
  EXPECT_FALSE(read10(badDirection));
  EXPECT_EQ(impl.implementationError(), invalidRequest_c);
  QXScsiCmd noBuffer(read10Cdb, 10, nullptr, 512, 0);
  EXPECT_FALSE(read10(noBuffer));
  EXPECT_EQ(impl.implementationError(), invalidRequest_c);
  QXScsiCmd huge(read10Cdb, 10, buffer, 0x80000000UL, 1);
  EXPECT_FALSE(read10(huge));
  EXPECT_EQ(impl.implementationError(), invalidRequest_c);
  EXPECT_TRUE(script.commands.empty());
}

TEST_F(IscsiCommandTest, StatusAndRawSenseLandInTheRecord) {
  script.onExecute = [](const Command&, Completion* done) {
    return test::checkCondition(done, 0x06, 0x29, 0x00);
  };
  QXScsiCmd cmd(read10Cdb, 10, buffer, sizeof buffer, 0);
  ASSERT_TRUE(read10(cmd));
  EXPECT_EQ(cmd.scsiStatus(), 2);
  unsigned char* bytes = nullptr;
  unsigned char length = 0;
  cmd.senseData().getBuffer(bytes, length);
  const unsigned char expected[18] = {0x70, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x29, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 18),
            std::vector<unsigned char>(expected, expected + 18));
  EXPECT_EQ(bytes[18], 0);  // nothing beyond what the device sent
  EXPECT_FALSE(cmd.incompleteSense());
  EXPECT_EQ(impl.implementationError(), 0);
}

TEST_F(IscsiCommandTest, SenseLongerThanTheRecordIsMarkedIncomplete) {
  script.onExecute = [](const Command&, Completion* done) {
    *done = Completion();
    done->status = 2;
    for (std::size_t i = 0; i < Completion::kSenseCapacity; ++i)
      done->sense[i] = static_cast<unsigned char>(i);
    done->senseStored = Completion::kSenseCapacity;
    done->senseReported = 300;
    return SessionResult::ok;
  };
  QXScsiCmd cmd(read10Cdb, 10, buffer, sizeof buffer, 0);
  ASSERT_TRUE(read10(cmd));
  EXPECT_TRUE(cmd.incompleteSense());
  unsigned char* bytes = nullptr;
  unsigned char length = 0;
  cmd.senseData().getBuffer(bytes, length);
  EXPECT_EQ(bytes[254], 254);
}

TEST_F(IscsiCommandTest, ResidualOfTheLastCommandIsOffered) {
  script.onExecute = [](const Command&, Completion* done) {
    *done = Completion();
    done->residual = 512;
    return SessionResult::ok;
  };
  QXScsiCmd cmd(read10Cdb, 10, buffer, sizeof buffer, 0);
  ASSERT_TRUE(read10(cmd));
  backends::CommandFacts facts;
  facts.residual = 1;
  facts.overflow = true;
  ASSERT_TRUE(impl.lastCommand(facts));
  EXPECT_EQ(facts.residual, 512u);
  EXPECT_FALSE(facts.overflow);
  EXPECT_EQ(facts.requested, sizeof buffer);
  EXPECT_EQ(facts.transferred, sizeof buffer - 512);

  script.onExecute = [](const Command&, Completion* done) {
    *done = Completion();
    done->residual = 4096;
    done->overflow = true;
    return SessionResult::ok;
  };
  ASSERT_TRUE(read10(cmd));
  ASSERT_TRUE(impl.lastCommand(facts));
  EXPECT_EQ(facts.residual, 4096u);
  EXPECT_TRUE(facts.overflow);
  EXPECT_EQ(facts.transferred, sizeof buffer);

  // A failed command leaves no stale residual behind: its facts are unknown.
  script.onExecute = [](const Command&, Completion*) { return SessionResult::timeout; };
  EXPECT_FALSE(read10(cmd));
  EXPECT_FALSE(impl.lastCommand(facts));
  EXPECT_EQ(facts.residual, 4096u);  // left alone

  QXScsiTargetImpl other;
  EXPECT_FALSE(backends::lastCommandOf(other, facts));
}

// Residual flags that contradict themselves or the buffer are no clean GOOD: the record keeps the
// target's status, the command fails with -21 and the facts never claim more than the buffer.
TEST_F(IscsiCommandTest, ContradictoryResidualsAreReportedAsSuch) {
  struct Case {
    const char* what;
    std::size_t residual;
    bool underflow, overflow;
    const char* says;
    unsigned long transferred;
  };
  const Case cases[] = {
      {"both flags", 100, true, true, "both", sizeof buffer - 100},
      {"underflow of 0", 0, true, false, "underflow of 0", sizeof buffer},
      {"overflow of 0", 0, false, true, "overflow of 0", sizeof buffer},
      {"underflow beyond the buffer", sizeof buffer + 1, true, false, "exceeds the 4096", 0},
      {"unflagged residual beyond the buffer", 1u << 20, false, false, "exceeds", 0},
  };
  for (const Case& c : cases) {
    script.onExecute = [&c](const Command&, Completion* done) {
      *done = Completion();
      done->residual = c.residual;
      done->underflow = c.underflow;
      done->overflow = c.overflow;
      return SessionResult::ok;
    };
    QXScsiCmd cmd(read10Cdb, 10, buffer, sizeof buffer, 0);
    EXPECT_FALSE(read10(cmd)) << c.what;
    EXPECT_EQ(impl.implementationError(), ioError_c) << c.what;
    EXPECT_EQ(cmd.scsiStatus(), 0) << c.what;  // the answer stays the target's
    std::string msg;
    impl.implementationErrorMsg(msg);
    EXPECT_NE(msg.find(c.says), std::string::npos) << c.what << ": " << msg;
    backends::CommandFacts facts;
    ASSERT_TRUE(impl.lastCommand(facts)) << c.what;
    EXPECT_EQ(facts.transferred, c.transferred) << c.what;
    EXPECT_LE(facts.residual, sizeof buffer) << c.what;
    EXPECT_FALSE(facts.overflow) << c.what;
  }
  // Boundaries that are believable: an underflow of the whole buffer, an overflow of any size.
  for (auto [residual, overflow] : {std::pair<std::size_t, bool>{sizeof buffer, false}, {1u << 20, true}}) {
    script.onExecute = [residual = residual, overflow = overflow](const Command&, Completion* done) {
      *done = Completion();
      done->residual = residual;
      done->underflow = !overflow;
      done->overflow = overflow;
      return SessionResult::ok;
    };
    QXScsiCmd cmd(read10Cdb, 10, buffer, sizeof buffer, 0);
    EXPECT_TRUE(read10(cmd)) << residual;
    backends::CommandFacts facts;
    ASSERT_TRUE(impl.lastCommand(facts));
    EXPECT_EQ(facts.overflow, overflow);
    EXPECT_EQ(facts.transferred, overflow ? sizeof buffer : 0u);
    EXPECT_EQ(facts.residual, residual);
  }
}

TEST_F(IscsiCommandTest, CheckConditionWithoutSenseIsMarkedIncomplete) {
  script.onExecute = [](const Command&, Completion* done) {
    *done = Completion();
    done->status = 2;
    return SessionResult::ok;
  };
  QXScsiCmd cmd(read10Cdb, 10, buffer, sizeof buffer, 0);
  ASSERT_TRUE(read10(cmd));  // an answer, not a transport failure
  EXPECT_EQ(cmd.scsiStatus(), 2);
  EXPECT_TRUE(cmd.incompleteSense());
  EXPECT_EQ(impl.implementationError(), 0);
  // GOOD without sense is clean.
  script.onExecute = nullptr;
  QXScsiCmd good(read10Cdb, 10, buffer, sizeof buffer, 0);
  ASSERT_TRUE(read10(good));
  EXPECT_FALSE(good.incompleteSense());
}

TEST_F(IscsiCommandTest, FailuresAreReportedNeverRetried) {
  const std::pair<SessionResult, long> cases[] = {{SessionResult::timeout, commandTimeout_c},
                                            {SessionResult::dropped, establishedConnectionFailed_c},
                                            {SessionResult::noResources, outOfResources_c},
                                            {SessionResult::transportError, ioError_c},
                                            {SessionResult::invalid, invalidRequest_c}};
  for (auto [result, error] : cases) {
    script.commands.clear();
    script.message = "why " + std::to_string(error);
    script.onExecute = [o = result](const Command&, Completion*) { return o; };
    QXScsiCmd cmd(read10Cdb, 10, buffer, sizeof buffer, 0);
    EXPECT_FALSE(read10(cmd));
    EXPECT_EQ(impl.implementationError(), error);
    std::string hint;
    impl.implementationErrorHint(hint);
    EXPECT_EQ(hint, script.message);
    EXPECT_EQ(script.commands.size(), 1u);  // sent once, not again
    EXPECT_EQ(script.loginCalls, 1);        // and no silent reconnect
    EXPECT_EQ(failureInEstablishedScsiTcpConnection(impl.implementationError()), result == SessionResult::dropped);
    EXPECT_TRUE(impl.isOpen());  // the caller re-opens, we do not
  }
}

TEST_F(IscsiCommandTest, SuccessClearsTheLastError) {
  script.onExecute = [](const Command&, Completion*) { return SessionResult::dropped; };
  QXScsiCmd cmd(read10Cdb, 10, buffer, sizeof buffer, 0);
  EXPECT_FALSE(read10(cmd));
  script.onExecute = nullptr;
  EXPECT_TRUE(read10(cmd));
  EXPECT_EQ(impl.implementationError(), 0);
  std::string hint = "x";
  impl.implementationErrorHint(hint);
  EXPECT_EQ(hint, "");
}

TEST_F(IscsiCommandTest, ClosedImplementationRefusesCommands) {
  impl.release();
  QXScsiCmd cmd(read10Cdb, 10, buffer, sizeof buffer, 0);
  EXPECT_FALSE(read10(cmd));
  EXPECT_EQ(impl.implementationError(), notOpen_c);
  EXPECT_TRUE(script.commands.empty());
}

}  // namespace
}  // namespace qxscsi::backends::iscsi
