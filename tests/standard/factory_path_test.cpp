// All six standard commands end to end: an SPI target opened by name obtains its implementation
// from the factory singleton, and every command reaches that one implementation.
#include <gtest/gtest.h>

#include <vector>

#include "qxscsi/target.h"
#include "support/recording_device.h"

namespace {

using qxscsi::test::bytesOf;
using qxscsi::test::FactoryRegistration;
using qxscsi::test::own;
using qxscsi::test::RecordingDevice;
using Bytes = std::vector<unsigned char>;

class FactoryPathTest : public ::testing::Test {
 protected:
  RecordingDevice device;
  FactoryRegistration registration{device};
};

TEST_F(FactoryPathTest, SixCommandsThroughFactoryMadeImplementation) {
  {
    QXScsiSPITarget target("/dev/sg3");
    ASSERT_TRUE(target.valid());
    device.response = {0x00, 0x00, 0x00, 0x08, 0, 0, 0, 0, 0x00, 0x04};  // one LUN, number 4

    unsigned char data[64] = {};
    unsigned char luns[2] = {};
    unsigned long lunCount = 2;
    auto inquiry = own(target.cmdInquiry(data, 36));
    auto ready = own(target.cmdTestUnitReady());
    auto sense = own(target.cmdRequestSense(data, 18));
    auto report = own(target.cmdReportLuns(luns, &lunCount));
    auto copy = own(target.cmdExtendedCopy(0, false, false, 0, data, 32));
    auto results = own(target.cmdReceiveCopyResults(0, 1, data, 64));
    for (const auto* cmd :
         {inquiry.get(), ready.get(), sense.get(), report.get(), copy.get(), results.get()}) {
      EXPECT_NE(cmd, nullptr);
    }

    ASSERT_EQ(device.commands.size(), 6u);
    const Bytes opcodes = {0x12, 0x00, 0x03, 0xA0, 0x83, 0x84};
    const std::vector<unsigned long> timeouts = {10, 10, 10, 10, 300, 10};
    for (size_t i = 0; i < 6; ++i) {
      EXPECT_EQ(device.commands[i].cdb.at(0), opcodes[i]) << i;
      EXPECT_EQ(device.commands[i].timeout, timeouts[i]) << i;
      // The address the implementation reported when the target opened.
      EXPECT_EQ(bytesOf(device.commands[i].address), (Bytes{0x80, 1, 2, 3, 0, 0, 0, 0})) << i;
    }
    EXPECT_EQ(lunCount, 1u);
    EXPECT_EQ(luns[0], 4);
    EXPECT_EQ(device.created, 1);
    EXPECT_EQ(target.localError(), 0);
  }
  EXPECT_EQ(device.destroyed, 1);  // the last reference released and deleted it
  EXPECT_GE(device.count("release"), 1);
}

}  // namespace
