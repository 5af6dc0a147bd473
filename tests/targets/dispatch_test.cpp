// Command dispatch through cmdCall: local errors, timeouts, addresses, re-open, missing implementation.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "alloc_failure.h"
#include "qxscsi/target.h"
#include "support/factory_fixture.h"

namespace {

using qxscsi::test::FactoryFixture;
using qxscsi::test::FactoryScope;
using qxscsi::test::FakeClientTarget;
using qxscsi::test::fakeOf;
using Bytes = std::vector<unsigned char>;

const unsigned char kInquiry[6] = {0x12, 0, 0, 0, 36, 0};

// Args whose precondition refuses every command with code 7.
class RefusingArgs : public QXScsiAnyArgs {
 public:
  RefusingArgs() : QXScsiAnyArgs(kInquiry, 6) {}
  bool preConditionCallback(int& error) const override {
    error = 7;
    return false;
  }
};

struct FreeCmd {
  void operator()(QXScsiCmd* cmd) const { QXScsiFreeCmd(cmd); }
};
using Record = std::unique_ptr<QXScsiCmd, FreeCmd>;

class DispatchTest : public FactoryFixture {
 protected:
  void open(QXScsiTarget& t) { ASSERT_TRUE(t.initScsiTarget("disk0", QXScsiDevice("disk0"), -1, nullptr)); }
  Record call(QXScsiTarget& t, unsigned long timeout = 0) { return Record(t.cmdCall(args, timeout)); }
  int executions() const { return journal().count(0, "executeCommand"); }

  unsigned char buffer[36] = {};
  QXScsiAnyArgs args{kInquiry, 6, buffer, sizeof buffer, QXScsi::dataIn_c};
  QXScsiTarget target;
};

TEST_F(DispatchTest, ExecutedRecordCarriesCommandResultsAndData) {
  open(target);
  script().status = 0x02;
  script().sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10};
  script().dataIn = Bytes(36, 0xAB);
  fakeOf(target)->script = script();
  Record cmd = call(target);
  ASSERT_TRUE(cmd);
  EXPECT_EQ(target.localError(), 0);
  EXPECT_EQ(cmd->scsiStatus(), 0x02);
  unsigned char* sense = nullptr;
  unsigned char length = 0;
  cmd->senseData().getBuffer(sense, length);
  EXPECT_EQ(Bytes(sense, sense + 9), (Bytes{0x70, 0, 0x05, 0, 0, 0, 0, 10, 0}));
  EXPECT_EQ(Bytes(buffer, buffer + 36), Bytes(36, 0xAB));
  const auto& seen = journal().commands.back();
  EXPECT_EQ(seen.cdb, Bytes(kInquiry, kInquiry + 6));
  EXPECT_EQ(seen.data, buffer);
  EXPECT_EQ(seen.dataLength, 36u);
  EXPECT_EQ(seen.direction, QXScsi::dataIn_c);
  EXPECT_EQ(seen.deviceType, -1);
  EXPECT_EQ(seen.deviceName, "");
}

TEST_F(DispatchTest, TimeoutZeroTakesTheDeviceDefault) {
  open(target);
  call(target, 0);
  EXPECT_EQ(journal().commands.back().timeout, 30u);
  call(target, 5);
  EXPECT_EQ(journal().commands.back().timeout, 5u);
  const unsigned char initElementStatus[6] = {0x07, 0, 0, 0, 0, 0};
  QXScsiAnyArgs changerArgs(initElementStatus, 6);
  Record cmd(target.cmdCall(changerArgs, QXScsiMediumChanger("changer0"), 0));
  ASSERT_TRUE(cmd);
  EXPECT_EQ(journal().commands.back().timeout, 3600u);
  EXPECT_EQ(journal().commands.back().deviceType, 103);
  EXPECT_EQ(journal().commands.back().deviceName, "changer0");
}

