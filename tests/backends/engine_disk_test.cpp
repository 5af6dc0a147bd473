// The emulated disk: capacity, block reads and writes, and its copy manager.
#include "disk.h"
#include "engine_helpers.h"

namespace qxscsi::backends::emulated {
namespace {

using namespace testing;

class EngineDiskTest : public ::testing::Test {
 protected:
  std::unique_ptr<Device> device = makeDevice("emulated:disk?luns=2&capacity=64&block=512");
  Disk& disk = static_cast<Disk&>(*device);
  Bytes buffer;

  CommandResult rw(unsigned char op, uint32_t lba, unsigned blocks, Bytes& data, unsigned lun = 0) {
    Bytes cdb = {
        op, 0, 0, 0, 0, 0, 0, static_cast<unsigned char>(blocks >> 8), static_cast<unsigned char>(blocks), 0};
    for (int i = 0; i < 4; ++i) cdb[2 + i] = static_cast<unsigned char>(lba >> (24 - 8 * i));
    return device->execute(lun, Command{cdb.data(), 10, op == 0x2A ? 1 : 0, data.data(), data.size()});
  }

  Bytes designator(unsigned lun) {
    Bytes all = disk.designators(lun);
    return Bytes(all.begin(), all.begin() + 12);  // the NAA descriptor
  }

  CommandResult copy(const Bytes& list, unsigned lun = 0) {
    Bytes data = list;
    return out(*device, extendedCopyCdb(static_cast<uint32_t>(data.size())), data, lun);
  }

  CommandResult copyStatus(unsigned char listId, unsigned lun = 0) {
    return in(*device, {0x84, 0, listId, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 12, 0, 0}, buffer, 12, lun);
  }
};

TEST_F(EngineDiskTest, ReadCapacityGivesLastBlockAndBlockLength) {
  CommandResult o = in(*device, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, buffer, 8);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(buffer, (Bytes{0, 0, 0, 63, 0, 0, 2, 0}));
  o = in(*device, {0x25, 0, 0, 0, 0, 1, 0, 0, 0, 0}, buffer, 8);  // LBA without PMI
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.sense[12], 0x24);
  o = in(*device, {0x25, 0, 0, 0, 0, 1, 0, 0, 1, 0}, buffer, 8);  // with PMI
  EXPECT_EQ(o.status, 0);
}

TEST_F(EngineDiskTest, WriteThenReadTheLastBlocks) {
  Bytes data(1024);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i ^ 0x5A);
  CommandResult o = rw(0x2A, 62, 2, data);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.transferred, 1024u);
  Bytes back(1024, 0);
  o = rw(0x28, 62, 2, back);
  EXPECT_EQ(o.transferred, 1024u);
  EXPECT_EQ(back, data);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), disk.medium(0).begin() + 62 * 512));
  EXPECT_EQ(disk.medium(1), Bytes(64 * 512, 0));  // the other unit is untouched
}

TEST_F(EngineDiskTest, PastTheLastBlockIsLbaOutOfRangeAndMovesNothing) {
  Bytes data(1024, 0xAB);
  CommandResult o = rw(0x2A, 63, 2, data);
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.sense, sense(0x05, 0x21, 0x00));
  EXPECT_EQ(o.transferred, 0u);
  EXPECT_EQ(disk.medium(0), Bytes(64 * 512, 0));
  o = rw(0x28, 64, 0, data);  // zero blocks past the end are out of range too
  EXPECT_EQ(o.sense, sense(0x05, 0x21, 0x00));
  o = rw(0x28, 0xFFFFFFFF, 1, data);
  EXPECT_EQ(o.sense, sense(0x05, 0x21, 0x00));
  o = rw(0x28, 63, 0, data);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.transferred, 0u);
}

TEST_F(EngineDiskTest, ShortBufferReadsWhatFitsAndAShortWriteIsAnInvalidField) {
  // Was: both refused. A read sends the first bytes, a write that cannot get its data ends in
  // CHECK CONDITION with nothing written.
  Bytes pattern(1024);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<unsigned char>(i * 5 + 1);
  ASSERT_EQ(rw(0x2A, 0, 2, pattern).status, 0);
  Bytes data(1023, 0xEE);
  CommandResult o = rw(0x28, 0, 2, data);
  ASSERT_TRUE(o.executed);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.transferred, 1023u);
  EXPECT_EQ(o.beyond, 1u);
  EXPECT_EQ(data, Bytes(pattern.begin(), pattern.begin() + 1023));
  Bytes other(1023, 0x77);
  o = rw(0x2A, 0, 2, other);
  ASSERT_TRUE(o.executed);
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.sense, sense(0x05, 0x24, 0x00));
  EXPECT_EQ(o.transferred, 0u);
  EXPECT_TRUE(std::equal(pattern.begin(), pattern.end(), disk.medium(0).begin()));
  Bytes last(18, 0);
  EXPECT_EQ(in(*device, {0x03, 0, 0, 0, 18, 0}, last, 18).status, 0);  // REQUEST SENSE has it
  EXPECT_EQ(last, sense(0x05, 0x24, 0x00));
}

