// Tape fixed-block mode, READ BLOCK LIMITS, MODE SENSE/SELECT(6), LOAD UNLOAD and ERASE, and the
// changer's import/export elements.
#include "engine_helpers.h"
#include "file_fakes.h"

namespace qxscsi::backends::emulated {
namespace {

using namespace testing;

// INVALID FIELD IN PARAMETER LIST pointing at parameter byte `index`.
Bytes badParameter(unsigned index) {
  Bytes s = sense(0x05, 0x26, 0x00);
  s[15] = 0x80;
  s[17] = static_cast<unsigned char>(index);
  return s;
}

class TapeModesTest : public ::testing::Test {
 protected:
  std::unique_ptr<Device> tape = makeDevice("emulated:tape?capacity=100");
  Bytes buffer;

  CommandResult select(Bytes list) {
    return out(*tape, {0x15, 0x10, 0, 0, static_cast<unsigned char>(list.size()), 0}, list);
  }
  CommandResult setBlock(uint32_t length) {
    return select({0, 0, 0, 8, 0, 0, 0, 0, 0, static_cast<unsigned char>(length >> 16),
                   static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length)});
  }
  CommandResult rewind() { return none(*tape, cdb6(0x01, 0, 0)); }
};

TEST_F(TapeModesTest, ReadBlockLimitsGivesTheLargestRecordTheTapeHolds) {
  CommandResult r = in(*tape, cdb6(0x05, 0, 0), buffer, 6);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(buffer, (Bytes{0, 0, 0, 100, 0, 1}));
  EXPECT_EQ(in(*tape, cdb6(0x05, 1, 0), buffer, 6).sense[15], 0xC8);  // MLOC refused, bit 0
  std::unique_ptr<Device> big = makeDevice("emulated:tape?capacity=268435456");
  in(*big, cdb6(0x05, 0, 0), buffer, 6);
  EXPECT_EQ(buffer, (Bytes{0, 0xFF, 0xFF, 0xFF, 0, 1}));
}

TEST_F(TapeModesTest, ModeSenseShowsTheBlockLengthModeSelectSets) {
  in(*tape, {0x1A, 0, 0, 0, 255, 0}, buffer, 255);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 13),
            (Bytes{11, 0, 0x10, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0xEE}));
  ASSERT_EQ(setBlock(10).status, 0);
  CommandResult r = in(*tape, {0x1A, 0, 0x3F, 0, 12, 0}, buffer, 12);
  EXPECT_EQ(r.transferred, 12u);
  EXPECT_EQ(buffer, (Bytes{11, 0, 0x10, 8, 0, 0, 0, 0, 0, 0, 0, 10}));
  in(*tape, {0x1A, 0x08, 0, 0, 255, 0}, buffer, 4);  // DBD: the header alone
  EXPECT_EQ(buffer, (Bytes{3, 0, 0x10, 0}));
  in(*tape, {0x1A, 0, 0x40, 0, 255, 0}, buffer, 12);  // changeable: the block length
  EXPECT_EQ(Bytes(buffer.begin() + 9, buffer.end()), (Bytes{0xFF, 0xFF, 0xFF}));
  in(*tape, {0x1A, 0, 0x80, 0, 255, 0}, buffer, 12);  // default: variable
  EXPECT_EQ(Bytes(buffer.begin() + 9, buffer.end()), (Bytes{0, 0, 0}));
  EXPECT_EQ(in(*tape, {0x1A, 0, 0xC0, 0, 255, 0}, buffer, 12).sense, sense(0x05, 0x39, 0x00));
  EXPECT_EQ(in(*tape, {0x1A, 0, 0x10, 0, 255, 0}, buffer, 12).sense[12], 0x24);  // no such page
  ASSERT_EQ(setBlock(0).status, 0);  // back to variable-block mode
  in(*tape, {0x1A, 0, 0, 0, 12, 0}, buffer, 12);
  EXPECT_EQ(buffer[11], 0);
}