TEST_F(DispatchTest, RecordCarriesTheCurrentAddress) {
  QXScsiTarget addressed{QXScsiLunAddress(1, 2, 3)};
  open(addressed);
  Record cmd = call(addressed);
  ASSERT_TRUE(cmd);
  QXScsiLunAddress sent;
  ASSERT_TRUE(journal().commands.back().address.toLunAddress(sent));
  EXPECT_TRUE(journal().commands.back().address.defined());
  EXPECT_EQ(sent.bus(), 1);
  EXPECT_EQ(sent.target(), 2);
  EXPECT_EQ(sent.lun(), 3);
}

TEST_F(DispatchTest, RefusedPreconditionReturnsUnexecutedRecord) {
  open(target);
  RefusingArgs refusing;
  Record cmd(target.cmdCall(refusing, 0));
  ASSERT_TRUE(cmd);
  EXPECT_EQ(target.localError(), -6);
  EXPECT_EQ(refusing.errorCode(), 7);
  EXPECT_FALSE(refusing.valid());
  EXPECT_EQ(executions(), 0);
  EXPECT_EQ(cmd->timeout(), 0u);
}

TEST_F(DispatchTest, Flag3RefusesUndefinedAddressUnlessIgnored) {
  open(target);
  target.override(3, true);
  Record refused = call(target);
  ASSERT_TRUE(refused);
  EXPECT_EQ(target.localError(), -3);
  EXPECT_EQ(executions(), 0);
  target.ignoreUndefinedAddress(true);
  EXPECT_TRUE(call(target));
  EXPECT_EQ(target.localError(), 0);
  EXPECT_FALSE(journal().commands.back().address.defined());
  target.ignoreUndefinedAddress(false);
  target.override(3, false);
  EXPECT_TRUE(call(target));
  EXPECT_EQ(executions(), 2);
}

TEST_F(DispatchTest, Flag3LetsDefinedAddressThrough) {
  QXScsiTarget addressed{QXScsiLunAddress(0, 4, 0)};
  open(addressed);
  addressed.override(3, true);
  EXPECT_TRUE(call(addressed));
  EXPECT_EQ(addressed.localError(), 0);
}

TEST_F(DispatchTest, FailedExecutionWithoutReasonStoresMinus2) {
  open(target);
  fakeOf(target)->script.executeResult = false;
  fakeOf(target)->script.errorHint = "ignored while a local error is set";
  EXPECT_FALSE(call(target));
  EXPECT_EQ(target.localError(), -2);
  EXPECT_EQ(target.implementationError(), -2);
  std::string hint = "stale";
  target.implementationErrorHint(hint);
  EXPECT_EQ(hint, "");
  fakeOf(target)->script.executeResult = true;
  EXPECT_TRUE(call(target));
  EXPECT_EQ(target.localError(), 0);
  target.implementationErrorHint(hint);
  EXPECT_EQ(hint, "ignored while a local error is set");
}

TEST_F(DispatchTest, FailedExecutionWithReasonKeepsLocalErrorZero) {
  open(target);
  target.localError(-9);  // dispatch clears what an earlier close left
  fakeOf(target)->script.executeResult = false;
  fakeOf(target)->script.error = QXScsiPlatform::driverError_c;
  EXPECT_FALSE(call(target));
  EXPECT_EQ(target.localError(), 0);
  EXPECT_EQ(target.implementationError(), -20);
}

TEST_F(DispatchTest, RecordThatCannotBeCreatedStoresMinus1) {
  open(target);
  qxscsi::test::failNextAllocationOf(sizeof(QXScsiCmd));
  EXPECT_FALSE(call(target));
  EXPECT_FALSE(qxscsi::test::cancelAllocationFailure());
  EXPECT_EQ(target.localError(), -1);  // the sense buffer is part of that one allocation
  EXPECT_EQ(executions(), 0);
}

