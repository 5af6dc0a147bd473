// The emulated tape drive: records, filemarks, positioning and the sense a drive reports.
#include "engine_helpers.h"

namespace qxscsi::backends::emulated {
namespace {

using namespace testing;

class EngineTapeTest : public ::testing::Test {
 protected:
  std::unique_ptr<Device> tape = makeDevice("emulated:tape?capacity=100");
  Bytes buffer;

  static Bytes cdb6(unsigned char op, unsigned char byte1, uint32_t count) {
    return {op,
            byte1,
            static_cast<unsigned char>(count >> 16),
            static_cast<unsigned char>(count >> 8),
            static_cast<unsigned char>(count),
            0};
  }
  CommandResult write(const Bytes& record) {
    Bytes data = record;
    return out(*tape, cdb6(0x0A, 0, static_cast<uint32_t>(data.size())), data);
  }
  CommandResult read(uint32_t length, bool sili = false) {
    return in(*tape, cdb6(0x08, sili ? 2 : 0, length), buffer, length);
  }
  CommandResult fileMarks(uint32_t n) { return none(*tape, cdb6(0x10, 0, n)); }
  CommandResult space(unsigned code, int32_t count) {
    return none(*tape, cdb6(0x11, code, static_cast<uint32_t>(count) & 0xFFFFFF));
  }
  CommandResult rewind() { return none(*tape, {0x01, 0, 0, 0, 0, 0}); }
  uint32_t position() {
    in(*tape, {0x34, 0, 0, 0, 0, 0, 0, 0, 0, 0}, buffer, 20);
    return (uint32_t(buffer[4]) << 24) | (buffer[5] << 16) | (buffer[6] << 8) | buffer[7];
  }
  static Bytes withInfo(Bytes s, uint32_t info) {
    s[0] |= 0x80;
    s[3] = static_cast<unsigned char>(info >> 24);
    s[4] = static_cast<unsigned char>(info >> 16);
    s[5] = static_cast<unsigned char>(info >> 8);
    s[6] = static_cast<unsigned char>(info);
    return s;
  }

