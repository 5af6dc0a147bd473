// The emulated disk's block commands: each form of READ, WRITE, VERIFY and SYNCHRONIZE CACHE,
// READ CAPACITY(16), START STOP UNIT and the block VPD pages, byte for byte.
#include "disk.h"
#include "engine_helpers.h"

namespace qxscsi::backends::emulated {
namespace {

using namespace testing;

constexpr unsigned char in_c = 0, out_c = 1, none_c = 2;

// A CDB of `length` bytes: operation code, then (offset, value) bytes.
Bytes cdbOf(unsigned length, unsigned char op, std::initializer_list<std::pair<unsigned, unsigned char>> at) {
  Bytes c(length, 0);
  c[0] = op;
  for (const auto& [i, v] : at) c[i] = v;
  return c;
}

Bytes senseWith(unsigned char key, unsigned char asc, unsigned char ascq, int byte = -1, int bit = -1) {
  Bytes s = sense(key, asc, ascq);
  if (byte >= 0) {
    s[15] = 0xC0 | (bit >= 0 ? 0x08 | bit : 0);
    s[17] = static_cast<unsigned char>(byte);
  }
  return s;
}

class EngineBlockTest : public ::testing::Test {
 protected:
  std::unique_ptr<Device> device = makeDevice("emulated:disk?capacity=300&block=512");
  Disk& disk = static_cast<Disk&>(*device);
  Bytes buffer;

  CommandResult run(const Bytes& cdb, unsigned char direction, Bytes& data) {
    return device->execute(
        0, Command{cdb.data(), static_cast<unsigned>(cdb.size()), direction, data.data(), data.size()});
  }

  void fillMedium() {
    Bytes& m = disk.medium(0);
    for (size_t i = 0; i < m.size(); ++i) m[i] = static_cast<unsigned char>(i / 512 + i % 251);
  }
  Bytes blocks(uint64_t lba, uint64_t n) {
    const Bytes& m = disk.medium(0);
    return Bytes(m.begin() + lba * 512, m.begin() + (lba + n) * 512);
  }
};

TEST_F(EngineBlockTest, ReadsOfEveryFormAndTheirBoundaries) {
  fillMedium();
  struct Case {
    const char* what;
    Bytes cdb;
    uint64_t lba, blocks;  // what should arrive; blocks 0 with ok false: the sense below
    bool ok;
    Bytes sense;
  };
  const Bytes outOfRange = sense(0x05, 0x21, 0x00);
  const Case cases[] = {
      {"READ(6) one block", cdbOf(6, 0x08, {{3, 7}, {4, 1}}), 7, 1, true, {}},
      {"READ(6) 21-bit LBA", cdbOf(6, 0x08, {{1, 0x00}, {2, 0x01}, {3, 0x00}, {4, 2}}), 256, 2, true, {}},
      {"READ(6) 0 means 256 blocks", cdbOf(6, 0x08, {{3, 44}, {4, 0}}), 44, 256, true, {}},
      {"READ(6) 256 blocks past the end", cdbOf(6, 0x08, {{3, 45}, {4, 0}}), 0, 0, false, outOfRange},
      {"READ(6) reserved bits", cdbOf(6, 0x08, {{1, 0x20}, {4, 1}}), 0, 0, false,
       senseWith(0x05, 0x24, 0x00, 1, 7)},
      {"READ(10) FUA and DPO", cdbOf(10, 0x28, {{1, 0x18}, {5, 9}, {8, 3}}), 9, 3, true, {}},
      {"READ(10) 0 blocks moves nothing", cdbOf(10, 0x28, {{5, 9}}), 9, 0, true, {}},
      {"READ(10) RARC is not offered", cdbOf(10, 0x28, {{1, 0x04}, {8, 1}}), 0, 0, false,
       senseWith(0x05, 0x24, 0x00, 1, 2)},
      {"READ(12) last block", cdbOf(12, 0xA8, {{4, 0x01}, {5, 0x2B}, {9, 1}}), 299, 1, true, {}},
      {"READ(12) one past the last", cdbOf(12, 0xA8, {{4, 0x01}, {5, 0x2B}, {9, 2}}), 0, 0, false,
       outOfRange},
      {"READ(16) last two blocks", cdbOf(16, 0x88, {{8, 0x01}, {9, 0x2A}, {13, 2}}), 298, 2, true, {}},
      {"READ(16) LBA beyond 32 bits", cdbOf(16, 0x88, {{5, 0x01}, {13, 1}}), 0, 0, false, outOfRange},
      {"READ(16) LBA + count wraps 64 bits",
       cdbOf(
           16, 0x88,
           {{2, 0xFF}, {3, 0xFF}, {4, 0xFF}, {5, 0xFF}, {6, 0xFF}, {7, 0xFF}, {8, 0xFF}, {9, 0xFF}, {13, 2}}),
       0, 0, false, outOfRange},
      {"READ(16) more than the maximum transfer length", cdbOf(16, 0x88, {{11, 0x01}}), 0, 0, false,
       senseWith(0x05, 0x24, 0x00, 10)},
      {"READ(16) protection", cdbOf(16, 0x88, {{1, 0x40}, {13, 1}}), 0, 0, false,
       senseWith(0x05, 0x24, 0x00, 1, 7)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes data(300 * 512, 0xEE);
    CommandResult o = run(c.cdb, in_c, data);
    ASSERT_TRUE(o.executed) << o.refusal;
    if (!c.ok) {
      EXPECT_EQ(o.status, 2);
      EXPECT_EQ(o.sense, c.sense);
      EXPECT_EQ(o.transferred, 0u);
      continue;
    }
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.transferred, c.blocks * 512);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + c.blocks * 512), blocks(c.lba, c.blocks));
    EXPECT_EQ(data[c.blocks * 512], 0xEE);
  }
}

