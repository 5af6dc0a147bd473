// The commands every emulated device answers, and how the engine refuses bad requests.
#include <cstring>

#include "engine_helpers.h"
#include "options.h"

namespace qxscsi::backends::emulated {
namespace {

using namespace testing;

class EngineCommonTest : public ::testing::Test {
 protected:
  std::unique_ptr<Device> disk = makeDevice("emulated:disk?luns=2&serial=ABC");
  Bytes buffer;
};

TEST_F(EngineCommonTest, StandardInquiryDataByteForByte) {
  CommandResult o = in(*disk, {0x12, 0, 0, 0, 36, 0}, buffer, 36);
  ASSERT_TRUE(o.executed);
  EXPECT_EQ(o.status, 0);
  EXPECT_TRUE(o.sense.empty());
  EXPECT_EQ(o.transferred, 36u);
  Bytes expected = {0x00, 0x00, 0x05, 0x12, 31, 0x18, 0x00, 0x00};  // TPGS 01b, 3PC
  for (char c : std::string("QXSCSI  EMULATED DISK   0100"))
    expected.push_back(static_cast<unsigned char>(c));
  EXPECT_EQ(buffer, expected);
}

TEST_F(EngineCommonTest, InquiryShorterAllocationTouchesOnlyThatManyBytes) {
  Bytes cdb = {0x12, 0, 0, 0, 5, 0};
  buffer.assign(16, 0xEE);
  CommandResult o = disk->execute(0, Command{cdb.data(), 6, 0, buffer.data(), 16});
  EXPECT_EQ(o.transferred, 5u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 6), (Bytes{0x00, 0x00, 0x05, 0x12, 31, 0xEE}));
}

TEST_F(EngineCommonTest, InquiryAllocationZeroMovesNothing) {
  CommandResult o = in(*disk, {0x12, 0, 0, 0, 0, 0}, buffer, 0);
  EXPECT_TRUE(o.executed);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.transferred, 0u);
}

TEST_F(EngineCommonTest, VpdSupportedPagesAndSerialNumber) {
  in(*disk, {0x12, 1, 0x00, 0, 64, 0}, buffer, 64);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 11),
            (Bytes{0x00, 0x00, 0x00, 0x07, 0x00, 0x80, 0x83, 0x86, 0xB0, 0xB1, 0xB2}));  // the disk's own too
  CommandResult o = in(*disk, {0x12, 1, 0x80, 0, 64, 0}, buffer, 64, 1);
  EXPECT_EQ(o.transferred, 9u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 9),
            (Bytes{0x00, 0x80, 0x00, 0x05, 'A', 'B', 'C', '-', '1'}));
}

TEST_F(EngineCommonTest, VpdDeviceIdentificationHoldsNaaAndT10Designators) {
  CommandResult o = in(*disk, {0x12, 1, 0x83, 0, 255, 0}, buffer, 255, 1);
  ASSERT_EQ(o.status, 0);
  uint64_t naa = (uint64_t(3) << 60) | (uint64_t(stableHash("ABC")) << 24) | 1;
  Bytes expected = {0x00, 0x83, 0x00, 0x1D, 0x01, 0x03, 0x00, 0x08};
  for (int i = 7; i >= 0; --i) expected.push_back(static_cast<unsigned char>(naa >> (8 * i)));
  expected.insert(expected.end(), {0x02, 0x01, 0x00, 0x0D});
  for (char c : std::string("QXSCSI  ABC-1")) expected.push_back(static_cast<unsigned char>(c));
  EXPECT_EQ(o.transferred, expected.size());
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + expected.size()), expected);
  EXPECT_NE(disk->naaDesignator(0), disk->naaDesignator(1));
}

TEST_F(EngineCommonTest, InquiryBadFieldsAnswerInvalidFieldWithFieldPointer) {
  Bytes s = sense(0x05, 0x24, 0x00);
  s[15] = 0xC0;  // SKSV, C/D
  s[17] = 2;     // byte 2
  CommandResult o = in(*disk, {0x12, 1, 0xB5, 0, 64, 0}, buffer, 64);
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.sense, s);
  EXPECT_EQ(o.transferred, 0u);
  o = in(*disk, {0x12, 0, 0x80, 0, 64, 0}, buffer, 64);  // page code without EVPD
  EXPECT_EQ(o.sense, s);
  o = in(*disk, {0x12, 2, 0, 0, 64, 0}, buffer, 64);  // CMDDT
  s[15] = 0xC9;                                       // bit pointer 1
  s[17] = 1;
  EXPECT_EQ(o.sense, s);
}

TEST_F(EngineCommonTest, UnknownOperationCodeAnswersInvalidCommandOperationCode) {
  CommandResult o = none(*disk, {0xC0, 0, 0, 0, 0, 0});
  ASSERT_TRUE(o.executed);
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.sense, sense(0x05, 0x20, 0x00));
  // A tape command on a disk is just as unknown.
  o = none(*disk, {0x01, 0, 0, 0, 0, 0});
  EXPECT_EQ(o.sense, sense(0x05, 0x20, 0x00));
}

