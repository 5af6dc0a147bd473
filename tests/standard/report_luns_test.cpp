// REPORT LUNS: allocation length from the capacity, LUN LIST LENGTH parsing, whole entries
// only, byte 1 of each entry, *lunCount on every path, and devices that answer more or less
// than they were asked for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qxscsi/target.h"
#include "support/recording_device.h"

namespace {

using qxscsi::test::DeviceTarget;
using qxscsi::test::own;
using qxscsi::test::RecordingDevice;
using Bytes = std::vector<unsigned char>;

// REPORT LUNS parameter data: LUN LIST LENGTH (big-endian) claimed, then one 8-byte entry per
// given LUN, holding it in byte 1 with an address method byte 0 of method.
Bytes parameterData(unsigned long claimed, const Bytes& luns, unsigned char method = 0x00) {
  Bytes data = {static_cast<unsigned char>(claimed >> 24),
                static_cast<unsigned char>(claimed >> 16),
                static_cast<unsigned char>(claimed >> 8),
                static_cast<unsigned char>(claimed),
                0,
                0,
                0,
                0};
  for (unsigned char lun : luns) {
    const Bytes entry = {method, lun, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    data.insert(data.end(), entry.begin(), entry.end());
  }
  return data;
}

class ReportLunsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(target.initScsiTarget("dev", QXScsiDevice(std::string("dev")), -1, nullptr));
    list.assign(8, 0xAA);  // untouched entries stay AA
  }

  RecordingDevice device;
  DeviceTarget target{device};
  Bytes list;
};

TEST_F(ReportLunsTest, CapacityFourAsksForThirtySixBytesAndCopiesLuns) {
  device.response = parameterData(16, {0, 1});
  unsigned long count = 4;
  auto cmd = own(target.cmdReportLuns(list.data(), &count));
  ASSERT_NE(cmd, nullptr);
  const auto& sent = device.commands.at(0);
  EXPECT_EQ(sent.cdb, (Bytes{0xA0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x24, 0, 0}));
  EXPECT_EQ(sent.dataLength, 36u);
  EXPECT_EQ(sent.direction, QXScsi::dataIn_c);
  EXPECT_EQ(sent.timeout, 10u);
  EXPECT_NE(sent.data, list.data());  // received into a work buffer of the command's own
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(list, (Bytes{0, 1, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}));
}

TEST_F(ReportLunsTest, OnlyByteOneOfEachEntryReachesTheList) {
  device.response = parameterData(24, {5, 6, 7}, 0x40);
  unsigned long count = 3;
  auto cmd = own(target.cmdReportLuns(list.data(), &count));
  ASSERT_NE(cmd, nullptr);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(Bytes(list.begin(), list.begin() + 4), (Bytes{5, 6, 7, 0xAA}));
}

TEST_F(ReportLunsTest, CapacityZeroAsksForHeaderOnlyAndReportsCount) {
  device.response = parameterData(3 * 8, {1, 2, 3});
  unsigned long count = 0;
  auto cmd = own(target.cmdReportLuns(list.data(), &count));
  ASSERT_NE(cmd, nullptr);
  const auto& sent = device.commands.at(0);
  EXPECT_EQ(Bytes(sent.cdb.begin() + 6, sent.cdb.begin() + 10), (Bytes{0, 0, 0, 4}));
  EXPECT_EQ(sent.dataLength, 4u);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(list, Bytes(8, 0xAA));
}

TEST_F(ReportLunsTest, NullListCountsAsCapacityZero) {
  device.response = parameterData(2 * 8, {1, 2});
  unsigned long count = 8;
  auto cmd = own(target.cmdReportLuns(nullptr, &count));
  ASSERT_NE(cmd, nullptr);
  EXPECT_EQ(device.commands.at(0).dataLength, 4u);
  EXPECT_EQ(count, 2u);
}

TEST_F(ReportLunsTest, SmallCapacityStoresOnlyWhatFitsAndReportsAll) {
  device.response = parameterData(5 * 8, {1, 2, 3, 4, 5});
  unsigned long count = 2;
  auto cmd = own(target.cmdReportLuns(list.data(), &count));
  ASSERT_NE(cmd, nullptr);
  EXPECT_EQ(device.commands.at(0).dataLength, 20u);
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(Bytes(list.begin(), list.begin() + 3), (Bytes{1, 2, 0xAA}));
}

