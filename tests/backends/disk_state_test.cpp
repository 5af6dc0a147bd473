// The kept state of an emulated disk: its byte layout and how damaged bytes are refused.
#include <gtest/gtest.h>

#include "disk_state.h"

namespace qxscsi::backends::emulated {
namespace {

using Bytes = std::vector<unsigned char>;

uint32_t crc(const Bytes& b, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    c ^= b[i];
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
  }
  return ~c;
}

// Replaces the checksum so that only the damage put in is seen.
Bytes resealed(Bytes b) {
  const uint32_t c = crc(b, b.size() - 4);
  for (int i = 0; i < 4; ++i) b[b.size() - 4 + i] = static_cast<unsigned char>(c >> (24 - 8 * i));
  return b;
}

DiskState sample() {
  DiskState s;
  s.units.resize(2);
  s.units[0].savedPages[0x0A] = {0x0A, 0x0A, 0x02, 0x10, 0, 0, 0, 0, 0, 0, 0, 0};
  Reservations& r = s.units[1].reservations;
  r.aptpl = true;
  r.generation = 0x01020304;
  r.type = 0x01;
  r.holder = "ab";
  r.keys["ab"] = 0x1122334455667788ull;
  return s;
}

TEST(DiskStateTest, LayoutByteForByte) {
  const Bytes expected = {'Q', 'X', 'D', 'S', 1, 0, 2,
                          // unit 0: one page, no APTPL
                          1, 0x0A, 0x0A, 0x02, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0x00,
                          // unit 1: no page; APTPL, generation, type, holder, one registration
                          0, 0x01, 1, 2, 3, 4, 0x01, 2, 'a', 'b', 0, 1, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66,
                          0x77, 0x88, 2, 'a', 'b'};
  Bytes got = sample().encode();
  ASSERT_EQ(got.size(), expected.size() + 4);
  EXPECT_EQ(Bytes(got.begin(), got.end() - 4), expected);
  EXPECT_EQ(got, resealed(got));
  EXPECT_EQ(crc(Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 9), 0xCBF43926u);  // the IEEE CRC-32
  DiskState back;
  std::string error;
  ASSERT_TRUE(DiskState::decode(got, &back, &error)) << error;
  EXPECT_EQ(back, sample());
}

TEST(DiskStateTest, DamagedBytesAreRefusedAndLeaveTheOutputAlone) {
  const Bytes good = sample().encode();
  std::vector<std::pair<std::string, Bytes>> cases;
  for (size_t n = 0; n < good.size(); ++n)
    cases.push_back({"cut to " + std::to_string(n), Bytes(good.begin(), good.begin() + n)});
  for (size_t i = 0; i < good.size(); ++i) {
    Bytes b = good;
    b[i] ^= 0x20;
    cases.push_back({"byte " + std::to_string(i) + " flipped", b});
  }
  auto patched = [&](size_t at, unsigned char v) {
    Bytes b = good;
    b[at] = v;
    return resealed(b);
  };
  cases.push_back({"version 2", patched(4, 2)});
  cases.push_back({"three units", patched(6, 3)});
  cases.push_back({"page 0Bh", patched(8, 0x0B)});
  cases.push_back({"page length", patched(9, 0x09)});
  cases.push_back({"flags", patched(20, 0x04)});
  cases.push_back({"reservation type 2", patched(27, 0x02)});
  cases.push_back({"holder not registered", patched(29, 'x')});
  Bytes longer = good;
  longer.insert(longer.end() - 4, 0x00);
  cases.push_back({"a byte beyond the last unit", resealed(longer)});
  DiskState twice = sample();
  twice.units[1].reservations.keys.clear();
  cases.push_back({"a reservation without registrations", twice.encode()});
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    DiskState out = sample();
    std::string error;
    EXPECT_FALSE(DiskState::decode(bytes, &out, &error));
    EXPECT_EQ(error.rfind("disk state: ", 0), 0u) << error;
    EXPECT_EQ(out, sample());
  }
  DiskState none;
  std::string error;
  EXPECT_TRUE(DiskState::decode(DiskState().encode(), &none, &error)) << error;
  EXPECT_TRUE(none.units.empty());
}

TEST(DiskStateTest, HeldCopyResultsLayoutAndDamage) {
  DiskState s;
  s.units.resize(1);
  s.units[0].copies[7] = HeldCopy{0x02, 3, 0x1000};
  s.units[0].copies[9] = HeldCopy{0x01, 1, 512};
  const Bytes expected = {'Q', 'X', 'D', 'S', 1, 0, 1, 0, 0x02, 0, 2,  // no page; copies, no APTPL
                          7,   0x02, 0, 3, 0, 0, 0x10, 0x00,            // list 7: with errors
                          9,   0x01, 0, 1, 0, 0, 0x02, 0x00};           // list 9
  const Bytes got = s.encode();
  ASSERT_EQ(got.size(), expected.size() + 4);
  EXPECT_EQ(Bytes(got.begin(), got.end() - 4), expected);
  DiskState back;
  std::string error;
  ASSERT_TRUE(DiskState::decode(got, &back, &error)) << error;
  EXPECT_EQ(back, s);

  auto patched = [&](size_t at, unsigned char v) {
    Bytes b = got;
    b[at] = v;
    return resealed(b);
  };
  const std::pair<const char*, Bytes> cases[] = {
      {"no results", patched(10, 0)},  {"more than were written", patched(10, 3)},
      {"copy state 3", patched(12, 3)}, {"one list twice", patched(19, 7)},
      {"over 256", patched(9, 0x01)}};
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    DiskState out;
    EXPECT_FALSE(DiskState::decode(bytes, &out, &error));
    EXPECT_TRUE(out.units.empty());
  }
}

}  // namespace
}  // namespace qxscsi::backends::emulated
