// QXQuadWord and QXTriByte: exact big-endian bytes, exact width, values beyond the width.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <vector>

#include "qxpattern/encoders.h"

namespace {

class EncodersTest : public ::testing::Test {
 protected:
  // Encodes into the middle of a buffer of guard bytes; returns the whole buffer.
  template <typename Encoder>
  std::vector<unsigned char> encode(const Encoder& encoder, std::size_t width) {
    std::vector<unsigned char> buffer(width + 4, 0xEE);
    EXPECT_TRUE(encoder.toBigEndian(buffer.data() + 2));
    return buffer;
  }
  static std::vector<unsigned char> guarded(std::vector<unsigned char> bytes) {
    bytes.insert(bytes.begin(), {0xEE, 0xEE});
    bytes.insert(bytes.end(), {0xEE, 0xEE});
    return bytes;
  }
};

TEST_F(EncodersTest, QuadWordWritesEightBytesMostSignificantFirst) {
  EXPECT_EQ(encode(QXQuadWord(0x0102030405060708ULL), 8), guarded({1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(encode(QXQuadWord(0), 8), guarded({0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(encode(QXQuadWord(0xFF), 8), guarded({0, 0, 0, 0, 0, 0, 0, 0xFF}));
  EXPECT_EQ(encode(QXQuadWord(0x8000000000000000ULL), 8), guarded({0x80, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(encode(QXQuadWord(ULLONG_MAX), 8), guarded({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(EncodersTest, TriByteWritesThreeBytesMostSignificantFirst) {
  EXPECT_EQ(encode(QXTriByte(0x010203UL), 3), guarded({1, 2, 3}));
  EXPECT_EQ(encode(QXTriByte(0), 3), guarded({0, 0, 0}));
  EXPECT_EQ(encode(QXTriByte(0xFFFFFFUL), 3), guarded({0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(encode(QXTriByte(0x800000UL), 3), guarded({0x80, 0, 0}));
}

TEST_F(EncodersTest, TriByteKeepsTheLowTwentyFourBitsOfLargerValues) {
  EXPECT_EQ(encode(QXTriByte(0x1000000UL), 3), guarded({0, 0, 0}));
  EXPECT_EQ(encode(QXTriByte(0xAB123456UL), 3), guarded({0x12, 0x34, 0x56}));
  EXPECT_EQ(encode(QXTriByte(ULONG_MAX), 3), guarded({0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(QXTriByte(0x1FFFFFFUL).value(), 0xFFFFFFUL);
}

TEST_F(EncodersTest, NullDestinationIsRefused) {
  EXPECT_FALSE(QXQuadWord(1).toBigEndian(nullptr));
  EXPECT_FALSE(QXTriByte(1).toBigEndian(nullptr));
}

}  // namespace
