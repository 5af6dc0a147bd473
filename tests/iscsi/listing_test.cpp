// REPORT LUNS parameter data as the portal listing reads it: only whole entries that arrived.
#include <gtest/gtest.h>

#include "listing.h"

namespace qxscsi::backends::iscsi {
namespace {

class IscsiListingTest : public ::testing::Test {
 protected:
  // A REPORT LUNS answer announcing `announced` bytes of list, with the given 8-byte entries.
  static std::vector<unsigned char> answer(unsigned announced,
                                           std::vector<std::vector<unsigned char>> entries) {
    std::vector<unsigned char> d = {static_cast<unsigned char>(announced >> 24),
                                    static_cast<unsigned char>(announced >> 16),
                                    static_cast<unsigned char>(announced >> 8),
                                    static_cast<unsigned char>(announced),
                                    0,
                                    0,
                                    0,
                                    0};
    for (auto& e : entries) {
      e.resize(8, 0);
      d.insert(d.end(), e.begin(), e.end());
    }
    return d;
  }
};

TEST_F(IscsiListingTest, PeripheralAndFlatEntries) {
  auto d = answer(32, {{0x00, 0x00}, {0x00, 0x01}, {0x41, 0x2C}, {0x00, 0xFF}});
  EXPECT_EQ(parseReportLuns(d.data(), d.size()), (std::vector<int>{0, 1, 300, 255}));
}

// Each addressing method decoded by its own rule: a peripheral entry names a bus in byte 0, and
// only bus 0 is a single-level LUN; flat space holds 14 bits.
TEST_F(IscsiListingTest, EntriesDecodedByTheirAddressingMethod) {
  const std::pair<std::vector<unsigned char>, std::vector<int>> cases[] = {
      {{0x01, 0x2C}, {}},                   // peripheral, bus 1: not LUN 300
      {{0x3F, 0xFF}, {}},                   // peripheral, bus 63
      {{0x40, 0x00}, {0}},                  // flat space 0
      {{0x40, 0xFF}, {255}},                // flat space 255
      {{0x41, 0x00}, {256}},                // flat space 256
      {{0x7F, 0xFF}, {16383}},              // flat space, the largest
      {{0x00, 0x05, 0x00, 0x01}, {}},       // a second level: not single-level
      {{0x40, 0x05, 0, 0, 0, 0, 0, 1}, {}}, // the same in the last byte
  };
  for (const auto& [entry, luns] : cases) {
    auto d = answer(8, {entry});
    EXPECT_EQ(parseReportLuns(d.data(), d.size()), luns) << int(entry[0]) << " " << int(entry[1]);
  }
}

TEST_F(IscsiListingTest, OtherAddressingMethodsAreSkipped) {
  auto d = answer(24, {{0x80, 0x01}, {0xC0, 0x02}, {0x00, 0x07}});
  EXPECT_EQ(parseReportLuns(d.data(), d.size()), (std::vector<int>{7}));
}

TEST_F(IscsiListingTest, OnlyWholeEntriesWithinLengthAndReceivedBytes) {
  auto d = answer(20, {{0x00, 0x01}, {0x00, 0x02}, {0x00, 0x03}});
  EXPECT_EQ(parseReportLuns(d.data(), d.size()), (std::vector<int>{1, 2}));  // 20 announced: 2 whole
  auto e = answer(24, {{0x00, 0x01}, {0x00, 0x02}, {0x00, 0x03}});
  EXPECT_EQ(parseReportLuns(e.data(), 8 + 8 + 7), (std::vector<int>{1}));  // the second was cut short
  EXPECT_EQ(parseReportLuns(e.data(), 7), std::vector<int>{});
  EXPECT_EQ(parseReportLuns(nullptr, 64), std::vector<int>{});
  auto huge = answer(0xFFFFFFF8u, {{0x00, 0x04}});
  EXPECT_EQ(parseReportLuns(huge.data(), huge.size()), (std::vector<int>{4}));
}

}  // namespace
}  // namespace qxscsi::backends::iscsi