TEST_F(EngineDiskTest, ProtectionFieldIsInvalid) {
  Bytes cdb = {0x28, 0x20, 0, 0, 0, 0, 0, 0, 1, 0};
  CommandResult o = in(*device, cdb, buffer, 512);
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.sense[12], 0x24);
  EXPECT_EQ(o.sense[17], 1);
}

TEST_F(EngineDiskTest, ExtendedCopyBetweenUnitsAndItsStatus) {
  Bytes data(4 * 512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 3);
  rw(0x2A, 10, 4, data, 0);
  Bytes list = copyParameterList(7, 0,
                                 {identificationDescriptor(designator(0).data(), 512),
                                  identificationDescriptor(designator(1).data(), 512)},
                                 {blockSegment(0, 1, 3, 10, 20), blockSegment(0, 1, 1, 13, 40)});
  CommandResult o = copy(list);
  EXPECT_EQ(o.status, 0) << (o.sense.empty() ? 0 : o.sense[12]);
  EXPECT_EQ(o.transferred, list.size());
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 3 * 512, disk.medium(1).begin() + 20 * 512));
  EXPECT_TRUE(std::equal(data.begin() + 3 * 512, data.end(), disk.medium(1).begin() + 40 * 512));
  o = copyStatus(7);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(buffer, (Bytes{0, 0, 0, 8, 0x01, 0, 2, 0x00, 0, 0, 0x08, 0x00}));
  o = copyStatus(7, 1);  // results are held by the unit that received the command
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.sense[12], 0x24);
}

TEST_F(EngineDiskTest, CopyWithinOneUnitMayOverlap) {
  Bytes data(3 * 512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i / 512 + 1);
  rw(0x2A, 0, 3, data);
  Bytes naa = designator(0);
  CommandResult o = copy(
      copyParameterList(1, 0, {identificationDescriptor(naa.data(), 512)}, {blockSegment(0, 0, 3, 0, 1)}));
  ASSERT_EQ(o.status, 0);
  Bytes back(4 * 512);
  rw(0x28, 0, 4, back);
  for (unsigned b = 0; b < 4; ++b) EXPECT_EQ(back[b * 512], b == 0 ? 1 : b) << b;
}

TEST_F(EngineDiskTest, CopyByT10Designator) {
  Bytes all = disk.designators(1);
  Bytes t10(all.begin() + 12, all.end());
  ASSERT_LE(t10[3], 20);
  Bytes data(512, 0x42);
  rw(0x2A, 5, 1, data, 0);
  Bytes naa = designator(0);
  CommandResult o = copy(copyParameterList(
      2, 0, {identificationDescriptor(naa.data(), 512), identificationDescriptor(t10.data(), 512)},
      {blockSegment(0, 1, 1, 5, 6)}));
  ASSERT_EQ(o.status, 0);
  EXPECT_EQ(disk.medium(1)[6 * 512], 0x42);
}

TEST_F(EngineDiskTest, CopyPastTheEndAbortsAfterTheGoodSegments) {
  Bytes data(512, 0x11);
  rw(0x2A, 0, 1, data);
  Bytes a = designator(0), b = designator(1);
  CommandResult o = copy(copyParameterList(
      3, 0, {identificationDescriptor(a.data(), 512), identificationDescriptor(b.data(), 512)},
      {blockSegment(0, 1, 1, 0, 0), blockSegment(0, 1, 2, 0, 63), blockSegment(0, 1, 1, 0, 1)}));
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.sense, sense(0x0A, 0x21, 0x00));
  EXPECT_EQ(disk.medium(1)[0], 0x11);
  EXPECT_EQ(disk.medium(1)[512], 0x00);  // the third segment never ran
  copyStatus(3);
  EXPECT_EQ(buffer, (Bytes{0, 0, 0, 8, 0x02, 0, 1, 0x00, 0, 0, 0x02, 0x00}));
}

TEST_F(EngineDiskTest, CopyToAnUnknownDesignatorIsUnreachable) {
  Bytes a = designator(0), stranger = designator(0);
  stranger[11] ^= 0xFF;
  CommandResult o = copy(copyParameterList(
      4, 0, {identificationDescriptor(a.data(), 512), identificationDescriptor(stranger.data(), 512)},
      {blockSegment(0, 1, 1, 0, 0)}));
  EXPECT_EQ(o.sense, sense(0x0A, 0x0D, 0x02));
}

