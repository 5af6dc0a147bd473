// Command records: creation, CDB copies, sense buffer limits, errors and release.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "qxscsi/commands.h"

namespace {

std::vector<unsigned char> cdbOf(const QXScsiCmd& cmd) {
  const unsigned char* cdb = nullptr;
  unsigned char length = 0;
  cmd.getCDB(cdb, length);
  return std::vector<unsigned char>(cdb, cdb + 16);
}

unsigned char cdbLengthOf(const QXScsiCmd& cmd) {
  const unsigned char* cdb = nullptr;
  unsigned char length = 0;
  cmd.getCDB(cdb, length);
  return length;
}

std::vector<unsigned char> senseOf(const QXScsiCmd& cmd) {
  unsigned char* buffer = nullptr;
  unsigned char length = 0;
  cmd.senseData().getBuffer(buffer, length);
  return std::vector<unsigned char>(buffer, buffer + length);
}

struct CmdDeleter {
  void operator()(QXScsiCmd* cmd) const { QXScsiFreeCmd(cmd); }
};
using CmdPtr = std::unique_ptr<QXScsiCmd, CmdDeleter>;

class CmdTest : public ::testing::Test {
 protected:
  unsigned char buffer[36] = {};
  const unsigned char inquiry[6] = {0x12, 0x00, 0x00, 0x00, 0x24, 0x00};
};

TEST_F(CmdTest, NewRecordIsEmptyWithZeroSenseOf255Bytes) {
  CmdPtr cmd(new QXScsiCmd(inquiry, 6, buffer, sizeof buffer, QXScsi::dataIn_c));
  EXPECT_EQ(cmd->scsiStatus(), 0);
  EXPECT_EQ(cmd->timeout(), 0u);
  EXPECT_EQ(cmd->implementationError(), 0);
  std::string message = "x";
  cmd->implementationErrorMsg(message);
  EXPECT_EQ(message, "");
  EXPECT_FALSE(cmd->incompleteSense());
  QXScsiSenseData sense = cmd->senseData();
  EXPECT_TRUE(sense.valid());
  EXPECT_EQ(senseOf(*cmd), std::vector<unsigned char>(255, 0));
  QXScsiAddress address(QXScsiAddress::lunMethod);
  cmd->getScsiAddress(address);
  EXPECT_FALSE(address.defined());
  EXPECT_EQ(address.addressMethod(), QXScsiAddress::byteMethod);
}

TEST_F(CmdTest, RawConstructorCopiesCdbAndReferencesData) {
  CmdPtr cmd(new QXScsiCmd(inquiry, 6, buffer, sizeof buffer, QXScsi::dataIn_c));
  std::vector<unsigned char> expected(16, 0);
  std::copy(inquiry, inquiry + 6, expected.begin());
  EXPECT_EQ(cdbOf(*cmd), expected);
  EXPECT_EQ(cdbLengthOf(*cmd), 6);
  const unsigned char* data = nullptr;
  unsigned long length = 0;
  int direction = -1;
  cmd->getCmdData(data, length, direction);
  EXPECT_EQ(data, buffer);
  EXPECT_EQ(length, sizeof buffer);
  EXPECT_EQ(direction, QXScsi::dataIn_c);
  EXPECT_EQ(cmd->transferDirection(), QXScsi::dataIn_c);
}

TEST_F(CmdTest, CdbLengthBoundaries) {
  unsigned char big[255];
  for (int i = 0; i < 255; ++i) big[i] = static_cast<unsigned char>(i + 1);
  for (unsigned char length : {16, 17, 255}) {
    QXScsiCmd cmd(big, length, nullptr, 0, QXScsi::noData_c);
    EXPECT_EQ(cdbLengthOf(cmd), 16) << int(length);
    EXPECT_EQ(cdbOf(cmd), std::vector<unsigned char>(big, big + 16)) << int(length);
  }
  QXScsiCmd empty(big, 0, nullptr, 0, QXScsi::noData_c);
  EXPECT_EQ(cdbLengthOf(empty), 0);
  EXPECT_EQ(cdbOf(empty), std::vector<unsigned char>(16, 0));
  QXScsiCmd nullCdb(nullptr, 6, nullptr, 0, QXScsi::noData_c);
  EXPECT_EQ(cdbLengthOf(nullCdb), 0);
}

TEST_F(CmdTest, SetCdbKeepsBytesBeyondTheNewLength) {
  const unsigned char read10[10] = {0x28, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  QXScsiCmd cmd(read10, 10, nullptr, 0, QXScsi::noData_c);
  cmd.setCDB(inquiry, 6);
  std::vector<unsigned char> expected = {0x12, 0, 0, 0, 0x24, 0, 6, 7, 8, 9, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(cdbOf(cmd), expected);
  EXPECT_EQ(cdbLengthOf(cmd), 6);
  unsigned char big[40] = {};
  big[15] = 0xEE;
  big[16] = 0xDD;
  cmd.setCDB(big, 40);
  EXPECT_EQ(cdbLengthOf(cmd), 16);
  EXPECT_EQ(cdbOf(cmd)[15], 0xEE);
}

TEST_F(CmdTest, ConstructorFromArgsCopiesRequestAndLeavesArgsAlone) {
  QXScsiAnyArgs args(inquiry, 6, buffer, sizeof buffer, QXScsi::dataIn_c);
  args.errorCode(3);
  CmdPtr cmd(new QXScsiCmd(args));
  std::vector<unsigned char> expected(16, 0);
  std::copy(inquiry, inquiry + 6, expected.begin());
  EXPECT_EQ(cdbOf(*cmd), expected);
  EXPECT_EQ(cdbLengthOf(*cmd), 6);
  const unsigned char* data = nullptr;
  unsigned long length = 0;
  int direction = -1;
  cmd->getCmdData(data, length, direction);
  EXPECT_EQ(data, buffer);
  EXPECT_EQ(length, sizeof buffer);
  EXPECT_EQ(direction, QXScsi::dataIn_c);
  EXPECT_EQ(args.errorCode(), 3);
  EXPECT_FALSE(args.valid());
}

TEST_F(CmdTest, ArgsWritesRequestBackAndClearsError) {
  const unsigned char read10[10] = {0x28, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  CmdPtr cmd(new QXScsiCmd(read10, 10, buffer, 20, QXScsi::dataOut_c));
  cmd->scsiStatus(2);
  QXScsiArgs out(0x00, 6);
  out.errorCode(9);
  cmd->args(out);
  EXPECT_EQ(out.errorCode(), 0);
  EXPECT_EQ(out.operationCode(), 0x28);
  unsigned char* data = nullptr;
  unsigned long length = 0;
  int direction = -1;
  out.getCmdData(data, length, direction);
  EXPECT_EQ(data, buffer);
  EXPECT_EQ(length, 20u);
  EXPECT_EQ(direction, QXScsi::dataOut_c);
}

TEST_F(CmdTest, SetSenseDataCopiesOnlyGivenBytes) {
  QXScsiCmd cmd(inquiry, 6, nullptr, 0, QXScsi::noData_c);
  std::vector<unsigned char> all(255, 0xAA);
  cmd.setSenseData(all.data(), all.size());
  std::vector<unsigned char> fixed(18);
  for (int i = 0; i < 18; ++i) fixed[i] = static_cast<unsigned char>(i);
  cmd.setSenseData(fixed.data(), fixed.size());
  std::vector<unsigned char> expected(255, 0xAA);
  std::copy(fixed.begin(), fixed.end(), expected.begin());
  EXPECT_EQ(senseOf(cmd), expected);
}

TEST_F(CmdTest, SenseLongerThan255IsCut) {
  QXScsiCmd cmd(inquiry, 6, nullptr, 0, QXScsi::noData_c);
  std::vector<unsigned char> sense(300);
  for (size_t i = 0; i < sense.size(); ++i) sense[i] = static_cast<unsigned char>(i + 1);
  cmd.setSenseData(sense.data(), sense.size());
  EXPECT_EQ(senseOf(cmd), std::vector<unsigned char>(sense.begin(), sense.begin() + 255));
  std::vector<unsigned char> exact(255, 0x55);
  cmd.setSenseData(exact.data(), exact.size());
  EXPECT_EQ(senseOf(cmd), exact);
  cmd.setSenseData(nullptr, 100);  // a missing source copies nothing
  EXPECT_EQ(senseOf(cmd), exact);
}

TEST_F(CmdTest, NullMessageKeepsEarlierMessage) {
  QXScsiCmd cmd(inquiry, 6, nullptr, 0, QXScsi::noData_c);
  cmd.implementationError(-2, "device gone");
  cmd.implementationError(-5, nullptr);
  std::string message;
  cmd.implementationErrorMsg(message);
  EXPECT_EQ(cmd.implementationError(), -5);
  EXPECT_EQ(message, "device gone");
  cmd.implementationError(-6, "");
  cmd.implementationErrorMsg(message);
  EXPECT_EQ(message, "");
}

TEST_F(CmdTest, AddressIsCopiedWithAllMarks) {
  QXScsiCmd cmd(inquiry, 6, nullptr, 0, QXScsi::noData_c);
  QXScsiAddress other(QXScsiAddress::otherMethod);
  other.orByte(7, 0x11);
  other.valid(false);
  cmd.setScsiAddress(other);
  QXScsiAddress out;
  cmd.getScsiAddress(out);
  EXPECT_FALSE(out.valid());
  EXPECT_TRUE(out.defined());
  EXPECT_EQ(out.addressMethod(), QXScsiAddress::otherMethod);
  EXPECT_EQ(out.addressByte(7), 0x11);
}

TEST_F(CmdTest, InitAgainResetsWithoutLeakingTheSenseBuffer) {
  QXScsiCmd cmd(inquiry, 6, buffer, 4, QXScsi::dataIn_c);
  unsigned char sense[18] = {0x70};
  cmd.setSenseData(sense, sizeof sense);
  cmd.scsiStatus(2);
  cmd.setTimeout(60);
  cmd.incompleteSense(true);
  cmd.init();  // the sanitizer build reports a leak if the old buffer is dropped
  EXPECT_EQ(senseOf(cmd), std::vector<unsigned char>(255, 0));
  EXPECT_EQ(cdbLengthOf(cmd), 0);
  EXPECT_EQ(cmd.scsiStatus(), 0);
  EXPECT_EQ(cmd.timeout(), 0u);
  EXPECT_FALSE(cmd.incompleteSense());
}

TEST_F(CmdTest, RecordBuiltOverDirtyMemoryStartsZeroFilled) {
  // Heap blocks are reused: a record must clear its sense buffer and CDB itself.
  alignas(QXScsiCmd) unsigned char raw[sizeof(QXScsiCmd)];
  std::memset(raw, 0xAA, sizeof raw);
  QXScsiCmd* cmd = new (raw) QXScsiCmd(inquiry, 6, buffer, sizeof buffer, QXScsi::dataIn_c);
  EXPECT_EQ(senseOf(*cmd), std::vector<unsigned char>(255, 0));
  std::vector<unsigned char> expected(16, 0);
  std::copy(inquiry, inquiry + 6, expected.begin());
  EXPECT_EQ(cdbOf(*cmd), expected);
  EXPECT_EQ(cmd->scsiStatus(), 0);
  EXPECT_FALSE(cmd->incompleteSense());
  cmd->~QXScsiCmd();
}

TEST_F(CmdTest, FreeCmdAcceptsNull) {
  QXScsiFreeCmd(nullptr);
  QXScsiFreeCmd(new QXScsiCmd(inquiry, 6, nullptr, 0, QXScsi::noData_c));
}

}  // namespace
