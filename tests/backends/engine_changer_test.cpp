// The emulated medium changer: element status pages and moving media between elements.
#include "engine_helpers.h"

namespace qxscsi::backends::emulated {
namespace {

using namespace testing;

class EngineChangerTest : public ::testing::Test {
 protected:
  std::unique_ptr<Device> changer = makeDevice("emulated:changer?slots=3&drives=2");
  Bytes buffer;

  static Bytes res(unsigned char type, bool volTag, unsigned start, unsigned count, uint32_t allocation) {
    return {0xB8,
            static_cast<unsigned char>((volTag ? 0x10 : 0) | type),
            static_cast<unsigned char>(start >> 8),
            static_cast<unsigned char>(start),
            static_cast<unsigned char>(count >> 8),
            static_cast<unsigned char>(count),
            0,
            static_cast<unsigned char>(allocation >> 16),
            static_cast<unsigned char>(allocation >> 8),
            static_cast<unsigned char>(allocation),
            0,
            0};
  }
  CommandResult move(unsigned from, unsigned to, unsigned transport = 0) {
    return none(*changer,
                {0xA5, 0, static_cast<unsigned char>(transport >> 8), static_cast<unsigned char>(transport),
                 static_cast<unsigned char>(from >> 8), static_cast<unsigned char>(from),
                 static_cast<unsigned char>(to >> 8), static_cast<unsigned char>(to), 0, 0, 0, 0});
  }
  // The 16-byte descriptor without volume tag.
  static Bytes descriptor(unsigned address, unsigned char flags, int source = -1) {
    Bytes d(16, 0);
    d[0] = static_cast<unsigned char>(address >> 8);
    d[1] = static_cast<unsigned char>(address);
    d[2] = flags;
    if (source >= 0) {
      d[9] = 0x80;
      d[10] = static_cast<unsigned char>(source >> 8);
      d[11] = static_cast<unsigned char>(source);
    }
    return d;
  }
  static Bytes pageHeader(unsigned char type, bool volTag, unsigned length, unsigned count) {
    unsigned bytes = length * count;
    return {type,
            static_cast<unsigned char>(volTag ? 0x80 : 0),
            0,
            static_cast<unsigned char>(length),
            0,
            static_cast<unsigned char>(bytes >> 16),
            static_cast<unsigned char>(bytes >> 8),
            static_cast<unsigned char>(bytes)};
  }
};

TEST_F(EngineChangerTest, AllElementsWithoutTagsByteForByte) {
  CommandResult o = in(*changer, res(0, false, 0, 100, 1024), buffer, 1024);
  ASSERT_EQ(o.status, 0);
  // Header: first address 0, 6 elements, 3 pages of 8 + 1, 2 and 3 descriptors of 16 bytes.
  Bytes expected = {0, 0, 0, 6, 0, 0, 0, 3 * 8 + 6 * 16};
  auto add = [&](const Bytes& b) { expected.insert(expected.end(), b.begin(), b.end()); };
  add(pageHeader(1, false, 16, 1));
  add(descriptor(0x0000, 0x00));
  add(pageHeader(4, false, 16, 2));
  add(descriptor(0x0100, 0x08));
  add(descriptor(0x0101, 0x08));
  add(pageHeader(2, false, 16, 3));
  add(descriptor(0x1000, 0x09));
  add(descriptor(0x1001, 0x09));
  add(descriptor(0x1002, 0x09));
  EXPECT_EQ(o.transferred, expected.size());
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + expected.size()), expected);
}

TEST_F(EngineChangerTest, VolumeTagsMakeDescriptorsOf52Bytes) {
  CommandResult o = in(*changer, res(2, true, 0x1001, 1, 1024), buffer, 1024);
  ASSERT_EQ(o.status, 0);
  ASSERT_EQ(o.transferred, 8u + 8 + 52);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 16),
            (Bytes{0x10, 0x01, 0, 1, 0, 0, 0, 60, 2, 0x80, 0, 52, 0, 0, 0, 52}));
  const unsigned char* d = &buffer[16];
  EXPECT_EQ(d[0], 0x10);
  EXPECT_EQ(d[1], 0x01);
  EXPECT_EQ(d[2], 0x09);
  std::string tag(d + 12, d + 44);
  EXPECT_EQ(tag, "QX000002" + std::string(24, ' '));
  EXPECT_EQ(Bytes(d + 44, d + 52), Bytes(8, 0));
}

TEST_F(EngineChangerTest, EmptyElementsHaveNoTag) {
  in(*changer, res(4, true, 0, 1, 1024), buffer, 1024);
  const unsigned char* d = &buffer[16];
  EXPECT_EQ(d[2], 0x08);
  EXPECT_EQ(Bytes(d + 12, d + 44), Bytes(32, 0));
}

