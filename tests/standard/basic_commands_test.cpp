// INQUIRY, TEST UNIT READY and REQUEST SENSE on the wire, and what the shared sequence puts
// into every record: the target's address, the fixed timeout, the default device.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qxscsi/sense.h"
#include "qxscsi/target.h"
#include "support/recording_device.h"

namespace {

using qxscsi::test::bytesOf;
using qxscsi::test::cdbOf;
using qxscsi::test::DeviceTarget;
using qxscsi::test::own;
using qxscsi::test::RecordingDevice;
using Bytes = std::vector<unsigned char>;

class BasicCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(target.initScsiTarget("dev", QXScsiDevice(std::string("dev")), -1, nullptr));
    target.setScsiAddress(QXScsiLunAddress(1, 2, 3));
    device.calls.clear();
  }

  RecordingDevice device;
  DeviceTarget target{device};
};

TEST_F(BasicCommandsTest, InquirySendsSixByteCdbWithAllocationLengthAndReceivesIntoBuffer) {
  device.response = {0x00, 0x80, 0x05, 0x02, 0x1F};
  unsigned char buffer[36] = {};
  auto cmd = own(target.cmdInquiry(buffer, 36));
  ASSERT_NE(cmd, nullptr);
  ASSERT_EQ(device.commands.size(), 1u);
  const auto& sent = device.commands[0];
  EXPECT_EQ(sent.cdb, (Bytes{0x12, 0x00, 0x00, 0x00, 0x24, 0x00}));
  EXPECT_EQ(sent.data, buffer);
  EXPECT_EQ(sent.dataLength, 36u);
  EXPECT_EQ(sent.direction, QXScsi::dataIn_c);
  EXPECT_EQ(sent.timeout, 10u);
  EXPECT_EQ(cdbOf(*cmd), sent.cdb);
  EXPECT_EQ(Bytes(buffer, buffer + 5), device.response);
}

TEST_F(BasicCommandsTest, InquiryAllocationLengthBoundsAreCarriedUnchanged) {
  unsigned char buffer[255] = {};
  auto none = own(target.cmdInquiry(buffer, 0));
  auto most = own(target.cmdInquiry(buffer, 255));
  ASSERT_NE(none, nullptr);
  ASSERT_NE(most, nullptr);
  EXPECT_EQ(device.commands[0].cdb[4], 0x00);
  EXPECT_EQ(device.commands[0].dataLength, 0u);
  EXPECT_EQ(device.commands[0].direction, QXScsi::dataIn_c);  // no data, still data in
  EXPECT_EQ(device.commands[1].cdb[4], 0xFF);
  EXPECT_EQ(device.commands[1].dataLength, 255u);
}

TEST_F(BasicCommandsTest, TestUnitReadySendsSixZeroBytesWithoutData) {
  auto cmd = own(target.cmdTestUnitReady());
  ASSERT_NE(cmd, nullptr);
  const auto& sent = device.commands.at(0);
  EXPECT_EQ(sent.cdb, Bytes(6, 0x00));
  EXPECT_EQ(sent.data, nullptr);
  EXPECT_EQ(sent.dataLength, 0u);
  EXPECT_EQ(sent.direction, QXScsi::noData_c);
  EXPECT_EQ(sent.timeout, 10u);
}

TEST_F(BasicCommandsTest, RequestSenseAsksForFixedFormatReadableThroughSenseView) {
  device.response = {0x70, 0x00, 0x06, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x29, 0x00};
  unsigned char buffer[18] = {};
  auto cmd = own(target.cmdRequestSense(buffer, 18));
  ASSERT_NE(cmd, nullptr);
  const auto& sent = device.commands.at(0);
  EXPECT_EQ(sent.cdb, (Bytes{0x03, 0x00, 0x00, 0x00, 0x12, 0x00}));
  EXPECT_EQ(sent.dataLength, 18u);
  EXPECT_EQ(sent.direction, QXScsi::dataIn_c);
  EXPECT_EQ(sent.timeout, 10u);
  QXScsiSenseData view(buffer, sizeof buffer);
  EXPECT_EQ(view.senseKey(), 6);
  EXPECT_EQ(view.additionalSenseCode(), 0x29);
}

TEST_F(BasicCommandsTest, RecordCarriesCurrentAddressAndDefaultDevice) {
  target.setScsiAddress(QXScsiLunAddress(5, 6, 7));
  auto cmd = own(target.cmdTestUnitReady());
  ASSERT_NE(cmd, nullptr);
  const auto& sent = device.commands.at(0);
  EXPECT_EQ(bytesOf(sent.address), (Bytes{0x80, 5, 6, 7, 0, 0, 0, 0}));
  EXPECT_TRUE(sent.address.defined());
  EXPECT_EQ(sent.deviceType, -1);
  EXPECT_EQ(sent.deviceName, "");
  QXScsiAddress inRecord;
  cmd->getScsiAddress(inRecord);
  EXPECT_EQ(bytesOf(inRecord), bytesOf(sent.address));
}

TEST_F(BasicCommandsTest, FixedTimeoutIgnoresDeviceAndFlags) {
  // A medium changer would give 3600 s to opcode 07h through cmdCall; the standard commands
  // do not ask any device.
  target.override(3, true);
  target.override(6, true);
  auto cmd = own(target.cmdInquiry(nullptr, 0));
  ASSERT_NE(cmd, nullptr);
  EXPECT_EQ(device.commands.at(0).timeout, 10u);
}

TEST_F(BasicCommandsTest, UndefinedAddressIsSentWithoutAddressCheck) {
  // Flag 3 refuses cmdCall with an undefined address (-3); the standard commands do not check.
  DeviceTarget fresh(device);
  ASSERT_TRUE(fresh.initScsiTarget("dev", QXScsiDevice(std::string("dev")), -1, nullptr));
  fresh.override(3, true);
  auto cmd = own(fresh.cmdTestUnitReady());
  ASSERT_NE(cmd, nullptr);
  EXPECT_FALSE(device.commands.at(0).address.defined());
  EXPECT_EQ(fresh.localError(), 0);
}

TEST_F(BasicCommandsTest, LocalErrorLeftByCmdCallSurvivesStandardCommands) {
  device.executeResult = false;  // error 0 from the implementation: cmdCall stores -2
  const unsigned char tur[6] = {};
  QXScsiAnyArgs args(tur, 6);
  EXPECT_EQ(target.cmdCall(args, 0), nullptr);
  ASSERT_EQ(target.localError(), -2);

  device.executeResult = true;
  auto cmd = own(target.cmdTestUnitReady());
  ASSERT_NE(cmd, nullptr);
  EXPECT_EQ(target.localError(), -2);
}

TEST_F(BasicCommandsTest, FailedStandardCommandStoresNoLocalError) {
  device.executeResult = false;
  EXPECT_EQ(target.cmdTestUnitReady(), nullptr);
  EXPECT_EQ(target.localError(), 0);
  EXPECT_EQ(target.implementationError(), 0);  // the implementation's own value, not -2
}

TEST_F(BasicCommandsTest, TargetNotOpenIsNotReopened) {
  target.valid(false);
  EXPECT_EQ(target.cmdTestUnitReady(), nullptr);
  EXPECT_EQ(device.count("release"), 0);
  EXPECT_EQ(device.count("access"), 0);
  EXPECT_EQ(device.count("executeCommand"), 0);
}

}  // namespace