TEST_F(EngineBlockTest, WritesOfEveryFormLandWhereTheyPoint) {
  struct Case {
    const char* what;
    Bytes cdb;
    uint64_t lba, blocks;
  };
  const Case cases[] = {
      {"WRITE(6)", cdbOf(6, 0x0A, {{3, 5}, {4, 2}}), 5, 2},
      {"WRITE(6) 0 means 256", cdbOf(6, 0x0A, {{3, 40}, {4, 0}}), 40, 256},
      {"WRITE(10) FUA", cdbOf(10, 0x2A, {{1, 0x08}, {5, 20}, {8, 1}}), 20, 1},
      {"WRITE(12)", cdbOf(12, 0xAA, {{5, 30}, {9, 3}}), 30, 3},
      {"WRITE(16) last block", cdbOf(16, 0x8A, {{8, 0x01}, {9, 0x2B}, {13, 1}}), 299, 1},
  };
  unsigned char seed = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes data(c.blocks * 512);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * seed + seed);
    ++seed;
    CommandResult o = run(c.cdb, out_c, data);
    ASSERT_EQ(o.status, 0);
    EXPECT_EQ(o.transferred, data.size());
    EXPECT_EQ(blocks(c.lba, c.blocks), data);
  }
  Bytes untouched = disk.medium(0);
  Bytes data(2 * 512, 0x99);
  EXPECT_EQ(run(cdbOf(16, 0x8A, {{8, 0x01}, {9, 0x2B}, {13, 2}}), out_c, data).sense,
            sense(0x05, 0x21, 0x00));
  EXPECT_EQ(run(cdbOf(12, 0xAA, {{1, 0x01}, {9, 2}}), out_c, data).sense, senseWith(0x05, 0x24, 0x00, 1, 0));
  EXPECT_EQ(disk.medium(0), untouched);
}

TEST_F(EngineBlockTest, VerifyChecksTheRangeOrComparesTheData) {
  fillMedium();
  Bytes nothing;
  // BYTCHK 0: the range alone.
  EXPECT_EQ(run(cdbOf(10, 0x2F, {{5, 10}, {8, 5}}), none_c, nothing).status, 0);
  EXPECT_EQ(run(cdbOf(10, 0x2F, {{4, 0x01}, {5, 0x2B}, {8, 2}}), none_c, nothing).sense,
            sense(0x05, 0x21, 0x00));
  EXPECT_EQ(run(cdbOf(16, 0x8F, {{8, 0x01}, {9, 0x2B}, {13, 1}}), none_c, nothing).status, 0);
  EXPECT_EQ(run(cdbOf(16, 0x8F, {{8, 0x01}, {9, 0x2C}}), none_c, nothing).sense, sense(0x05, 0x21, 0x00));
  // BYTCHK 1: the data out against the medium.
  Bytes same = blocks(10, 2);
  CommandResult o = run(cdbOf(10, 0x2F, {{1, 0x02}, {5, 10}, {8, 2}}), out_c, same);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.transferred, 1024u);
  Bytes differs = same;
  differs[700] ^= 0x01;
  o = run(cdbOf(16, 0x8F, {{1, 0x02}, {9, 10}, {13, 2}}), out_c, differs);
  Bytes miscompare = sense(0x0E, 0x1D, 0x00);
  miscompare[0] = 0xF0;  // VALID: the information field is the offset of the first difference
  miscompare[5] = 0x02;
  miscompare[6] = 0xBC;  // 700
  EXPECT_EQ(o.sense, miscompare);
  EXPECT_EQ(blocks(10, 2), same);  // a verify never writes
  // BYTCHK 10b and 11b are not offered.
  EXPECT_EQ(run(cdbOf(10, 0x2F, {{1, 0x04}, {8, 1}}), none_c, nothing).sense,
            senseWith(0x05, 0x24, 0x00, 1, 2));
  EXPECT_EQ(run(cdbOf(10, 0x2F, {{1, 0x06}, {8, 1}}), none_c, nothing).sense,
            senseWith(0x05, 0x24, 0x00, 1, 2));
  // Compare data shorter than the blocks cannot complete.
  Bytes half(512, 0);
  EXPECT_EQ(run(cdbOf(10, 0x2F, {{1, 0x02}, {8, 2}}), out_c, half).sense, sense(0x05, 0x24, 0x00));
}

