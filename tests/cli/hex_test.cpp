// Hex parsing of CDBs and sense bytes given on the command line.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/hex.h"

namespace {

using qxscsi::cli::parseHex;

class HexTest : public ::testing::Test {
protected:
  bool parse(const std::string& text) {
    bytes.clear();
    error.clear();
    return parseHex(text, bytes, error);
  }
  std::vector<uint8_t> bytes;
  std::string error;
};

TEST_F(HexTest, AcceptsTheCommonSpellings) {
  const std::vector<uint8_t> inquiry = {0x12, 0, 0, 0, 0x24, 0};
  for (const char* text : {"12 00 00 00 24 00", "120000002400", "0x12,0x00,0x00,0x00,0x24,0x00", "12:00:00:00:24:00",
                           "12 0 0 0 24 0", "  12000000\n2400\t"}) {
    ASSERT_TRUE(parse(text)) << text << ": " << error;
    EXPECT_EQ(bytes, inquiry) << text;
  }
  ASSERT_TRUE(parse("A0 ff Fe"));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0xa0, 0xff, 0xfe}));
}

TEST_F(HexTest, EmptyTextGivesNoBytes) {
  ASSERT_TRUE(parse(""));
  EXPECT_TRUE(bytes.empty());
  ASSERT_TRUE(parse(" , "));
  EXPECT_TRUE(bytes.empty());
}

TEST_F(HexTest, RefusesBadCharactersOddGroupsAndBarePrefixes) {
  EXPECT_FALSE(parse("12 0g"));
  EXPECT_NE(error.find("bad hex character 'g'"), std::string::npos) << error;
  EXPECT_FALSE(parse("123"));
  EXPECT_NE(error.find("odd number"), std::string::npos) << error;
  EXPECT_FALSE(parse("0x"));
  EXPECT_FALSE(parse("12 \x01"));
  EXPECT_NE(error.find("'?'"), std::string::npos) << error;
}

TEST_F(HexTest, DumpShowsOffsetsBytesAndCharacters) {
  std::vector<uint8_t> data(18);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>('A' + i);
  std::ostringstream os;
  qxscsi::cli::hexDump(os, data.data(), data.size());
  EXPECT_EQ(os.str(),
            "0000  41 42 43 44 45 46 47 48  49 4a 4b 4c 4d 4e 4f 50  ABCDEFGHIJKLMNOP\n"
            "0010  51 52                                             QR\n");
  EXPECT_EQ(qxscsi::cli::toHex(data.data(), 3), "414243");
}

TEST(UntrustedTextTest, EscapesControlCharactersAndInvalidUtf8AndKeepsValidText) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"QXSCSI", "QXSCSI"},
      {"", ""},
      {"a\nb\tc", "a\\x0ab\\x09c"},
      {std::string("x\0y", 3), "x\\x00y"},
      {"\x7f", "\\x7f"},
      {"back\\slash", "back\\x5cslash"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},                 // valid two-byte sequence kept
      {"\xe2\x82\xac", "\xe2\x82\xac"},               // euro sign kept
      {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},       // four bytes kept
      {"\xff\xfe", "\\xff\\xfe"},                     // never valid
      {"\xc3", "\\xc3"},                              // cut short at the end
      {"\xc3(", "\\xc3("},                            // lead byte without continuation
      {"\xc0\xaf", "\\xc0\\xaf"},                     // overlong
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},            // surrogate
      {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},   // beyond U+10FFFF
      {"\xc2\x85", "\\xc2\\x85"},                     // C1 control character
      {"\x80", "\\x80"},                              // lone continuation byte
  };
  for (const auto& c : cases) EXPECT_EQ(qxscsi::cli::untrustedText(c.in), c.out) << c.in;
}

}  // namespace