TEST_F(TapeModesTest, ModeSelectRefusesWhatItCannotSet) {
  struct Case {
    const char* what;
    Bytes list;
    Bytes sense;
  } cases[] = {
      {"short header", {0, 0}, sense(0x05, 0x1A, 0x00)},
      {"descriptor length 4", {0, 0, 0, 4, 0, 0, 0, 0}, badParameter(3)},
      {"descriptor cut short", {0, 0, 0, 8, 0, 0, 0, 0}, sense(0x05, 0x1A, 0x00)},
      {"a mode page", {0, 0, 0, 0, 0x10, 0x0E}, badParameter(4)},
      {"density code", {0, 0, 0, 8, 0x42, 0, 0, 0, 0, 0, 0, 10}, badParameter(4)},
      {"block beyond the limit", {0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 101}, badParameter(9)},
  };
  for (const Case& c : cases) {
    CommandResult r = select(c.list);
    EXPECT_EQ(r.sense, c.sense) << c.what;
  }
  Bytes list = {0, 0, 0, 0};
  EXPECT_EQ(out(*tape, {0x15, 0x11, 0, 0, 4, 0}, list).sense[12], 0x24);  // SP
  in(*tape, {0x1A, 0, 0, 0, 12, 0}, buffer, 12);
  EXPECT_EQ(buffer[11], 0);  // nothing was set
}

TEST_F(TapeModesTest, FixedBlockWritesAndReadsMoveWholeBlocks) {
  Bytes data(3 * 4);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i);
  EXPECT_EQ(out(*tape, cdb6(0x0A, 1, 3), data).sense[15], 0xC8);  // variable mode: FIXED refused
  ASSERT_EQ(setBlock(4).status, 0);
  ASSERT_EQ(out(*tape, cdb6(0x0A, 1, 3), data).status, 0);
  Bytes odd = {9, 9};
  ASSERT_EQ(out(*tape, cdb6(0x0A, 0, 2), odd).status, 0);  // variable writes still work
  rewind();
  CommandResult r = in(*tape, cdb6(0x08, 1, 2), buffer, 8);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(buffer, Bytes(data.begin(), data.begin() + 8));
  // The third block reads, the 2-byte record is of the wrong length: ILI, residue in blocks.
  r = in(*tape, cdb6(0x08, 1, 3), buffer, 12);
  Bytes ili = withInfo(sense(0x00, 0x00, 0x00), 2);
  ili[2] |= 0x20;
  EXPECT_EQ(r.sense, ili);
  EXPECT_EQ(r.transferred, 4u);
  r = in(*tape, cdb6(0x08, 1, 2), buffer, 8);  // at end of data
  EXPECT_EQ(r.sense, withInfo(sense(0x08, 0x00, 0x05), 2));
  EXPECT_EQ(in(*tape, cdb6(0x08, 3, 1), buffer, 4).sense[15], 0xC9);  // SILI with FIXED, bit 1
}

TEST_F(TapeModesTest, FixedBlockWritesStopAtTheEndOfThePartition) {
  ASSERT_EQ(setBlock(40).status, 0);
  Bytes data(3 * 40, 7);
  CommandResult r = out(*tape, cdb6(0x0A, 1, 3), data);
  Bytes overflow = withInfo(sense(0x0D, 0x00, 0x02), 1);
  overflow[2] |= 0x40;  // EOM
  EXPECT_EQ(r.sense, overflow);
  EXPECT_EQ(r.transferred, 80u);
  rewind();
  EXPECT_EQ(in(*tape, cdb6(0x08, 1, 2), buffer, 80).status, 0);
}

TEST_F(TapeModesTest, UnloadedTapeIsNotReadyUntilLoaded) {
  Bytes data(5, 1);
  out(*tape, cdb6(0x0A, 0, 5), data);
  ASSERT_EQ(none(*tape, {0x1B, 0, 0, 0, 0x00, 0}).status, 0);  // unload
  for (const Bytes& cdb : {Bytes{0, 0, 0, 0, 0, 0}, cdb6(0x01, 0, 0), cdb6(0x10, 0, 1), cdb6(0x19, 0, 0)})
    EXPECT_EQ(none(*tape, cdb).sense, sense(0x02, 0x3A, 0x00)) << int(cdb[0]);
  EXPECT_EQ(in(*tape, cdb6(0x08, 0, 5), buffer, 5).sense, sense(0x02, 0x3A, 0x00));
  EXPECT_EQ(in(*tape, cdb6(0x05, 0, 0), buffer, 6).status, 0);       // the drive still answers
  EXPECT_EQ(none(*tape, {0x1B, 0, 0, 0, 0x04, 0}).sense[15], 0xCA);  // EOT refused
  ASSERT_EQ(none(*tape, {0x1B, 1, 0, 0, 0x01, 0}).status, 0);        // load, IMMED
  EXPECT_EQ(in(*tape, cdb6(0x08, 0, 5), buffer, 5).status, 0);       // from the beginning
  EXPECT_EQ(buffer, data);
}