TEST_F(EngineBlockTest, ReadCapacity16ByteForByte) {
  CommandResult o = in(*device, cdbOf(16, 0x9E, {{1, 0x10}, {13, 32}}), buffer, 32);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.transferred, 32u);
  Bytes expected(32, 0);
  expected[6] = 0x01;
  expected[7] = 0x2B;   // last LBA 299
  expected[10] = 0x02;  // 512 bytes
  EXPECT_EQ(buffer, expected);
  o = in(*device, cdbOf(16, 0x9E, {{1, 0x10}, {13, 12}}), buffer, 12);  // allocation length cuts it
  EXPECT_EQ(o.transferred, 12u);
  EXPECT_EQ(buffer, Bytes(expected.begin(), expected.begin() + 12));
  EXPECT_EQ(in(*device, cdbOf(16, 0x9E, {{1, 0x10}, {9, 1}, {13, 32}}), buffer, 32).sense,
            senseWith(0x05, 0x24, 0x00, 2));  // an LBA without PMI
  EXPECT_EQ(in(*device, cdbOf(16, 0x9E, {{1, 0x10}, {9, 1}, {13, 32}, {14, 1}}), buffer, 32).status, 0);
  EXPECT_EQ(none(*device, cdbOf(16, 0x9E, {{1, 0x11}})).sense, senseWith(0x05, 0x24, 0x00, 1, 4));
  auto big = makeDevice("emulated:disk?capacity=60000&block=4096");
  in(*big, cdbOf(16, 0x9E, {{1, 0x10}, {13, 32}}), buffer, 32);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 12), (Bytes{0, 0, 0, 0, 0, 0, 0xEA, 0x5F, 0, 0, 0x10, 0}));
}