TEST_F(EngineChangerTest, ShortAllocationKeepsTheFullByteCounts) {
  CommandResult o = in(*changer, res(0, false, 0, 100, 20), buffer, 20);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.transferred, 20u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 8), (Bytes{0, 0, 0, 6, 0, 0, 0, 120}));
  o = in(*changer, res(0, false, 0, 100, 0), buffer, 0);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.transferred, 0u);
}

TEST_F(EngineChangerTest, StartAndCountSelectElements) {
  in(*changer, res(0, false, 0x0101, 2, 1024), buffer, 1024);
  // Drive 0101h and slot 1000h: two pages.
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 8), (Bytes{0x01, 0x01, 0, 2, 0, 0, 0, 2 * 8 + 2 * 16}));
  EXPECT_EQ(buffer[8], 4);
  EXPECT_EQ(buffer[8 + 8 + 16], 2);
  CommandResult o = in(*changer, res(0, false, 0, 0, 1024), buffer, 1024);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 8), (Bytes{0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(EngineChangerTest, BadElementTypeOrAddressIsIllegal) {
  EXPECT_EQ(in(*changer, res(5, false, 0, 1, 64), buffer, 64).sense[12], 0x24);
  CommandResult o = in(*changer, res(2, false, 0x2000, 1, 64), buffer, 64);
  Bytes s = sense(0x05, 0x21, 0x01);
  s[15] = 0xC0;
  s[17] = 2;
  EXPECT_EQ(o.sense, s);
  EXPECT_EQ(in(*changer, res(3, false, 0, 1, 64), buffer, 64).sense[13], 0x01);  // no import/export elements
}

TEST_F(EngineChangerTest, MoveMediumUpdatesFullnessTagAndSource) {
  ASSERT_EQ(move(0x1001, 0x0100).status, 0);
  in(*changer, res(4, true, 0x0100, 1, 1024), buffer, 1024);
  const unsigned char* d = &buffer[16];
  EXPECT_EQ(d[2], 0x09);
  EXPECT_EQ(d[9], 0x80);
  EXPECT_EQ(d[10], 0x10);
  EXPECT_EQ(d[11], 0x01);
  EXPECT_EQ(std::string(d + 12, d + 20), "QX000002");
  // From the drive to another slot: the source stays the slot it came from.
  ASSERT_EQ(move(0x0100, 0x0101).status, 0);
  in(*changer, res(4, false, 0x0101, 1, 1024), buffer, 1024);
  EXPECT_EQ(Bytes(buffer.begin() + 16, buffer.begin() + 32), descriptor(0x0101, 0x09, 0x1001));
  in(*changer, res(2, false, 0x1001, 1, 1024), buffer, 1024);
  EXPECT_EQ(Bytes(buffer.begin() + 16, buffer.begin() + 32), descriptor(0x1001, 0x08));
}

TEST_F(EngineChangerTest, MoveMediumErrors) {
  EXPECT_EQ(move(0x1001, 0x1002).sense, sense(0x05, 0x3B, 0x0D));  // destination full
  EXPECT_EQ(move(0x0100, 0x0101).sense, sense(0x05, 0x3B, 0x0E));  // source empty
  CommandResult o = move(0x1005, 0x0100);
  EXPECT_EQ(o.sense[12], 0x21);
  EXPECT_EQ(o.sense[17], 4);
  EXPECT_EQ(move(0x1000, 0x0000).sense[17], 6);          // the transport is no destination
  EXPECT_EQ(move(0x1000, 0x0100, 0x0005).sense[17], 2);  // no such transport
  EXPECT_EQ(move(0x1000, 0x1000).status, 0);             // to itself: nothing to do
  Bytes invert = {0xA5, 0, 0, 0, 0x10, 0, 0x01, 0, 0, 0, 1, 0};
  EXPECT_EQ(none(*changer, invert).sense[12], 0x24);
}

TEST_F(EngineChangerTest, InitializeElementStatusIsGoodAndChangesNothing) {
  move(0x1000, 0x0100);
  EXPECT_EQ(none(*changer, {0x07, 0, 0, 0, 0, 0}).status, 0);
  in(*changer, res(4, false, 0x0100, 1, 64), buffer, 64);
  EXPECT_EQ(buffer[16 + 2], 0x09);
}

TEST_F(EngineChangerTest, UnitsHaveTheirOwnElements) {
  auto two = makeDevice("emulated:changer?luns=2");
  none(*two, {0xA5, 0, 0, 0, 0x10, 0, 0x01, 0, 0, 0, 0, 0}, 1);
  in(*two, res(4, false, 0, 1, 64), buffer, 64, 0);
  EXPECT_EQ(buffer[16 + 2], 0x08);
  in(*two, res(4, false, 0, 1, 64), buffer, 64, 1);
  EXPECT_EQ(buffer[16 + 2], 0x09);
}

}  // namespace
}  // namespace qxscsi::backends::emulated