TEST_F(TapeModesTest, EraseEndsTheDataWhereTheTapeStands) {
  Bytes a(5, 'a'), b(5, 'b');
  out(*tape, cdb6(0x0A, 0, 5), a);
  out(*tape, cdb6(0x0A, 0, 5), b);
  rewind();
  none(*tape, cdb6(0x11, 0, 1));                       // past the first record
  ASSERT_EQ(none(*tape, cdb6(0x19, 1, 0)).status, 0);  // long erase
  EXPECT_EQ(in(*tape, cdb6(0x08, 0, 5), buffer, 5).sense[2] & 0x0F, 0x08);
  Bytes full(95, 'c');
  EXPECT_EQ(out(*tape, cdb6(0x0A, 0, 95), full).status, 0);  // the erased bytes are free again
  EXPECT_EQ(none(*tape, cdb6(0x19, 4, 0)).sense[12], 0x24);
}

TEST(ChangerPortsTest, ImportExportElementsTakeAndGiveMedia) {
  std::unique_ptr<Device> changer = makeDevice("emulated:changer?slots=2&ports=2");
  Bytes buffer;
  auto status = [&](unsigned type) {
    EXPECT_EQ(
        in(*changer, {0xB8, static_cast<unsigned char>(type), 0, 0, 0, 9, 0, 0, 1, 0, 0, 0}, buffer, 256)
            .status,
        0);
    return buffer;
  };
  Bytes ports = status(3);
  // Header: first 0200h, 2 elements, 40 bytes; one page of type 3 with 16-byte descriptors.
  EXPECT_EQ(Bytes(ports.begin(), ports.begin() + 16),
            (Bytes{0x02, 0x00, 0, 2, 0, 0, 0, 40, 3, 0, 0, 16, 0, 0, 0, 32}));
  EXPECT_EQ(Bytes(ports.begin() + 16, ports.begin() + 19),
            (Bytes{0x02, 0x00, 0x38}));  // empty, ACCESS, EX/INENAB
  EXPECT_EQ(Bytes(ports.begin() + 32, ports.begin() + 35), (Bytes{0x02, 0x01, 0x38}));
  // Slot 1000h to port 0201h (export), then port to the drive and back to the slot.
  auto move = [&](unsigned from, unsigned to) {
    return none(*changer,
                {0xA5, 0, 0, 0, static_cast<unsigned char>(from >> 8), static_cast<unsigned char>(from),
                 static_cast<unsigned char>(to >> 8), static_cast<unsigned char>(to), 0, 0, 0, 0});
  };
  ASSERT_EQ(move(0x1000, 0x0201).status, 0);
  ports = status(3);
  EXPECT_EQ(ports[32 + 2], 0x39);                                                       // full
  EXPECT_EQ(Bytes(ports.begin() + 41, ports.begin() + 44), (Bytes{0x80, 0x10, 0x00}));  // from slot 1000h
  EXPECT_EQ(move(0x0201, 0x1001).sense, sense(0x05, 0x3B, 0x0D));                       // slot 1001h is full
  ASSERT_EQ(move(0x0201, 0x0100).status, 0);
  ASSERT_EQ(move(0x0100, 0x1000).status, 0);
  EXPECT_EQ(status(3)[32 + 2], 0x38);
  EXPECT_EQ(status(0)[3], 6);  // all elements: 1 transport, 1 drive, 2 ports, 2 slots
}

}  // namespace
}  // namespace qxscsi::backends::emulated
