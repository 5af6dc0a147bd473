// Argument objects: construction, CDB length limits, setFrom, error codes and the trace text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qxscsi/commands.h"

namespace {

std::vector<unsigned char> cdbOf(const QXScsiArgs& args) {
  unsigned char* cdb = nullptr;
  unsigned char length = 0;
  args.getCDB(cdb, length);
  return std::vector<unsigned char>(cdb, cdb + 16);
}

unsigned char cdbLengthOf(const QXScsiArgs& args) {
  unsigned char* cdb = nullptr;
  unsigned char length = 0;
  args.getCDB(cdb, length);
  return length;
}

// Refuses every command with error 42.
class RefusingArgs : public QXScsiArgs {
 public:
  RefusingArgs() : QXScsiArgs(0x00, 6) {}
  bool preConditionCallback(int& error) const override {
    error = 42;
    return false;
  }
};

class ArgsTest : public ::testing::Test {
 protected:
  ~ArgsTest() override { os.freeze(false); }
  std::string text() { return std::string(os.str(), static_cast<size_t>(os.pcount())); }

  std::ostrstream os;
  unsigned char buffer[36] = {};
  const unsigned char inquiry[6] = {0x12, 0x00, 0x00, 0x00, 0x24, 0x00};
};

TEST_F(ArgsTest, OpcodeConstructorZeroFillsCdbAndHasNoData) {
  QXScsiArgs args(0x12, 6);
  std::vector<unsigned char> expected(16, 0);
  expected[0] = 0x12;
  EXPECT_TRUE(args.valid());
  EXPECT_EQ(cdbOf(args), expected);
  EXPECT_EQ(cdbLengthOf(args), 6);
  EXPECT_EQ(args.operationCode(), 0x12);
  EXPECT_EQ(args.transferDirection(), QXScsi::noData_c);
  EXPECT_EQ(args.errorCode(), 0);
  unsigned char* data = buffer;
  unsigned long length = 99;
  int direction = -1;
  args.getCmdData(data, length, direction);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(length, 0u);
}

TEST_F(ArgsTest, MissingBufferForcesNoDataDirection) {
  QXScsiArgs read10(0x28, nullptr, 512, QXScsi::dataIn_c, 10);
  EXPECT_EQ(read10.transferDirection(), QXScsi::noData_c);
  QXScsiArgs withData(0x28, buffer, sizeof buffer, QXScsi::dataIn_c, 10);
  EXPECT_EQ(withData.transferDirection(), QXScsi::dataIn_c);
  QXScsiArgs raw(inquiry, 6, nullptr, 36, QXScsi::dataIn_c);
  EXPECT_EQ(raw.transferDirection(), QXScsi::noData_c);
}

TEST_F(ArgsTest, CdbLengthIsCappedAtSixteen) {
  unsigned char big[255];
  for (int i = 0; i < 255; ++i) big[i] = static_cast<unsigned char>(i + 1);
  std::vector<unsigned char> first16(big, big + 16);
  for (unsigned char length : {16, 17, 255}) {
    QXScsiAnyArgs args(big, length);
    EXPECT_TRUE(args.valid()) << int(length);
    EXPECT_EQ(cdbLengthOf(args), 16) << int(length);
    EXPECT_EQ(cdbOf(args), first16) << int(length);
  }
  QXScsiArgs opcodeOnly(0xA0, 255);
  EXPECT_EQ(cdbLengthOf(opcodeOnly), 16);
}

TEST_F(ArgsTest, EmptyRawCdbGivesInvalidObject) {
  QXScsiAnyArgs empty(inquiry, 0, nullptr, 0, QXScsi::dataIn_c);
  EXPECT_FALSE(empty.valid());
  EXPECT_EQ(cdbLengthOf(empty), 0);
  EXPECT_EQ(cdbOf(empty), std::vector<unsigned char>(16, 0));
  EXPECT_EQ(empty.errorCode(), 0);
  // No init ran, so the direction stays as passed even without a buffer.
  EXPECT_EQ(empty.transferDirection(), QXScsi::dataIn_c);
}

TEST_F(ArgsTest, NullRawCdbCountsAsEmpty) {
  QXScsiAnyArgs nullCdb(nullptr, 6);
  EXPECT_FALSE(nullCdb.valid());
  EXPECT_EQ(cdbLengthOf(nullCdb), 0);
  EXPECT_EQ(cdbOf(nullCdb), std::vector<unsigned char>(16, 0));
}

TEST_F(ArgsTest, ErrorCodeInvalidatesEvenForZero) {
  QXScsiArgs args(0x00, 6);
  args.errorCode(0);
  EXPECT_FALSE(args.valid());
  EXPECT_EQ(args.errorCode(), 0);
  args.errorCode(-7);
  EXPECT_EQ(args.errorCode(), -7);
  args.valid(true);
  EXPECT_TRUE(args.valid());
  EXPECT_EQ(args.errorCode(), -7);
}

TEST_F(ArgsTest, SetFromOverwritesOnlyTheNewCdbBytes) {
  const unsigned char read10[10] = {0x28, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  QXScsiAnyArgs args(read10, 10, buffer, sizeof buffer, QXScsi::dataIn_c);
  args.errorCode(5);
  args.setFrom(inquiry, 6, nullptr, 0, QXScsi::dataOut_c);
  std::vector<unsigned char> expected = {0x12, 0, 0, 0, 0x24, 0, 6, 7, 8, 9, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(cdbOf(args), expected);
  EXPECT_EQ(cdbLengthOf(args), 6);
  EXPECT_EQ(args.transferDirection(), QXScsi::dataOut_c);  // not forced without a buffer
  EXPECT_EQ(args.errorCode(), 0);
  EXPECT_FALSE(args.valid());  // the valid mark is not touched
}

TEST_F(ArgsTest, SetFromCapsLengthAndIgnoresNullCdb) {
  unsigned char big[20];
  for (int i = 0; i < 20; ++i) big[i] = static_cast<unsigned char>(0xF0 + i);
  QXScsiArgs args(0x00, 6);
  args.setFrom(big, 20, buffer, 4, QXScsi::dataIn_c);
  EXPECT_EQ(cdbLengthOf(args), 16);
  EXPECT_EQ(cdbOf(args), std::vector<unsigned char>(big, big + 16));
  args.setFrom(nullptr, 6, buffer, 4, QXScsi::dataIn_c);
  EXPECT_EQ(cdbLengthOf(args), 0);
  EXPECT_EQ(cdbOf(args), std::vector<unsigned char>(big, big + 16));
}

TEST_F(ArgsTest, BasePreconditionAcceptsAndSubclassCanRefuse) {
  QXScsiArgs args(0x00, 6);
  int error = -1;
  EXPECT_TRUE(args.preConditionCallback(error));
  EXPECT_EQ(error, 0);
  RefusingArgs refusing;
  const QXScsiArgs& base = refusing;
  EXPECT_FALSE(base.preConditionCallback(error));
  EXPECT_EQ(error, 42);
}

TEST_F(ArgsTest, AnyArgsTraceOfInquiryIsWholeText) {
  QXScsiAnyArgs args(inquiry, 6, buffer, sizeof buffer, QXScsi::dataIn_c);
  args.traceTo(os, 1, nullptr, true);
  EXPECT_EQ(text(), std::string("    ANY SCSI COMMAND:\n"
                                "    operation code: 12\n"
                                "    control byte: 0\n"
                                "    data len: 36\n"
                                "    data type: 0\n") +
                        std::string(1, '\0'));
}

TEST_F(ArgsTest, AnyArgsTraceKeepsCallerTitleAndTerminatesOnce) {
  const unsigned char cdb[12] = {0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0, 0x80};
  QXScsiAnyArgs args(cdb, 12, buffer, sizeof buffer, QXScsi::dataIn_c);
  args.traceTo(os, 0, "REPORT LUNS:", false);
  EXPECT_EQ(text(),
            "REPORT LUNS:\n"
            "operation code: a0\n"
            "control byte: 128\n"
            "data len: 36\n"
            "data type: 0\n");
}

TEST_F(ArgsTest, BaseTraceHasNoTitleLineWithoutTitle) {
  QXScsiArgs args(0x28, buffer, 4096, 1, 10);
  args.traceTo(os, 2, nullptr, false);
  EXPECT_EQ(text(),
            "        operation code: 28\n"
            "        control byte: 0\n"
            "        data len: 4096\n"
            "        data type: 1\n");
}

TEST_F(ArgsTest, TraceHonoursUppercaseAndLeavesStreamDecimal) {
  QXScsiArgs args(0xA0, 12);
  os << std::uppercase << std::hex;
  args.traceTo(os, 0, nullptr, false);
  os << 255;
  EXPECT_EQ(text(),
            "operation code: A0\n"
            "control byte: 0\n"
            "data len: 0\n"
            "data type: 2\n"
            "255");
}

TEST_F(ArgsTest, TraceShowsNegativeDirectionAndZeroOpcode) {
  QXScsiAnyArgs args(inquiry, 6, buffer, 0, -3);
  unsigned char* cdb = nullptr;
  unsigned char length = 0;
  args.getCDB(cdb, length);
  cdb[0] = 0;
  cdb[5] = 0xFF;
  args.traceTo(os, 0, "T:", false);
  EXPECT_EQ(text(),
            "T:\n"
            "operation code: 0\n"
            "control byte: 255\n"
            "data len: 0\n"
            "data type: -3\n");
}

TEST_F(ArgsTest, TraceOfEmptyCdbShowsControlByteZero) {
  QXScsiAnyArgs empty(inquiry, 0);
  empty.traceTo(os, 0, nullptr, false);
  EXPECT_EQ(text(),
            "ANY SCSI COMMAND:\n"
            "operation code: 0\n"
            "control byte: 0\n"
            "data len: 0\n"
            "data type: 2\n");
}

TEST_F(ArgsTest, SixteenByteCdbTraceReadsLastByte) {
  unsigned char cdb[16] = {0x88};
  cdb[15] = 0x07;
  QXScsiAnyArgs args(cdb, 17, buffer, 512, QXScsi::dataIn_c);
  args.traceTo(os, 0, nullptr, false);
  EXPECT_NE(text().find("control byte: 7\n"), std::string::npos);
}

}  // namespace
