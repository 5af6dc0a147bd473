// A tape LUN of tgtd through cmdCall with a QXScsiStreamDevice: REWIND, WRITE(6), WRITE
// FILEMARKS, SPACE and READ(6), with the sense that marks filemarks and the end of data.
#include "qxscsi/devices.h"
#include "tgt_support.h"

namespace qxscsi::test {
namespace {

const char* kTape = "iqn.2026-12.org.example:tape";

class IscsiTapeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!world.start()) return;
    if (!world.tgtd->addTape(1, kTape, "TAPE01")) world.whyNot = "tgtimg/tgtadm failed", world.stop();
  }
  static void TearDownTestSuite() { world.stop(); }
  void SetUp() override {
    if (!world.tgtd) GTEST_SKIP() << world.whyNot;
    name = world.tgtd->url(kTape, 1);
    target = std::make_unique<QXScsiSPITarget>(name.c_str());
    ASSERT_TRUE(target->valid()) << target->implementationError();
    Record ua(target->cmdTestUnitReady());
    ASSERT_TRUE(ua);
    EXPECT_EQ(ua->scsiStatus(), 0);  // the opening took the unit attention each session starts with
  }

  // Sends a tape command with the stream device's default timeout; GOOD expected unless told.
  QXScsiCmd* tape(std::vector<unsigned char> cdb, unsigned char* data = nullptr, unsigned long length = 0,
                  int direction = 2) {
    return call(*target, std::move(cdb), data, length, direction, QXScsiStreamDevice(name));
  }
  static std::vector<unsigned char> pattern(size_t n, unsigned char seed) {
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(seed + i * 13);
    return v;
  }

  static TgtdWorld world;
  std::string name;
  std::unique_ptr<QXScsiSPITarget> target;
};

TgtdWorld IscsiTapeTest::world;

// Variable-length blocks: WRITE(6)/READ(6) byte 1 = 0, bytes 2..4 = transfer length in bytes.
std::vector<unsigned char> rw6(unsigned char opcode, unsigned length) {
  return {opcode,
          0,
          static_cast<unsigned char>(length >> 16),
          static_cast<unsigned char>(length >> 8),
          static_cast<unsigned char>(length),
          0};
}

TEST_F(IscsiTapeTest, WrittenBlocksFilemarksAndEndOfDataReadBack) {
  auto first = pattern(1024, 1), second = pattern(512, 2);
  Record rewind(tape({0x01, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(rewind);
  EXPECT_EQ(rewind->scsiStatus(), 0);
  EXPECT_EQ(rewind->timeout(), 30u);
  Record w1(tape(rw6(0x0A, 1024), first.data(), first.size(), 1));
  Record w2(tape(rw6(0x0A, 512), second.data(), second.size(), 1));
  Record fm(tape({0x10, 0, 0, 0, 1, 0}));  // WRITE FILEMARKS, one
  ASSERT_TRUE(w1 && w2 && fm);
  EXPECT_EQ(w1->scsiStatus(), 0);
  EXPECT_EQ(w2->scsiStatus(), 0);
  EXPECT_EQ(fm->scsiStatus(), 0);

  Record back(tape({0x01, 0, 0, 0, 0, 0}));
  std::vector<unsigned char> in(1024, 0);
  Record r1(tape(rw6(0x08, 1024), in.data(), in.size(), 0));
  ASSERT_TRUE(back && r1);
  EXPECT_EQ(r1->scsiStatus(), 0);
  EXPECT_EQ(in, first);

  std::vector<unsigned char> in2(512, 0);
  Record r2(tape(rw6(0x08, 512), in2.data(), in2.size(), 0));
  ASSERT_TRUE(r2);
  EXPECT_EQ(r2->scsiStatus(), 0);
  EXPECT_EQ(in2, second);

  // The next read meets the filemark: CHECK CONDITION with FILEMARK set, nothing transferred.
  Record atMark(tape(rw6(0x08, 1024), in.data(), in.size(), 0));
  ASSERT_TRUE(atMark);
  EXPECT_EQ(atMark->scsiStatus(), 2);
  EXPECT_TRUE(atMark->senseData().fileMark());
  EXPECT_EQ(senseKey(*atMark.cmd), 0u);
  EXPECT_EQ(atMark->senseData().information(), 1024u);  // the whole request is the residue
}

TEST_F(IscsiTapeTest, SpaceSkipsBlocksAndFilemarks) {
  auto first = pattern(1024, 5), second = pattern(512, 6);
  Record rewind(tape({0x01, 0, 0, 0, 0, 0}));
  Record w1(tape(rw6(0x0A, 1024), first.data(), first.size(), 1));
  Record w2(tape(rw6(0x0A, 512), second.data(), second.size(), 1));
  Record fm(tape({0x10, 0, 0, 0, 1, 0}));
  Record back(tape({0x01, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(rewind && w1 && w2 && fm && back);

  // SPACE one block, then READ(6) gets the second block.
  Record skip(tape({0x11, 0x00, 0, 0, 1, 0}));
  ASSERT_TRUE(skip);
  EXPECT_EQ(skip->scsiStatus(), 0);
  std::vector<unsigned char> in(512, 0);
  Record r(tape(rw6(0x08, 512), in.data(), in.size(), 0));
  ASSERT_TRUE(r);
  EXPECT_EQ(in, second);

  // Back to the start, SPACE one filemark: the tape stands at the end of data.
  Record again(tape({0x01, 0, 0, 0, 0, 0}));
  Record overMark(tape({0x11, 0x01, 0, 0, 1, 0}));
  ASSERT_TRUE(again && overMark);
  EXPECT_EQ(overMark->scsiStatus(), 0);
  Record eod(tape(rw6(0x08, 512), in.data(), in.size(), 0));
  ASSERT_TRUE(eod);
  EXPECT_EQ(eod->scsiStatus(), 2);
  EXPECT_EQ(senseKey(*eod.cmd), 0x8u);  // BLANK CHECK
}

TEST_F(IscsiTapeTest, ShortBlockReportsIllegalLengthAndResidual) {
  auto block = pattern(512, 9);
  Record rewind(tape({0x01, 0, 0, 0, 0, 0}));
  Record w(tape(rw6(0x0A, 512), block.data(), block.size(), 1));
  Record back(tape({0x01, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(rewind && w && back);
  std::vector<unsigned char> in(4096, 0);
  Record r(tape(rw6(0x08, 4096), in.data(), in.size(), 0));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->scsiStatus(), 2);
  EXPECT_TRUE(r->senseData().illegalLength());
  EXPECT_EQ(r->senseData().information(), 4096u - 512u);
  EXPECT_EQ(std::vector<unsigned char>(in.begin(), in.begin() + 512), block);
}

}  // namespace
}  // namespace qxscsi::test
