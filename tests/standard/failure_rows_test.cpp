// The failure table that all six standard commands share: a target that is not open, an
// implementation that does not carry the command out, an executed command with any status,
// and input that would hand the device a missing buffer.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "qxscsi/sense.h"
#include "qxscsi/target.h"
#include "support/recording_device.h"

namespace {

using qxscsi::test::DeviceTarget;
using qxscsi::test::own;
using qxscsi::test::RecordingDevice;

struct Command {
  const char* name;
  std::function<QXScsiCmd*(QXScsiTarget&)> send;
};

// The caller's buffers, shared by the six senders.
unsigned char buffer[64];
unsigned char lunList[4];
unsigned long lunCount;

std::vector<Command> allCommands() {
  return {
      {"INQUIRY", [](QXScsiTarget& t) { return t.cmdInquiry(buffer, 36); }},
      {"TEST UNIT READY", [](QXScsiTarget& t) { return t.cmdTestUnitReady(); }},
      {"REQUEST SENSE", [](QXScsiTarget& t) { return t.cmdRequestSense(buffer, 18); }},
      {"REPORT LUNS", [](QXScsiTarget& t) { return t.cmdReportLuns(lunList, &lunCount); }},
      {"EXTENDED COPY", [](QXScsiTarget& t) { return t.cmdExtendedCopy(1, true, false, 2, buffer, 52); }},
      {"RECEIVE COPY RESULTS", [](QXScsiTarget& t) { return t.cmdReceiveCopyResults(0, 7, buffer, 64); }},
  };
}

class FailureRowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lunCount = 4;
    ASSERT_TRUE(target.initScsiTarget("dev", QXScsiDevice(std::string("dev")), -1, nullptr));
    device.calls.clear();
  }

  RecordingDevice device;
  DeviceTarget target{device};
};

TEST_F(FailureRowsTest, TargetNotOpenGivesNullWithNothingSent) {
  target.valid(false);
  target.localError(-9);
  for (const auto& command : allCommands()) {
    EXPECT_EQ(command.send(target), nullptr) << command.name;
  }
  EXPECT_TRUE(device.calls.empty());
  EXPECT_EQ(target.localError(), -9);
  EXPECT_EQ(lunCount, 4u);
}

TEST_F(FailureRowsTest, TargetWithoutImplementationGivesNull) {
  QXScsiTarget bare;  // no subclass implementation and no factory in this program
  bare.valid(true);
  for (const auto& command : allCommands()) {
    EXPECT_EQ(command.send(bare), nullptr) << command.name;
  }
}

TEST_F(FailureRowsTest, ExecutionRefusedGivesNullAndReleasesRecord) {
  // The sanitizer build reports a record that was not released.
  device.executeResult = false;
  device.error = -21;
  for (const auto& command : allCommands()) {
    EXPECT_EQ(command.send(target), nullptr) << command.name;
  }
  EXPECT_EQ(device.count("executeCommand"), 6);
  EXPECT_EQ(target.localError(), 0);
  EXPECT_EQ(target.implementationError(), -21);
  EXPECT_EQ(lunCount, 4u);
}

TEST_F(FailureRowsTest, CheckConditionIsAnExecutedCommand) {
  device.status = 0x02;
  device.sense = {0x70, 0x00, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x24, 0x00};
  device.recordError = -19;
  for (const auto& command : allCommands()) {
    auto cmd = own(command.send(target));
    ASSERT_NE(cmd, nullptr) << command.name;
    EXPECT_EQ(cmd->scsiStatus(), 0x02) << command.name;
    EXPECT_EQ(cmd->senseData().senseKey(), 5) << command.name;
    EXPECT_EQ(cmd->senseData().additionalSenseCode(), 0x24) << command.name;
    EXPECT_EQ(cmd->implementationError(), -19) << command.name;
  }
  EXPECT_EQ(target.localError(), 0);
}

TEST_F(FailureRowsTest, MissingBufferWithLengthIsRefusedBeforeSending) {
  EXPECT_EQ(target.cmdInquiry(nullptr, 36), nullptr);
  EXPECT_EQ(target.cmdRequestSense(nullptr, 1), nullptr);
  EXPECT_EQ(target.cmdExtendedCopy(0, false, false, 0, nullptr, 52), nullptr);
  EXPECT_EQ(target.cmdReceiveCopyResults(0, 0, nullptr, 1), nullptr);
  EXPECT_EQ(target.cmdReportLuns(lunList, nullptr), nullptr);
  EXPECT_TRUE(device.calls.empty());
}

TEST_F(FailureRowsTest, MissingBufferWithoutLengthIsSent) {
  auto a = own(target.cmdInquiry(nullptr, 0));
  auto b = own(target.cmdRequestSense(nullptr, 0));
  auto c = own(target.cmdExtendedCopy(0, false, false, 0, nullptr, 0));
  auto d = own(target.cmdReceiveCopyResults(0, 0, nullptr, 0));
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  EXPECT_NE(c, nullptr);
  EXPECT_NE(d, nullptr);
  EXPECT_EQ(device.count("executeCommand"), 4);
}

}  // namespace