TEST_F(DispatchTest, TargetNotOpenReopensFromRememberedName) {
  ASSERT_TRUE(target.initScsiTarget("tape3", QXScsiDevice("tape3"), 7, nullptr));
  target.valid(false);
  EXPECT_TRUE(call(target));
  EXPECT_TRUE(target.valid());
  EXPECT_EQ(journal().callsOf(1), (std::vector<std::string>{"hintFrom:", "access:tape3:7", "release",
                                                            "access:tape3:7", "executeCommand"}));
}

TEST_F(DispatchTest, FailedReopenLeavesLocalErrorAlone) {
  script().accessResult = false;
  target.localError(-9);
  EXPECT_FALSE(call(target));
  EXPECT_EQ(target.localError(), -9);
  EXPECT_EQ(executions(), 0);
}

TEST_F(DispatchTest, MissingImplementationIsReportedAndNeverUsed) {
  scope->source.createNothing = true;
  target.valid(true);
  EXPECT_FALSE(target.valid());
  EXPECT_FALSE(call(target));
  std::string hint;
  target.implementationErrorHint(hint);
  EXPECT_EQ(hint, "Failed to create SCSI target implementation");
  EXPECT_EQ(target.localError(), 0);
  EXPECT_EQ(target.os_platform(), -1);
  EXPECT_EQ(target.scsi_transport(), -1);
  EXPECT_FALSE(target.isTargetState(1));
  EXPECT_EQ(target.implementationError(), -4);
  EXPECT_EQ(target.localError(), -4);
  target.implementationErrorHint(hint);
  EXPECT_EQ(hint, "");
}

TEST_F(DispatchTest, NoFactorySingletonMeansNoImplementation) {
  scope.reset();
  EXPECT_EQ(target.getScsiTargetImpl(), nullptr);
  EXPECT_EQ(target.implementationError(), -4);
}

TEST_F(DispatchTest, FactoryRegisteredLaterIsPickedUpAtNextNeed) {
  scope = std::make_unique<FactoryScope>(false);
  EXPECT_EQ(target.getScsiTargetImpl(), nullptr);
  scope->factory().registerScsiTargetImpl(&qxscsi::test::FakeImplSource::create,
                                          &qxscsi::test::FakeImplSource::destroy);
  EXPECT_NE(fakeOf(target), nullptr);
}

TEST_F(DispatchTest, FactoryIsAskedWithTheDynamicTypeNameAndTheHint) {
  FakeClientTarget derived(scope->journal, FakeClientTarget::Supply::nothing);
  derived.hintText = "from subclass";
  EXPECT_NE(fakeOf(derived), nullptr);
  EXPECT_EQ(journal().callsOf(1), std::vector<std::string>{"hintFrom:from subclass"});
  // An exact registration for the subclass's type name wins over the fallback.
  scope->factory().registerClass(
      typeid(FakeClientTarget).name(), [] { return static_cast<QXAbstractProduct*>(new QXScsiTargetImpl()); },
      nullptr);
  FakeClientTarget other(scope->journal, FakeClientTarget::Supply::nothing);
  EXPECT_EQ(fakeOf(other), nullptr);
  EXPECT_NE(other.getScsiTargetImpl(), nullptr);
  EXPECT_NE(fakeOf(target), nullptr);
}

TEST_F(DispatchTest, ClientImplementationIsKeptAndSurplusOnesDeletedWithoutRelease) {
  {
    FakeClientTarget client(scope->journal, FakeClientTarget::Supply::everyCall);
    QXScsiTargetImpl* first = client.getScsiTargetImpl();
    EXPECT_EQ(client.getScsiTargetImpl(), first);
    EXPECT_EQ(client.getScsiTargetImpl(), first);
    EXPECT_EQ(client.supplied, 3);
    EXPECT_EQ(journal().callsOf(2), std::vector<std::string>{"destroyed"});
    EXPECT_EQ(journal().callsOf(3), std::vector<std::string>{"destroyed"});
    EXPECT_TRUE(journal().alive(1));
    EXPECT_EQ(scope->source.requests, 0);
  }
  EXPECT_EQ(journal().callsOf(1), (std::vector<std::string>{"release", "destroyed"}));
}