TEST_F(EngineCommonTest, RequestSenseKeepsSensePerLogicalUnit) {
  none(*disk, {0xC0, 0, 0, 0, 0, 0}, 1);
  in(*disk, {0x03, 0, 0, 0, 18, 0}, buffer, 18, 0);
  EXPECT_EQ(buffer, sense(0x00, 0x00, 0x00));
  in(*disk, {0x03, 0, 0, 0, 18, 0}, buffer, 18, 1);
  EXPECT_EQ(buffer, sense(0x05, 0x20, 0x00));
}

TEST_F(EngineCommonTest, RequestSenseShortAllocationAndDescriptorFormat) {
  CommandResult o = in(*disk, {0x03, 0, 0, 0, 8, 0}, buffer, 8);
  EXPECT_EQ(o.transferred, 8u);
  o = in(*disk, {0x03, 1, 0, 0, 18, 0}, buffer, 18);
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.sense[12], 0x24);
}

TEST_F(EngineCommonTest, ReportLunsListsEveryUnit) {
  CommandResult o = in(*disk, {0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}, buffer, 32);
  EXPECT_EQ(o.transferred, 24u);
  Bytes expected = {0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 24), expected);
}

TEST_F(EngineCommonTest, ReportLunsWithFourByteAllocationGivesTheListLengthOnly) {
  CommandResult o = in(*disk, {0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0}, buffer, 4);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(buffer, (Bytes{0, 0, 0, 16}));
  o = in(*disk, {0xA0, 0, 3, 0, 0, 0, 0, 0, 0, 16, 0, 0}, buffer, 16);
  EXPECT_EQ(o.status, 2);  // SELECT REPORT 3 is not offered
}

TEST_F(EngineCommonTest, UnsupportedLogicalUnit) {
  CommandResult o = none(*disk, {0, 0, 0, 0, 0, 0}, 5);
  EXPECT_EQ(o.sense, sense(0x05, 0x25, 0x00));
  in(*disk, {0x12, 0, 0, 0, 36, 0}, buffer, 36, 5);
  EXPECT_EQ(buffer[0], 0x7F);
  in(*disk, {0x03, 0, 0, 0, 18, 0}, buffer, 18, 5);
  EXPECT_EQ(buffer, sense(0x05, 0x25, 0x00));
  o = in(*disk, {0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0}, buffer, 16, 5);
  EXPECT_EQ(o.status, 0);
}

TEST_F(EngineCommonTest, ShortDataInBufferTakesTheFirstBytesAndCountsTheRest) {
  // Was: refused untouched. A real target sends what the buffer holds and reports an overflow.
  Bytes cdb = {0x12, 0, 0, 0, 36, 0};
  unsigned char guarded[40];
  std::memset(guarded, 0xEE, sizeof guarded);
  CommandResult o = disk->execute(0, Command{cdb.data(), 6, 0, guarded + 2, 35});
  ASSERT_TRUE(o.executed);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.transferred, 35u);
  EXPECT_EQ(o.beyond, 1u);
  EXPECT_EQ(guarded[2], 0x00);  // peripheral type of a disk
  EXPECT_EQ(guarded[36], '0');  // revision "0100", its last byte cut off
  EXPECT_EQ(guarded[37], 0xEE);
  EXPECT_EQ(guarded[1], 0xEE);
  // The overflow is what the device had, not the allocation length: 36 bytes of 255 allowed.
  cdb[4] = 255;
  std::memset(guarded, 0xEE, sizeof guarded);
  o = disk->execute(0, Command{cdb.data(), 6, 0, guarded + 2, 8});
  EXPECT_EQ(o.transferred, 8u);
  EXPECT_EQ(o.beyond, 28u);
  EXPECT_EQ(guarded[10], 0xEE);
  o = disk->execute(0, Command{cdb.data(), 6, 0, nullptr, 0});  // no buffer at all
  EXPECT_TRUE(o.executed);
  EXPECT_EQ(o.transferred, 0u);
  EXPECT_EQ(o.beyond, 36u);
  o = disk->execute(0, Command{cdb.data(), 6, 0, nullptr, 36});  // a length without a buffer
  EXPECT_FALSE(o.executed);
}

TEST_F(EngineCommonTest, WrongDirectionAndBadCdbLengthsAreRefused) {
  Bytes cdb = {0x12, 0, 0, 0, 36, 0};
  buffer.assign(36, 0);
  CommandResult o = disk->execute(0, Command{cdb.data(), 6, 1, buffer.data(), 36});
  EXPECT_FALSE(o.executed);
  EXPECT_NE(o.refusal.find("direction"), std::string::npos);
  o = disk->execute(0, Command{cdb.data(), 5, 0, buffer.data(), 36});
  EXPECT_FALSE(o.executed);
  EXPECT_NE(o.refusal.find("too short"), std::string::npos);
  o = disk->execute(0, Command{cdb.data(), 0, 2, nullptr, 0});
  EXPECT_FALSE(o.executed);
  o = disk->execute(0, Command{cdb.data(), 17, 2, nullptr, 0});
  EXPECT_FALSE(o.executed);
}

TEST_F(EngineCommonTest, NoTransferNeedsNoBufferWhateverTheDirection) {
  Bytes cdb = {0x12, 0, 0, 0, 0, 0};
  CommandResult o = disk->execute(0, Command{cdb.data(), 6, 2, nullptr, 0});
  EXPECT_TRUE(o.executed);
  EXPECT_EQ(o.status, 0);
}

}  // namespace
}  // namespace qxscsi::backends::emulated
