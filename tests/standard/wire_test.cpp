// The internal wire helpers: bounded decimal parsing at its edges, big-endian fields of every
// width, status names and the CDBs built in more than one place, byte for byte.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "wire/bytes.h"
#include "wire/cdb.h"
#include "wire/decimal.h"
#include "wire/status.h"

namespace {

namespace wire = qxscsi::wire;
using Bytes = std::vector<unsigned char>;

constexpr unsigned long long untouched = 0xC0FFEEull;

struct DecimalRow {
  const char* text;
  unsigned long long min;
  unsigned long long max;
  bool accepted;
  unsigned long long value;  // when accepted
};

const DecimalRow decimalRows[] = {
    {"", 0, 10, false, 0},
    {"+1", 0, 10, false, 0},
    {"-1", 0, 10, false, 0},
    {" 1", 0, 10, false, 0},
    {"1 ", 0, 10, false, 0},
    {"1a", 0, 10, false, 0},
    {"0x1", 0, 10, false, 0},
    {"0", 0, 10, true, 0},
    {"007", 0, 10, true, 7},
    {"10", 0, 10, true, 10},  // max
    {"11", 0, 10, false, 0},  // max + 1
    {"5", 5, 10, true, 5},    // min
    {"4", 5, 10, false, 0},   // min - 1
    {"0", 1, 10, false, 0},
    {"5", 0, 3, false, 0},  // one digit above a max below 10
    {"9", 0, 0, false, 0},
    {"0", 0, 0, true, 0},
    {"65535", 0, 65535, true, 65535},
    {"65536", 0, 65535, false, 0},
    {"18446744073709551615", 0, ULLONG_MAX, true, ULLONG_MAX},
    {"18446744073709551616", 0, ULLONG_MAX, false, 0},
    {"99999999999999999999", 0, ULLONG_MAX, false, 0},
    {"00000000000000000000000000000001", 0, 1, true, 1},  // length alone is no overflow
};

TEST(WireDecimalTest, WholeTextWithinBounds) {
  for (const DecimalRow& row : decimalRows) {
    unsigned long long out = untouched;
    EXPECT_EQ(wire::parseDecimal(row.text, row.min, row.max, out), row.accepted)
        << '"' << row.text << "\" in [" << row.min << ", " << row.max << "]";
    EXPECT_EQ(out, row.accepted ? row.value : untouched) << '"' << row.text << '"';
  }
}

TEST(WireDecimalTest, TypedBoundsOfTheField) {
  int i = -7;
  EXPECT_TRUE(wire::parseDecimal<int>("2147483647", 0, INT_MAX, i));
  EXPECT_EQ(i, INT_MAX);
  i = -7;
  EXPECT_FALSE(wire::parseDecimal<int>("2147483648", 0, INT_MAX, i));
  EXPECT_FALSE(wire::parseDecimal<int>("101", 0, 100, i));
  EXPECT_EQ(i, -7);
  // Digits never make a negative number: a negative min admits 0, a negative max nothing.
  EXPECT_TRUE(wire::parseDecimal<int>("0", -5, 5, i));
  EXPECT_EQ(i, 0);
  i = -7;
  EXPECT_FALSE(wire::parseDecimal<int>("0", -5, -1, i));
  EXPECT_FALSE(wire::parseDecimal<int>("5", 0, -1, i));
  EXPECT_EQ(i, -7);

  unsigned char c = 9;
  EXPECT_TRUE(wire::parseDecimal<unsigned char>("255", 0, 255, c));
  EXPECT_EQ(c, 255);
  EXPECT_FALSE(wire::parseDecimal<unsigned char>("256", 0, 255, c));
  EXPECT_EQ(c, 255);

  unsigned long u = 3;
  EXPECT_TRUE(wire::parseDecimal<unsigned long>("3600", 1, 3600, u));
  EXPECT_EQ(u, 3600u);
  EXPECT_FALSE(wire::parseDecimal<unsigned long>("3601", 1, 3600, u));
  EXPECT_FALSE(wire::parseDecimal<unsigned long>("0", 1, 3600, u));
  EXPECT_EQ(u, 3600u);
}

struct PrefixRow {
  const char* text;
  std::size_t from;
  unsigned long long max;
  bool accepted;
  unsigned long long value;
  std::size_t end;  // where pos stands afterwards
};

const PrefixRow prefixRows[] = {
    {"12:3", 0, 255, true, 12, 2},
    {"12:3", 3, 255, true, 3, 4},
    {"12:3", 2, 255, false, 0, 2},  // no digit at pos
    {"12:3", 4, 255, false, 0, 4},  // at the end
    {"12", 7, 255, false, 0, 7},    // past the end
    {"", 0, 255, false, 0, 0},
    {"255x", 0, 255, true, 255, 3},
    {"256x", 0, 255, false, 0, 0},  // refused: pos stays
    {"2560", 0, 255, false, 0, 0},
    {"000255:", 0, 255, true, 255, 6},
    {"+1", 0, 255, false, 0, 0},
    {"sg18446744073709551615", 2, ULLONG_MAX, true, ULLONG_MAX, 22},
    {"sg18446744073709551616", 2, ULLONG_MAX, false, 0, 2},
};

TEST(WireDecimalTest, PrefixStopsAtTheFirstNonDigit) {
  for (const PrefixRow& row : prefixRows) {
    std::size_t pos = row.from;
    unsigned long long out = untouched;
    EXPECT_EQ(wire::parseDecimalPrefix(row.text, pos, 0, row.max, out), row.accepted)
        << '"' << row.text << "\" from " << row.from;
    EXPECT_EQ(out, row.accepted ? row.value : untouched) << '"' << row.text << "\" from " << row.from;
    EXPECT_EQ(pos, row.end) << '"' << row.text << "\" from " << row.from;
  }
  std::size_t pos = 0;
  unsigned long long out = untouched;
  EXPECT_FALSE(wire::parseDecimalPrefix("4:", pos, 5, 10, out));  // below min
  EXPECT_EQ(pos, 0u);
  EXPECT_EQ(out, untouched);
}

struct BigEndianRow {
  unsigned width;  // bytes
  unsigned long long value;
  Bytes bytes;
};

const BigEndianRow bigEndianRows[] = {
    {2, 0, {0x00, 0x00}},
    {2, 0x0102, {0x01, 0x02}},
    {2, 0x8000, {0x80, 0x00}},
    {2, 0xFFFF, {0xFF, 0xFF}},
    {3, 0x010203, {0x01, 0x02, 0x03}},
    {3, 0x800000, {0x80, 0x00, 0x00}},
    {3, 0xFFFFFF, {0xFF, 0xFF, 0xFF}},
    {4, 0x01020304, {0x01, 0x02, 0x03, 0x04}},
    {4, 0x80000000, {0x80, 0x00, 0x00, 0x00}},
    {4, 0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF}},
    {8, 0x0102030405060708ull, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}},
    {8, 0x8000000000000001ull, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}},
    {8, ULLONG_MAX, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
};

