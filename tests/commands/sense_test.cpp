// Fixed-format sense data: field positions, short views, additional sense and copies.
#include <gtest/gtest.h>

#include <vector>

#include "qxscsi/sense.h"

namespace {

class SenseTest : public ::testing::Test {
 protected:
  std::vector<unsigned char> fixed = {0x70, 0x00, 0x05, 0x00, 0x00, 0x01, 0x02, 0x0A, 0x00,
                                      0x00, 0x00, 0x00, 0x24, 0x00, 0x00, 0xC0, 0x00, 0x02};
  QXScsiSenseData view(std::vector<unsigned char>& v) { return QXScsiSenseData(v.data(), v.size()); }
};

TEST_F(SenseTest, IllegalRequestFieldsAtTheirPositions) {
  QXScsiSenseData s = view(fixed);
  EXPECT_EQ(s.responseCode(), 0x70);
  EXPECT_FALSE(s.infoValid());
  EXPECT_EQ(s.segmentNumber(), 0);
  EXPECT_EQ(s.senseKey(), 5);
  EXPECT_FALSE(s.fileMark());
  EXPECT_FALSE(s.endOfMedia());
  EXPECT_FALSE(s.illegalLength());
  EXPECT_EQ(s.information(), 258u);
  EXPECT_EQ(s.additionalLength(), 10);
  EXPECT_EQ(s.commandSpecific(), 0u);
  EXPECT_EQ(s.additionalSenseCode(), 0x24);
  EXPECT_EQ(s.additionalSenseQualifier(), 0);
  EXPECT_EQ(s.fieldReplaceableUnit(), 0);
  EXPECT_TRUE(s.isSenseKeySpecificValid());
  EXPECT_EQ(s.senseKeySpecific(), 0x400002u);
}

TEST_F(SenseTest, FlagBitsAndWideFields) {
  fixed[0] = 0xF0;
  fixed[1] = 0x9C;
  fixed[2] = 0xE5;
  fixed[3] = 0xFF;
  fixed[4] = 0xFE;
  fixed[5] = 0xFD;
  fixed[6] = 0xFC;
  fixed[8] = 0x80;
  fixed[9] = 0x01;
  fixed[10] = 0x02;
  fixed[11] = 0x03;
  fixed[14] = 0x77;
  fixed[15] = 0x7F;
  fixed[16] = 0xFF;
  fixed[17] = 0xFF;
  QXScsiSenseData s = view(fixed);
  EXPECT_TRUE(s.infoValid());
  EXPECT_EQ(s.responseCode(), 0x70);
  EXPECT_EQ(s.segmentNumber(), 0x9C);
  EXPECT_TRUE(s.fileMark());
  EXPECT_TRUE(s.endOfMedia());
  EXPECT_TRUE(s.illegalLength());
  EXPECT_EQ(s.senseKey(), 5);
  EXPECT_EQ(s.information(), 0xFFFEFDFCu);
  EXPECT_EQ(s.commandSpecific(), 0x80010203u);
  EXPECT_EQ(s.fieldReplaceableUnit(), 0x77);
  EXPECT_FALSE(s.isSenseKeySpecificValid());
  EXPECT_EQ(s.senseKeySpecific(), 0x7FFFFFu);
  fixed[2] = 0x10;  // bit 4 is not read
  EXPECT_EQ(s.senseKey(), 0);
  EXPECT_FALSE(s.fileMark() || s.endOfMedia() || s.illegalLength());
}

TEST_F(SenseTest, AdditionalSenseCountsByteSevenAndMax) {
  std::vector<unsigned char> sense(40);
  for (size_t i = 0; i < sense.size(); ++i) sense[i] = static_cast<unsigned char>(i);
  sense[7] = 10;
  QXScsiSenseData s = view(sense);
  char out[100];
  std::fill(out, out + 100, '\x7E');
  EXPECT_EQ(s.additionalSense(out, 4), 4u);
  EXPECT_EQ(std::vector<char>(out, out + 5), std::vector<char>({18, 19, 20, 21, '\x7E'}));
  EXPECT_EQ(s.additionalSense(out, 100), 10u);
  EXPECT_EQ(out[9], 27);
  EXPECT_EQ(out[10], '\x7E');
  sense[7] = 0;
  EXPECT_EQ(s.additionalSense(out, 100), 0u);
  EXPECT_EQ(s.additionalSense(nullptr, 100), 0u);
}

TEST_F(SenseTest, ShortViewReadsZeroForMissingBytes) {
  // The view holds three bytes of a larger buffer: nothing past them may leak into a field.
  std::vector<unsigned char> backing(32, 0xFF);
  backing[0] = 0x71;
  backing[1] = 0x01;
  backing[2] = 0x06;
  QXScsiSenseData s(backing.data(), 3);
  EXPECT_EQ(s.responseCode(), 0x71);
  EXPECT_EQ(s.segmentNumber(), 1);
  EXPECT_EQ(s.senseKey(), 6);
  EXPECT_EQ(s.information(), 0u);
  EXPECT_EQ(s.additionalLength(), 0);
  EXPECT_EQ(s.commandSpecific(), 0u);
  EXPECT_EQ(s.additionalSenseCode(), 0);
  EXPECT_EQ(s.senseKeySpecific(), 0u);
  EXPECT_FALSE(s.isSenseKeySpecificValid());
  QXScsiSenseData partial(backing.data(), 5);  // information has bytes 3 and 4 only
  EXPECT_EQ(partial.information(), 0xFFFF0000u);
  QXScsiSenseData none(nullptr, 18);
  EXPECT_EQ(none.senseKey(), 0);
  EXPECT_EQ(none.senseKeySpecific(), 0u);
}

TEST_F(SenseTest, AdditionalSenseStopsAtTheViewEnd) {
  std::vector<unsigned char> backing(64, 0xEE);
  backing[7] = 40;
  char out[64];
  EXPECT_EQ(QXScsiSenseData(backing.data(), 22).additionalSense(out, 64), 4u);
  EXPECT_EQ(QXScsiSenseData(backing.data(), 18).additionalSense(out, 64), 0u);
  EXPECT_EQ(QXScsiSenseData(backing.data(), 10).additionalSense(out, 64), 0u);
  // Over a heap buffer of exactly 20 bytes the sanitizer build catches any read past it.
  std::vector<unsigned char> exact(backing.begin(), backing.begin() + 20);
  EXPECT_EQ(view(exact).additionalSense(out, 64), 2u);
}

TEST_F(SenseTest, Validity) {
  unsigned char byte = 0;
  EXPECT_FALSE(QXScsiSenseData(&byte, 0).valid());
  EXPECT_TRUE(QXScsiSenseData(nullptr, 0).valid());
  EXPECT_TRUE(QXScsiSenseData(nullptr, 5).valid());
  EXPECT_TRUE(QXScsiSenseData(&byte, 1).valid());
}

TEST_F(SenseTest, GetBufferGivesEightBitLength) {
  std::vector<unsigned char> big(300);
  unsigned char* buffer = nullptr;
  unsigned char length = 0;
  view(big).getBuffer(buffer, length);
  EXPECT_EQ(buffer, big.data());
  EXPECT_EQ(length, 44);
  QXScsiSenseData(big.data(), 255).getBuffer(buffer, length);
  EXPECT_EQ(length, 255);
}

TEST_F(SenseTest, CopyShortIntoLongLeavesTheRest) {
  std::vector<unsigned char> dest(255, 0xAA);
  bool truncated = true, nothing = true;
  EXPECT_TRUE(view(dest).copyFrom(view(fixed), truncated, nothing));
  EXPECT_FALSE(truncated);
  EXPECT_FALSE(nothing);
  std::vector<unsigned char> expected(255, 0xAA);
  std::copy(fixed.begin(), fixed.end(), expected.begin());
  EXPECT_EQ(dest, expected);
}

TEST_F(SenseTest, CopyLongIntoShortTruncates) {
  std::vector<unsigned char> source(255);
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>(i);
  std::vector<unsigned char> dest(18, 0xAA);
  bool truncated = false, nothing = true;
  EXPECT_TRUE(view(dest).copyFrom(view(source), truncated, nothing));
  EXPECT_TRUE(truncated);
  EXPECT_FALSE(nothing);
  EXPECT_EQ(dest, std::vector<unsigned char>(source.begin(), source.begin() + 18));
}

// A source length that does not fit eight bits must not wrap: 256 bytes used to copy nothing and
// 300 bytes only 44.
TEST_F(SenseTest, CopyFromSourcesOf256And300BytesCutsInsteadOfWrapping) {
  for (size_t size : {256u, 300u}) {
    std::vector<unsigned char> source(size);
    for (size_t i = 0; i < size; ++i) source[i] = static_cast<unsigned char>(i * 7 + 1);
    std::vector<unsigned char> dest(255, 0);
    bool truncated = false, nothing = true;
    EXPECT_TRUE(view(dest).copyFrom(view(source), truncated, nothing)) << size;
    EXPECT_TRUE(truncated) << size;
    EXPECT_FALSE(nothing) << size;
    EXPECT_EQ(dest, std::vector<unsigned char>(source.begin(), source.begin() + 255)) << size;

    std::vector<unsigned char> wide(400, 0xAA);
    EXPECT_TRUE(view(wide).copyFrom(view(source), truncated, nothing)) << size;
    EXPECT_FALSE(truncated) << size;
    std::vector<unsigned char> expected(source);
    expected.resize(400, 0xAA);
    EXPECT_EQ(wide, expected) << size;
  }
}

TEST_F(SenseTest, CopyIntoMissingBufferCopiesNothing) {
  bool truncated = true, nothing = false;
  QXScsiSenseData none(nullptr, 0);
  EXPECT_TRUE(none.copyFrom(view(fixed), truncated, nothing));
  EXPECT_TRUE(nothing);
  EXPECT_FALSE(truncated);
  QXScsiSenseData noneWithLength(nullptr, 18);
  nothing = false;
  EXPECT_TRUE(noneWithLength.copyFrom(view(fixed), truncated, nothing));
  EXPECT_TRUE(nothing);
}

TEST_F(SenseTest, CopyFromMissingBufferWritesNothing) {
  std::vector<unsigned char> dest(18, 0xAA);
  bool truncated = true, nothing = false;
  EXPECT_TRUE(view(dest).copyFrom(QXScsiSenseData(nullptr, 18), truncated, nothing));
  EXPECT_TRUE(nothing);
  EXPECT_FALSE(truncated);
  EXPECT_EQ(dest, std::vector<unsigned char>(18, 0xAA));
}

TEST_F(SenseTest, CopyWithAnInvalidViewFails) {
  unsigned char byte = 0x12;
  std::vector<unsigned char> dest(18, 0xAA);
  bool truncated = true, nothing = true;
  EXPECT_FALSE(view(dest).copyFrom(QXScsiSenseData(&byte, 0), truncated, nothing));
  EXPECT_FALSE(truncated);
  EXPECT_FALSE(nothing);
  EXPECT_EQ(dest, std::vector<unsigned char>(18, 0xAA));
  truncated = nothing = true;
  EXPECT_FALSE(QXScsiSenseData(&byte, 0).copyFrom(view(fixed), truncated, nothing));
  EXPECT_FALSE(truncated || nothing);
  EXPECT_EQ(byte, 0x12);
}

TEST_F(SenseTest, CopyOntoOverlappingBytesKeepsTheSource) {
  std::vector<unsigned char> buffer(30);
  for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<unsigned char>(i + 1);
  const std::vector<unsigned char> before = buffer;
  bool truncated = false, nothing = false;
  QXScsiSenseData whole = view(buffer);
  EXPECT_TRUE(whole.copyFrom(whole, truncated, nothing));
  EXPECT_EQ(buffer, before);
  QXScsiSenseData tail(buffer.data() + 2, 18);
  EXPECT_TRUE(tail.copyFrom(QXScsiSenseData(buffer.data(), 18), truncated, nothing));
  std::vector<unsigned char> expected = before;
  std::copy(before.begin(), before.begin() + 18, expected.begin() + 2);
  EXPECT_EQ(buffer, expected);
}

}  // namespace