  // Two records of 10 and 20 bytes, a filemark, a record of 5 bytes; rewound.
  void layOut() {
    write(Bytes(10, 'a'));
    write(Bytes(20, 'b'));
    fileMarks(1);
    write(Bytes(5, 'c'));
    rewind();
  }
};

TEST_F(EngineTapeTest, RecordsReadBackWithTheirOwnLengths) {
  layOut();
  CommandResult o = read(10);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(buffer, Bytes(10, 'a'));
  o = read(20);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(buffer, Bytes(20, 'b'));
}

TEST_F(EngineTapeTest, ShortRecordSetsIliWithPositiveResidueUnlessSuppressed) {
  layOut();
  CommandResult o = read(16);
  EXPECT_EQ(o.status, 2);
  Bytes s = withInfo(sense(0x00, 0x00, 0x00), 6);
  s[2] |= 0x20;
  EXPECT_EQ(o.sense, s);
  EXPECT_EQ(o.transferred, 10u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 11),
            (Bytes{'a', 'a', 'a', 'a', 'a', 'a', 'a', 'a', 'a', 'a', 0xEE}));
  rewind();
  o = read(16, true);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(position(), 1u);
}

TEST_F(EngineTapeTest, LongRecordSetsIliWithNegativeResidueEvenWithSili) {
  layOut();
  read(10);
  CommandResult o = read(8, true);
  EXPECT_EQ(o.status, 2);
  Bytes s = withInfo(sense(0x00, 0x00, 0x00), static_cast<uint32_t>(-12));
  s[2] |= 0x20;
  EXPECT_EQ(o.sense, s);
  EXPECT_EQ(buffer, Bytes(8, 'b'));
  EXPECT_EQ(position(), 2u);  // the rest of the record is skipped
}

TEST_F(EngineTapeTest, ReadingAFilemarkStopsPastItWithFilemarkSense) {
  layOut();
  space(0, 2);
  CommandResult o = read(50);
  Bytes s = withInfo(sense(0x00, 0x00, 0x01), 50);
  s[2] |= 0x80;
  EXPECT_EQ(o.sense, s);
  EXPECT_EQ(o.transferred, 0u);
  EXPECT_EQ(position(), 3u);
  EXPECT_EQ(read(5).status, 0);
  EXPECT_EQ(buffer, Bytes(5, 'c'));
}

TEST_F(EngineTapeTest, ReadingAtEndOfDataIsBlankCheck) {
  layOut();
  space(3, 0);
  EXPECT_EQ(position(), 4u);
  EXPECT_EQ(read(7).sense, withInfo(sense(0x08, 0x00, 0x05), 7));
}

TEST_F(EngineTapeTest, SpaceBlocksStopsAtFilemarksBothWays) {
  layOut();
  CommandResult o = space(0, 5);
  Bytes s = withInfo(sense(0x00, 0x00, 0x01), 3);  // two blocks spaced, three left
  s[2] |= 0x80;
  EXPECT_EQ(o.sense, s);
  EXPECT_EQ(position(), 3u);
  o = space(0, -1);  // backwards onto the filemark: stops on its near side
  s = withInfo(sense(0x00, 0x00, 0x01), 1);
  s[2] |= 0x80;
  EXPECT_EQ(o.sense, s);
  EXPECT_EQ(position(), 2u);
  EXPECT_EQ(space(0, -2).status, 0);
  EXPECT_EQ(position(), 0u);
  o = space(0, -1);
  s = withInfo(sense(0x00, 0x00, 0x04), 1);
  s[2] |= 0x40;
  EXPECT_EQ(o.sense, s);
}

TEST_F(EngineTapeTest, SpaceFilemarksForwardAndBackward) {
  layOut();
  EXPECT_EQ(space(1, 1).status, 0);
  EXPECT_EQ(position(), 3u);
  EXPECT_EQ(space(1, -1).status, 0);
  EXPECT_EQ(position(), 2u);      // on the beginning side of the mark
  CommandResult o = space(1, 2);  // one mark ahead, then end of data
  EXPECT_EQ(o.sense, withInfo(sense(0x08, 0x00, 0x05), 1));
  EXPECT_EQ(position(), 4u);
  EXPECT_EQ(space(0, 0).status, 0);
  EXPECT_EQ(space(2, 1).sense[12], 0x24);  // sequential filemarks are not offered
}

TEST_F(EngineTapeTest, WritingInTheMiddleEndsTheData) {
  layOut();
  read(10);
  write(Bytes(3, 'z'));
  EXPECT_EQ(position(), 2u);
  EXPECT_EQ(read(1).sense[2], 0x08);  // blank check: the rest is gone
  rewind();
  read(10);
  EXPECT_EQ(read(3).status, 0);
  EXPECT_EQ(buffer, Bytes(3, 'z'));
}

TEST_F(EngineTapeTest, FullMediumIsVolumeOverflowAndKeepsWhatFits) {
  EXPECT_EQ(write(Bytes(60, 1)).status, 0);
  CommandResult o = write(Bytes(41, 2));
  Bytes s = withInfo(sense(0x0D, 0x00, 0x02), 41);
  s[2] |= 0x40;
  EXPECT_EQ(o.sense, s);
  EXPECT_EQ(o.transferred, 0u);
  EXPECT_EQ(write(Bytes(40, 3)).status, 0);  // exactly full
  rewind();
  write(Bytes(40, 4));  // overwriting from the start frees the rest
  EXPECT_EQ(write(Bytes(60, 5)).status, 0);
  EXPECT_EQ(write(Bytes(1, 6)).status, 2);
}

TEST_F(EngineTapeTest, ReadPositionShortFormByteForByte) {
  CommandResult o = in(*tape, {0x34, 0, 0, 0, 0, 0, 0, 0, 0, 0}, buffer, 20);
  EXPECT_EQ(o.transferred, 20u);
  Bytes expected(20, 0);
  expected[0] = 0x80;  // BOP
  EXPECT_EQ(buffer, expected);
  layOut();
  space(1, 1);
  in(*tape, {0x34, 0, 0, 0, 0, 0, 0, 0, 0, 0}, buffer, 20);
  expected[0] = 0;
  expected[7] = 3;
  expected[11] = 3;
  EXPECT_EQ(buffer, expected);
  EXPECT_EQ(in(*tape, {0x34, 6, 0, 0, 0, 0, 0, 0, 32, 0}, buffer, 32).sense[12], 0x24);
  o = in(*tape, {0x34, 0, 0, 0, 0, 0, 0, 0, 0, 0}, buffer, 19);  // was refused: now 19 bytes arrive
  EXPECT_TRUE(o.executed);
  EXPECT_EQ(o.transferred, 19u);
  EXPECT_EQ(o.beyond, 1u);
}

TEST_F(EngineTapeTest, FixedBlockModeAndSetmarksAreInvalidFields) {
  Bytes s = sense(0x05, 0x24, 0x00);
  s[15] = 0xC8;  // SKSV, C/D, BPV, bit 0
  s[17] = 1;
  EXPECT_EQ(none(*tape, cdb6(0x08, 1, 4)).sense, s);
  EXPECT_EQ(none(*tape, cdb6(0x0A, 1, 4)).sense, s);
  EXPECT_EQ(none(*tape, cdb6(0x10, 2, 1)).sense[12], 0x24);
}

TEST_F(EngineTapeTest, ZeroLengthTransfersDoNothing) {
  layOut();
  EXPECT_EQ(read(0).status, 0);
  EXPECT_EQ(write(Bytes()).status, 0);
  EXPECT_EQ(fileMarks(0).status, 0);
  EXPECT_EQ(position(), 0u);
  EXPECT_EQ(read(10).status, 0);  // nothing was cut off
}

TEST_F(EngineTapeTest, RequestSenseAfterAFilemarkRead) {
  layOut();
  space(0, 2);
  read(4);
  in(*tape, {0x03, 0, 0, 0, 18, 0}, buffer, 18);
  Bytes s = withInfo(sense(0x00, 0x00, 0x01), 4);
  s[2] |= 0x80;
  EXPECT_EQ(buffer, s);
}

}  // namespace
}  // namespace qxscsi::backends::emulated
