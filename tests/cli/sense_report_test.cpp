// Decoding of fixed and descriptor sense data and the exit statuses they map to.
#include <gtest/gtest.h>

#include <cerrno>

#include <vector>

#include "cli/exit_status.h"
#include "cli/sense_report.h"

namespace {

using namespace qxscsi::cli;

class SenseReportTest : public ::testing::Test {
protected:
  // ILLEGAL REQUEST, INVALID FIELD IN CDB, field pointer byte 2.
  std::vector<uint8_t> invalidField = {0x70, 0, 0x05, 0, 0, 0x01, 0x02, 0x0a, 0, 0, 0, 0,
                                       0x24, 0, 0,    0xc0, 0, 0x02};
};

TEST_F(SenseReportTest, FixedFormatFieldsAndTexts) {
  SenseReport r = decodeSense(invalidField.data(), invalidField.size());
  ASSERT_TRUE(r.present);
  EXPECT_FALSE(r.descriptorFormat);
  EXPECT_EQ(r.responseCode, 0x70u);
  EXPECT_EQ(r.senseKey, 5u);
  EXPECT_EQ(r.asc, 0x24u);
  EXPECT_EQ(r.information, 258u);
  EXPECT_TRUE(r.sksv);
  EXPECT_EQ(r.senseKeySpecific, 0x400002u);
  EXPECT_EQ(r.senseKeyText, "Illegal Request");
  EXPECT_EQ(r.ascText, "Invalid field in cdb");
  EXPECT_EQ(r.sksText, "error in CDB, byte 2");
  EXPECT_EQ(exitStatusFor(0x02, invalidField.data(), invalidField.size()), 5);
}

TEST_F(SenseReportTest, TapeFlagsAndShortAdditionalLength) {
  std::vector<uint8_t> s = {0x70, 0, 0xe0, 0, 0, 0, 0, 0};  // FILEMARK, EOM, ILI; no more bytes claimed
  SenseReport r = decodeSense(s.data(), s.size());
  EXPECT_TRUE(r.fileMark && r.endOfMedium && r.incorrectLength);
  EXPECT_EQ(r.length, 8u);
  EXPECT_EQ(r.asc, 0u);
}

TEST_F(SenseReportTest, TruncatedBuffersReadNothingBeyondTheirLength) {
  for (size_t n = 1; n <= invalidField.size(); ++n) {
    std::vector<uint8_t> cut(invalidField.begin(), invalidField.begin() + static_cast<long>(n));
    SenseReport r = decodeSense(cut.data(), cut.size());  // ASan catches any overread
    EXPECT_LE(r.length, n);
  }
  EXPECT_FALSE(decodeSense(nullptr, 10).present);
  std::vector<uint8_t> zeros(18, 0);
  EXPECT_FALSE(decodeSense(zeros.data(), zeros.size()).present);
}

TEST_F(SenseReportTest, DescriptorFormatWithInformationAndStreamDescriptors) {
  std::vector<uint8_t> s = {0x72, 0x03, 0x11, 0x00, 0, 0, 0, 18,
                            0x00, 0x0a, 0x80, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x34,  // information
                            0x04, 0x02, 0, 0x20};                                // stream: ILI
  SenseReport r = decodeSense(s.data(), s.size());
  ASSERT_TRUE(r.descriptorFormat);
  EXPECT_EQ(r.senseKey, 3u);
  EXPECT_EQ(r.asc, 0x11u);
  EXPECT_TRUE(r.infoValid);
  EXPECT_EQ(r.information, 0x1234u);
  EXPECT_TRUE(r.incorrectLength);
  s[21] = 0x40;  // stream descriptor claims more bytes than are there: ignored
  r = decodeSense(s.data(), s.size());
  EXPECT_FALSE(r.incorrectLength);
}

TEST_F(SenseReportTest, StatusesMapToTheConventionalExitValues) {
  std::vector<uint8_t> ua = {0x70, 0, 0x06, 0, 0, 0, 0, 0x0a, 0, 0, 0, 0, 0x29, 0, 0, 0, 0, 0};
  std::vector<uint8_t> opcode = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0a, 0, 0, 0, 0, 0x20, 0, 0, 0, 0, 0};
  std::vector<uint8_t> notReady = {0x70, 0, 0x02, 0, 0, 0, 0, 0x0a, 0, 0, 0, 0, 0x3a, 0, 0, 0, 0, 0};
  EXPECT_EQ(exitStatusFor(0x00, nullptr, 0), 0);
  EXPECT_EQ(exitStatusFor(0x02, ua.data(), ua.size()), 6);
  EXPECT_EQ(exitStatusFor(0x02, opcode.data(), opcode.size()), 9);
  EXPECT_EQ(exitStatusFor(0x02, notReady.data(), notReady.size()), 2);
  EXPECT_EQ(exitStatusFor(0x02, nullptr, 0), exitSense);
  // A CHECK CONDITION whose sense says NO SENSE (say, one byte arrived) is not success.
  std::vector<uint8_t> oneByte = {0x70, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(exitStatusFor(0x02, oneByte.data(), oneByte.size()), 20);
  std::vector<uint8_t> recovered = {0x70, 0, 0x01, 0, 0, 0, 0, 0x0a, 0, 0, 0, 0, 0x17, 0x01, 0, 0, 0, 0};
  EXPECT_EQ(exitStatusFor(0x02, recovered.data(), recovered.size()), 0);
  EXPECT_EQ(exitStatusFor(0x02, recovered.data(), recovered.size(), Completion::raw), 21);
  EXPECT_EQ(exitStatusFor(0x02, oneByte.data(), oneByte.size(), Completion::raw), 20);
  EXPECT_EQ(exitStatusForErrno(ENOENT), 52);
  EXPECT_EQ(exitStatusForErrno(EBUSY), 66);
  EXPECT_EQ(exitStatusForErrno(46), 96);
  EXPECT_EQ(exitStatusForErrno(47), 50);  // beyond what fits below 97
  EXPECT_EQ(exitStatusForOpening(-11, true), 52);
  EXPECT_EQ(exitStatusForOpening(-12, true), 63);
  EXPECT_EQ(exitStatusForOpening(-13, true), 66);
  EXPECT_EQ(exitStatusForOpening(-12, false), 15);  // a refused login has no errno
  EXPECT_EQ(exitStatusForOpening(-17, false), 15);
  EXPECT_EQ(exitStatusFor(0x08, nullptr, 0), 26);
  EXPECT_EQ(exitStatusFor(0x18, nullptr, 0), 24);
  EXPECT_EQ(exitStatusFor(0x28, nullptr, 0), 27);
  EXPECT_EQ(exitStatusFor(0x22, nullptr, 0), 99);
  EXPECT_EQ(exitStatusForFailure(-16), 33);
  EXPECT_EQ(exitStatusForFailure(-10), 15);
  EXPECT_EQ(exitStatusForFailure(-2), 99);
}

}  // namespace