TEST_F(EngineBlockTest, SynchronizeCacheChecksItsRange) {
  struct Case {
    const char* what;
    Bytes cdb;
    Bytes sense;  // empty: GOOD
  };
  const Case cases[] = {
      {"whole medium", cdbOf(10, 0x35, {}), {}},
      {"IMMED", cdbOf(10, 0x35, {{1, 0x02}}), {}},
      {"last block", cdbOf(10, 0x35, {{4, 0x01}, {5, 0x2B}, {8, 1}}), {}},
      {"0 blocks from the last to the end", cdbOf(16, 0x91, {{8, 0x01}, {9, 0x2B}}), {}},
      {"past the end", cdbOf(10, 0x35, {{4, 0x01}, {5, 0x2B}, {8, 2}}), sense(0x05, 0x21, 0x00)},
      {"LBA at the capacity", cdbOf(16, 0x91, {{8, 0x01}, {9, 0x2C}}), sense(0x05, 0x21, 0x00)},
      {"more blocks than a transfer: no limit", cdbOf(16, 0x91, {{11, 0x01}}), sense(0x05, 0x21, 0x00)},
      {"reserved bit", cdbOf(10, 0x35, {{1, 0x80}}), senseWith(0x05, 0x24, 0x00, 1, 7)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CommandResult o = none(*device, c.cdb);
    EXPECT_EQ(o.status, c.sense.empty() ? 0 : 2);
    EXPECT_EQ(o.sense, c.sense);
  }
}

TEST_F(EngineBlockTest, StoppedUnitIsNotReadyUntilStarted) {
  const Bytes notReady = sense(0x02, 0x04, 0x02);
  const Bytes stop = cdbOf(6, 0x1B, {}), start = cdbOf(6, 0x1B, {{4, 0x01}});
  const Bytes eject = cdbOf(6, 0x1B, {{4, 0x02}}), load = cdbOf(6, 0x1B, {{4, 0x03}});
  Bytes block(512, 0x31), nothing;
  ASSERT_EQ(none(*device, stop).status, 0);
  struct Access {
    const char* what;
    Bytes cdb;
    unsigned char direction;
  };
  const Access accesses[] = {
      {"TEST UNIT READY", cdbOf(6, 0x00, {}), none_c},
      {"READ(10)", cdbOf(10, 0x28, {{8, 1}}), in_c},
      {"WRITE(16)", cdbOf(16, 0x8A, {{13, 1}}), out_c},
      {"VERIFY(10)", cdbOf(10, 0x2F, {{8, 1}}), none_c},
      {"SYNCHRONIZE CACHE(10)", cdbOf(10, 0x35, {}), none_c},
  };
  for (const Access& a : accesses) {
    SCOPED_TRACE(a.what);
    CommandResult o = run(a.cdb, a.direction, a.direction == none_c ? nothing : block);
    EXPECT_EQ(o.sense, notReady);
    EXPECT_EQ(o.transferred, 0u);
  }
  EXPECT_EQ(disk.medium(0), Bytes(300 * 512, 0));
  // Identification and capacity still answer.
  EXPECT_EQ(in(*device, {0x12, 0, 0, 0, 36, 0}, buffer, 36).status, 0);
  EXPECT_EQ(in(*device, cdbOf(10, 0x25, {}), buffer, 8).status, 0);
  EXPECT_EQ(none(*device, start).status, 0);
  EXPECT_EQ(none(*device, {0, 0, 0, 0, 0, 0}).status, 0);
  EXPECT_EQ(none(*device, eject).status, 0);
  EXPECT_EQ(none(*device, {0, 0, 0, 0, 0, 0}).sense, notReady);
  EXPECT_EQ(none(*device, load).status, 0);
  EXPECT_EQ(none(*device, {0, 0, 0, 0, 0, 0}).status, 0);
  // Fields not offered.
  EXPECT_EQ(none(*device, cdbOf(6, 0x1B, {{4, 0x11}})).sense, senseWith(0x05, 0x24, 0x00, 4, 7));
  EXPECT_EQ(none(*device, cdbOf(6, 0x1B, {{3, 0x01}, {4, 1}})).sense, senseWith(0x05, 0x24, 0x00, 3, 3));
  EXPECT_EQ(none(*device, cdbOf(6, 0x1B, {{1, 0x02}, {4, 1}})).sense, senseWith(0x05, 0x24, 0x00, 1, 1));
  EXPECT_EQ(none(*device, cdbOf(6, 0x1B, {{1, 0x01}, {4, 0x05}})).status, 0);  // IMMED, NO_FLUSH
}

TEST_F(EngineBlockTest, BlockVpdPagesByteForByte) {
  CommandResult o = in(*device, {0x12, 1, 0x00, 0, 255, 0}, buffer, 255);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + o.transferred),
            (Bytes{0x00, 0x00, 0x00, 0x07, 0x00, 0x80, 0x83, 0x86, 0xB0, 0xB1, 0xB2}));
  Bytes limits(64, 0);
  limits[1] = 0xB0;
  limits[3] = 0x3C;
  limits[7] = 1;  // optimal transfer length granularity
  limits[10] = 0xFF;
  limits[11] = 0xFF;  // maximum transfer length 65535
  limits[15] = 128;   // optimal transfer length
  o = in(*device, {0x12, 1, 0xB0, 0, 255, 0}, buffer, 255);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + o.transferred), limits);
  Bytes characteristics(64, 0);
  characteristics[1] = 0xB1;
  characteristics[3] = 0x3C;
  characteristics[5] = 0x01;  // non-rotating
  o = in(*device, {0x12, 1, 0xB1, 0, 255, 0}, buffer, 255);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + o.transferred), characteristics);
  o = in(*device, {0x12, 1, 0xB2, 0, 255, 0}, buffer, 255);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + o.transferred), (Bytes{0, 0xB2, 0, 4, 0, 0, 0, 0}));
  // The tape has none of them.
  auto tape = makeDevice("emulated:tape");
  EXPECT_EQ(in(*tape, {0x12, 1, 0xB0, 0, 255, 0}, buffer, 255).sense, senseWith(0x05, 0x24, 0x00, 2));
  o = in(*tape, {0x12, 1, 0x00, 0, 255, 0}, buffer, 255);
  EXPECT_EQ(o.transferred, 8u);  // 00h, 80h, 83h, 86h
}

}  // namespace
}  // namespace qxscsi::backends::emulated