TEST_F(EngineDiskTest, MalformedParameterListsAnswerIllegalRequest) {
  Bytes a = designator(0);
  Bytes good =
      copyParameterList(5, 0, {identificationDescriptor(a.data(), 512)}, {blockSegment(0, 0, 1, 0, 1)});
  struct Case {
    const char* what;
    unsigned at;
    unsigned char value;
    unsigned char asc, ascq;
  };
  const Case cases[] = {
      {"reserved list identifier usage", 1, 0x08, 0x26, 0x00},
      {"descriptor list not a multiple of 32", 3, 31, 0x26, 0x00},
      {"unsupported CSCD type", 16, 0xE0, 0x26, 0x07},
      {"not a block device", 17, 0x01, 0x26, 0x00},
      {"wrong block length", 46, 0x04, 0x26, 0x00},
      {"unsupported segment type", 48, 0x0A, 0x26, 0x09},
      {"wrong segment length", 51, 0x14, 0x26, 0x00},
      {"destination beyond the descriptors", 55, 1, 0x26, 0x00},
      {"inline data", 15, 4, 0x26, 0x0B},
  };
  for (const Case& c : cases) {
    Bytes list = good;
    list[c.at] = c.value;
    if (c.at == 15) list.resize(list.size() + 4);  // room for the announced inline data
    CommandResult o = copy(list);
    ASSERT_EQ(o.status, 2) << c.what;
    EXPECT_EQ(o.sense[2], 0x05) << c.what;
    EXPECT_EQ(o.sense[12], c.asc) << c.what;
    EXPECT_EQ(o.sense[13], c.ascq) << c.what;
  }
  EXPECT_EQ(disk.medium(0), Bytes(64 * 512, 0));
}

TEST_F(EngineDiskTest, ParameterListLengthErrors) {
  Bytes a = designator(0);
  Bytes list =
      copyParameterList(5, 0, {identificationDescriptor(a.data(), 512)}, {blockSegment(0, 0, 1, 0, 1)});
  list.pop_back();  // one byte short of what the header announces
  EXPECT_EQ(copy(list).sense, sense(0x05, 0x1A, 0x00));
  EXPECT_EQ(copy(Bytes(15, 0)).sense, sense(0x05, 0x1A, 0x00));
  CommandResult o = copy(Bytes());
  EXPECT_EQ(o.status, 0);  // an empty list is no copy at all
}

TEST_F(EngineDiskTest, TooManyDescriptors) {
  Bytes a = designator(0);
  std::vector<Bytes> cscds(9, identificationDescriptor(a.data(), 512));
  EXPECT_EQ(copy(copyParameterList(6, 0, cscds, {})).sense[13], 0x06);
  std::vector<Bytes> segments(17, blockSegment(0, 0, 1, 0, 1));
  EXPECT_EQ(copy(copyParameterList(6, 0, {cscds[0]}, segments)).sense[13], 0x08);
}

TEST_F(EngineDiskTest, ListIdentifierUsageDecidesWhetherResultsAreHeld) {
  Bytes a = designator(0);
  Bytes list =
      copyParameterList(9, 2, {identificationDescriptor(a.data(), 512)}, {blockSegment(0, 0, 1, 0, 1)});
  EXPECT_EQ(copy(list).status, 0);
  EXPECT_EQ(copyStatus(9).status, 2);
  list[1] = 0x18;  // usage 11b
  EXPECT_EQ(copy(list).status, 0);
  EXPECT_EQ(copyStatus(9).status, 2);
  list[1] = 0x00;
  EXPECT_EQ(copy(list).status, 0);
  EXPECT_EQ(copyStatus(9).status, 0);
}

TEST_F(EngineDiskTest, OperatingParametersByteForByte) {
  CommandResult o = in(*device, {0x84, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 64, 0, 0}, buffer, 64);
  EXPECT_EQ(o.transferred, 46u);
  Bytes expected(46, 0);
  expected[3] = 42;
  expected[4] = 0x01;
  expected[9] = 8;
  expected[11] = 16;
  expected[14] = 0x02;  // 8 * 32 + 16 * 28 = 704
  expected[15] = 0xC0;
  expected[16] = 0x01;  // 65535 * 512 = 01FFFE00h
  expected[17] = 0xFF;
  expected[18] = 0xFE;
  expected[35] = 1;
  expected[36] = 1;
  expected[37] = 9;
  expected[43] = 2;
  expected[44] = 0x02;
  expected[45] = 0xE4;
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 46), expected);
  o = in(*device, {0x84, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 64, 0, 0}, buffer, 64);
  EXPECT_EQ(o.sense[12], 0x24);
}

TEST_F(EngineDiskTest, NonLid1ServiceActionIsInvalid) {
  Bytes cdb = extendedCopyCdb(0);
  cdb[1] = 0x01;
  EXPECT_EQ(none(*device, cdb).sense[12], 0x24);
}

}  // namespace
}  // namespace qxscsi::backends::emulated