void put(unsigned width, unsigned char* p, unsigned long long v) {
  switch (width) {
    case 2:
      return wire::putBe16(p, static_cast<uint32_t>(v));
    case 3:
      return wire::putBe24(p, static_cast<uint32_t>(v));
    case 4:
      return wire::putBe32(p, static_cast<uint32_t>(v));
    default:
      return wire::putBe64(p, v);
  }
}

unsigned long long get(unsigned width, const unsigned char* p) {
  switch (width) {
    case 2:
      return wire::getBe16(p);
    case 3:
      return wire::getBe24(p);
    case 4:
      return wire::getBe32(p);
    default:
      return wire::getBe64(p);
  }
}

TEST(WireBytesTest, FieldsMostSignificantFirstAndBack) {
  for (const BigEndianRow& row : bigEndianRows) {
    // One guard byte on either side: nothing outside the field is written.
    Bytes buffer(row.width + 2, 0xEE);
    put(row.width, buffer.data() + 1, row.value);
    Bytes expected = row.bytes;
    expected.insert(expected.begin(), 0xEE);
    expected.push_back(0xEE);
    EXPECT_EQ(buffer, expected) << row.width << " bytes of " << row.value;
    EXPECT_EQ(get(row.width, row.bytes.data()), row.value) << row.width << " bytes of " << row.value;
  }
}

TEST(WireBytesTest, NarrowFieldsKeepTheLowBytes) {
  unsigned char b[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  wire::putBe16(b, 0x12345);
  EXPECT_EQ(Bytes(b, b + 4), (Bytes{0x23, 0x45, 0xEE, 0xEE}));
  wire::putBe24(b, 0x01020304);
  EXPECT_EQ(Bytes(b, b + 4), (Bytes{0x02, 0x03, 0x04, 0xEE}));
}

TEST(WireStatusTest, NamesOfEveryStatusAndOthers) {
  const struct {
    unsigned char status;
    const char* name;
  } rows[] = {
      {0x00, "GOOD"},           {0x02, "CHECK CONDITION"},      {0x04, "CONDITION MET"},
      {0x08, "BUSY"},           {0x18, "RESERVATION CONFLICT"}, {0x28, "TASK SET FULL"},
      {0x30, "ACA ACTIVE"},     {0x40, "TASK ABORTED"},         {0x01, "unknown status"},
      {0x03, "unknown status"}, {0x10, "unknown status"},       {0x22, "unknown status"},
      {0xFF, "unknown status"},
  };
  for (const auto& row : rows) EXPECT_STREQ(wire::statusName(row.status), row.name) << int(row.status);
}

TEST(WireCdbTest, ReportLunsBytes) {
  const struct {
    uint32_t allocationLength;
    Bytes cdb;
  } rows[] = {
      {0, {0xA0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x00, 0, 0}},
      {0x24, {0xA0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x24, 0, 0}},
      {0x01020304, {0xA0, 0, 0, 0, 0, 0, 0x01, 0x02, 0x03, 0x04, 0, 0}},
      {0xFFFFFFFF, {0xA0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}},
  };
  for (const auto& row : rows) {
    unsigned char cdb[12];
    for (unsigned char& b : cdb) b = 0xEE;  // every byte is written
    wire::reportLunsCdb(cdb, row.allocationLength);
    EXPECT_EQ(Bytes(cdb, cdb + 12), row.cdb) << row.allocationLength;
  }
}

TEST(WireCdbTest, InquiryBytes) {
  const struct {
    bool vpd;
    unsigned char page;
    uint16_t allocationLength;
    Bytes cdb;
  } rows[] = {
      {false, 0, 36, {0x12, 0x00, 0x00, 0x00, 0x24, 0x00}},
      {false, 0x83, 255, {0x12, 0x00, 0x00, 0x00, 0xFF, 0x00}},  // no page without EVPD
      {true, 0x00, 4096, {0x12, 0x01, 0x00, 0x10, 0x00, 0x00}},
      {true, 0x83, 0xFFFF, {0x12, 0x01, 0x83, 0xFF, 0xFF, 0x00}},
  };
  for (const auto& row : rows) {
    unsigned char cdb[6];
    for (unsigned char& b : cdb) b = 0xEE;
    wire::inquiryCdb(cdb, row.vpd, row.page, row.allocationLength);
    EXPECT_EQ(Bytes(cdb, cdb + 6), row.cdb) << row.vpd << ' ' << int(row.page) << ' ' << row.allocationLength;
  }
}

}  // namespace