TEST_F(ReportLunsTest, PartialEntryInListLengthIsNotCounted) {
  device.response = parameterData(20, {1, 2, 3});
  unsigned long count = 4;
  auto cmd = own(target.cmdReportLuns(list.data(), &count));
  ASSERT_NE(cmd, nullptr);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(Bytes(list.begin(), list.begin() + 3), (Bytes{1, 2, 0xAA}));
}

TEST_F(ReportLunsTest, StatusOtherThanGoodGivesZeroCountAndUntouchedList) {
  device.status = 0x02;
  device.sense = {0x70, 0x00, 0x05};
  device.response = parameterData(16, {1, 2});
  unsigned long count = 4;
  auto cmd = own(target.cmdReportLuns(list.data(), &count));
  ASSERT_NE(cmd, nullptr);
  EXPECT_EQ(cmd->scsiStatus(), 0x02);
  EXPECT_EQ(cmd->senseData().senseKey(), 5);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(list, Bytes(8, 0xAA));
}

TEST_F(ReportLunsTest, WorkBufferIsClearedBeforeTheCommand) {
  unsigned long count = 4;
  auto cmd = own(target.cmdReportLuns(list.data(), &count));
  ASSERT_NE(cmd, nullptr);
  EXPECT_EQ(device.commands.at(0).dataAtSend, Bytes(36, 0));
}

TEST_F(ReportLunsTest, DeviceReturningLessThanItClaimsYieldsZeroEntries) {
  // Claims three entries, returns the header and one entry only.
  device.response = parameterData(24, {9});
  unsigned long count = 4;
  auto cmd = own(target.cmdReportLuns(list.data(), &count));
  ASSERT_NE(cmd, nullptr);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(Bytes(list.begin(), list.begin() + 4), (Bytes{9, 0, 0, 0xAA}));
}

TEST_F(ReportLunsTest, DeviceReturningNothingReportsNoLuns) {
  unsigned long count = 4;
  auto cmd = own(target.cmdReportLuns(list.data(), &count));
  ASSERT_NE(cmd, nullptr);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(list, Bytes(8, 0xAA));
}

TEST_F(ReportLunsTest, DeviceClaimingMoreThanAskedIsReadOnlyWithinWorkBuffer) {
  // The largest claim a device can make; the sanitizer build reports any read past the
  // 20-byte work buffer.
  device.response = parameterData(0xFFFFFFFFul, {1, 2, 3, 4});
  unsigned long count = 2;
  auto cmd = own(target.cmdReportLuns(list.data(), &count));
  ASSERT_NE(cmd, nullptr);
  EXPECT_EQ(device.commands.at(0).dataLength, 20u);
  EXPECT_EQ(count, 0x1FFFFFFFu);
  EXPECT_EQ(Bytes(list.begin(), list.begin() + 3), (Bytes{1, 2, 0xAA}));
}

TEST_F(ReportLunsTest, CapacityWhoseLengthOverflowsThirtyTwoBitsIsRefused) {
  // 8 x 536,870,912 + 4 wraps to 4 in 32 bits; 2^32 + 1 would be taken as 1.
  for (unsigned long capacity : {536870912ul, 0x100000001ul, ~0ul}) {
    unsigned long count = capacity;
    EXPECT_EQ(target.cmdReportLuns(list.data(), &count), nullptr) << capacity;
    EXPECT_EQ(count, capacity);
  }
  EXPECT_TRUE(device.commands.empty());
  EXPECT_EQ(list, Bytes(8, 0xAA));
}

TEST_F(ReportLunsTest, RefusedExecutionLeavesCountAndList) {
  device.executeResult = false;
  device.response = parameterData(16, {1, 2});
  unsigned long count = 4;
  EXPECT_EQ(target.cmdReportLuns(list.data(), &count), nullptr);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(list, Bytes(8, 0xAA));
}

}  // namespace