// A subclass that hands over one implementation and then keeps answering with the same pointer.
class RepeatingClientTarget : public QXScsiTarget {
 public:
  explicit RepeatingClientTarget(std::shared_ptr<qxscsi::test::FakeJournal> journal)
      : impl(new qxscsi::test::FakeImpl(std::move(journal), {})) {}
  QXScsiTargetImpl* getClientScsiTargetImpl() const override { return impl; }
  qxscsi::test::FakeImpl* impl;  // owned by the target once handed over
};

TEST_F(DispatchTest, ClientAnsweringWithTheHeldImplementationAgainKeepsIt) {
  {
    RepeatingClientTarget client(scope->journal);
    EXPECT_EQ(client.getScsiTargetImpl(), client.impl);
    EXPECT_EQ(client.getScsiTargetImpl(), client.impl);  // not deleted as a surplus one
    EXPECT_TRUE(journal().alive(1));
  }
  EXPECT_EQ(journal().callsOf(1), (std::vector<std::string>{"release", "destroyed"}));
}

TEST_F(DispatchTest, FactsComeFromTheImplementation) {
  script().osPlatform = 4;
  script().transport = 2;
  script().version = 17;
  script().state = true;
  EXPECT_EQ(target.os_platform(), 4);
  EXPECT_EQ(target.scsi_transport(), 2);
  EXPECT_EQ(target.implementationVersion(), 17);
  EXPECT_TRUE(target.isTargetState(99));
}

TEST_F(DispatchTest, BehaviourFlagsAreIndependentBits) {
  target.override(1, true);
  target.override(2, true);
  target.override(6, true);
  target.override(3, true);
  EXPECT_TRUE(target.override(1) && target.override(2) && target.override(6) && target.override(3));
  target.override(3, false);
  EXPECT_FALSE(target.override(3));
  EXPECT_TRUE(target.override(1) && target.override(2) && target.override(6));
  for (int flag : {0, -3, 33, 99}) {
    target.override(flag, true);
    EXPECT_FALSE(target.override(flag));
  }
  target.override(32, true);
  EXPECT_TRUE(target.override(32));
}

TEST_F(DispatchTest, ParametersSwitchFlagsOnOnlyForExactlyY) {
  auto flagsAfter = [](std::vector<std::pair<std::string, std::string>> pairs) {
    std::vector<QXScsi::ParameterData> params;
    for (auto& p : pairs) QXScsi::setParameter(p.first, p.second, params);
    QXScsiTarget t;
    t.overrideDefaultBehavior(params);
    return std::vector<bool>{t.override(1), t.override(2), t.override(6)};
  };
  EXPECT_EQ(flagsAfter({{"access_target", "y"}}), (std::vector<bool>{true, true, false}));
  EXPECT_EQ(flagsAfter({{"exclusive_access", "y"}}), (std::vector<bool>{false, false, true}));
  for (const char* value : {"Y", "yes", "n", ""})
    EXPECT_EQ(flagsAfter({{"access_target", value}, {"exclusive_access", value}}),
              (std::vector<bool>{false, false, false}))
        << value;
  EXPECT_EQ(flagsAfter({{"access_target", "y"}, {"access_target", "y"}}),
            (std::vector<bool>{false, false, false}));
  EXPECT_EQ(flagsAfter({{"ACCESS_TARGET", "y"}}), (std::vector<bool>{false, false, false}));
}

TEST_F(DispatchTest, ParametersNeverSwitchFlagsOff) {
  target.override(1, true);
  target.override(6, true);
  std::vector<QXScsi::ParameterData> params;
  QXScsi::setParameter("access_target", "n", params);
  QXScsi::setParameter("exclusive_access", "n", params);
  target.overrideDefaultBehavior(params);
  EXPECT_TRUE(target.override(1));
  EXPECT_TRUE(target.override(6));
}

}  // namespace
