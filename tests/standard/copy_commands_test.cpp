// EXTENDED COPY and RECEIVE COPY RESULTS on the wire: 16-byte CDBs, 32-bit length fields,
// directions and timeouts, and lengths that do not fit the field.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qxscsi/target.h"
#include "support/recording_device.h"

namespace {

using qxscsi::test::cdbOf;
using qxscsi::test::DeviceTarget;
using qxscsi::test::own;
using qxscsi::test::RecordingDevice;
using Bytes = std::vector<unsigned char>;

class CopyCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(target.initScsiTarget("dev", QXScsiDevice(std::string("dev")), -1, nullptr));
    for (unsigned i = 0; i < sizeof list; ++i) list[i] = static_cast<unsigned char>(i + 1);
  }

  RecordingDevice device;
  DeviceTarget target{device};
  unsigned char list[52];
};

TEST_F(CopyCommandsTest, ExtendedCopySendsParameterListOutWithLongTimeout) {
  auto cmd = own(target.cmdExtendedCopy(0, false, false, 0, list, sizeof list));
  ASSERT_NE(cmd, nullptr);
  const auto& sent = device.commands.at(0);
  EXPECT_EQ(sent.cdb, (Bytes{0x83, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x34, 0, 0}));
  EXPECT_EQ(sent.data, list);
  EXPECT_EQ(sent.dataLength, 52u);
  EXPECT_EQ(sent.direction, QXScsi::dataOut_c);
  EXPECT_EQ(sent.timeout, 300u);
  EXPECT_EQ(sent.dataAtSend, Bytes(list, list + sizeof list));  // sent as the caller built it
  EXPECT_EQ(cdbOf(*cmd), sent.cdb);
}

TEST_F(CopyCommandsTest, ExtendedCopyLeadingArgumentsDoNotReachTheWire) {
  auto a = own(target.cmdExtendedCopy(0, false, false, 0, list, sizeof list));
  auto b = own(target.cmdExtendedCopy(0xFF, true, true, 0xFF, list, sizeof list));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(device.commands.at(0).cdb, device.commands.at(1).cdb);
  EXPECT_EQ(device.commands.at(1).dataAtSend, Bytes(list, list + sizeof list));
}

TEST_F(CopyCommandsTest, ExtendedCopyOfEmptyListStillSendsDataOut) {
  auto cmd = own(target.cmdExtendedCopy(0, false, false, 0, list, 0));
  ASSERT_NE(cmd, nullptr);
  const auto& sent = device.commands.at(0);
  EXPECT_EQ(Bytes(sent.cdb.begin() + 10, sent.cdb.begin() + 14), Bytes(4, 0));
  EXPECT_EQ(sent.dataLength, 0u);
  EXPECT_EQ(sent.direction, QXScsi::dataOut_c);
}

TEST_F(CopyCommandsTest, ReceiveCopyResultsAsksForListIdentifierWithShortTimeout) {
  unsigned char results[1024] = {};
  auto cmd = own(target.cmdReceiveCopyResults(0, 7, results, sizeof results));
  ASSERT_NE(cmd, nullptr);
  const auto& sent = device.commands.at(0);
  EXPECT_EQ(sent.cdb, (Bytes{0x84, 0x00, 0x07, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x04, 0x00, 0, 0}));
  EXPECT_EQ(sent.data, results);
  EXPECT_EQ(sent.dataLength, 1024u);
  EXPECT_EQ(sent.direction, QXScsi::dataIn_c);
  EXPECT_EQ(sent.timeout, 10u);
}

TEST_F(CopyCommandsTest, ServiceActionKeepsOnlyItsLowFiveBits) {
  unsigned char results[8] = {};
  auto a = own(target.cmdReceiveCopyResults(0xE3, 0, results, sizeof results));
  auto b = own(target.cmdReceiveCopyResults(0x1F, 0xFF, results, sizeof results));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(device.commands.at(0).cdb[1], 0x03);
  EXPECT_EQ(device.commands.at(1).cdb[1], 0x1F);
  EXPECT_EQ(device.commands.at(1).cdb[2], 0xFF);
}

TEST_F(CopyCommandsTest, LengthFieldIsBigEndianUpToItsLargestValue) {
  // The implementation reads at most 64 KiB of the buffer, whatever the record claims.
  std::vector<unsigned char> big(65536);
  auto a = own(target.cmdExtendedCopy(0, false, false, 0, big.data(), 0x01020304ul));
  auto b = own(target.cmdReceiveCopyResults(0, 0, big.data(), 0xFFFFFFFFul));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  const auto& first = device.commands.at(0);
  const auto& second = device.commands.at(1);
  EXPECT_EQ(Bytes(first.cdb.begin() + 10, first.cdb.begin() + 14), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(first.dataLength, 0x01020304ul);
  EXPECT_EQ(Bytes(second.cdb.begin() + 10, second.cdb.begin() + 14), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(second.dataLength, 0xFFFFFFFFul);
}

TEST_F(CopyCommandsTest, LengthBeyondThirtyTwoBitsIsRefusedNotCut) {
  // Cut to 32 bits, 2^32 + 52 would go out as 52 while the record claims far more.
  std::vector<unsigned char> big(65536);
  EXPECT_EQ(target.cmdExtendedCopy(0, false, false, 0, big.data(), 0x100000034ul), nullptr);
  EXPECT_EQ(target.cmdReceiveCopyResults(0, 0, big.data(), 0x100000000ul), nullptr);
  EXPECT_EQ(target.cmdReceiveCopyResults(0, 0, big.data(), ~0ul), nullptr);
  EXPECT_TRUE(device.commands.empty());
}

}  // namespace
