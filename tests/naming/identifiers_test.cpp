// QXScsiWWN and QXScsiPortID: wire-order bytes, exact widths, null sources and destinations.
#include <gtest/gtest.h>

#include <type_traits>
#include <vector>

#include "qxscsi/identifiers.h"

namespace {

static_assert(sizeof(QXScsiWWN) == 8 && sizeof(QXScsiPortID) == 3, "the bytes are the whole object");
static_assert(std::is_trivially_copyable<QXScsiWWN>::value && std::is_trivially_copyable<QXScsiPortID>::value,
              "copying copies the bytes");

class IdentifiersTest : public ::testing::Test {
 protected:
  // Formats into the middle of guard bytes, so a write past the width shows.
  template <typename Id>
  std::vector<unsigned char> formatted(const Id& id) {
    std::vector<unsigned char> out(sizeof(Id) + 4, 0xEE);
    EXPECT_TRUE(id.format(out.data() + 2));
    return out;
  }
  static std::vector<unsigned char> guarded(std::vector<unsigned char> bytes) {
    bytes.insert(bytes.begin(), {0xEE, 0xEE});
    bytes.insert(bytes.end(), {0xEE, 0xEE});
    return bytes;
  }
};

TEST_F(IdentifiersTest, NameFromAValueIsInWireOrder) {
  EXPECT_EQ(formatted(QXScsiWWN(0x0102030405060708ULL)), guarded({1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(formatted(QXScsiWWN(0ULL)), guarded({0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(formatted(QXScsiWWN(0x500A098012345678ULL)),
            guarded({0x50, 0x0A, 0x09, 0x80, 0x12, 0x34, 0x56, 0x78}));
  EXPECT_EQ(formatted(QXScsiWWN(~0ULL)), guarded({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(IdentifiersTest, PortIdFromAValueIsInWireOrder) {
  EXPECT_EQ(formatted(QXScsiPortID(0x010203UL)), guarded({1, 2, 3}));
  EXPECT_EQ(formatted(QXScsiPortID(0UL)), guarded({0, 0, 0}));
  EXPECT_EQ(formatted(QXScsiPortID(0xFFFFFFUL)), guarded({0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(formatted(QXScsiPortID(0x7F010203UL)), guarded({1, 2, 3})) << "low 24 bits only";
}

TEST_F(IdentifiersTest, BytesAreTakenUnchangedAndCopied) {
  unsigned char name[8] = {8, 7, 6, 5, 4, 3, 2, 1};
  unsigned char port[3] = {0x0A, 0x0B, 0x0C};
  QXScsiWWN wwn(name);
  QXScsiPortID id(port);
  name[0] = 0;
  port[0] = 0;  // the objects hold their own copies
  EXPECT_EQ(formatted(wwn), guarded({8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(formatted(id), guarded({0x0A, 0x0B, 0x0C}));
}

TEST_F(IdentifiersTest, AssignmentFromBytesOrValueReplacesAndNullKeepsTheEarlierValue) {
  QXScsiWWN wwn(0x1112131415161718ULL);
  wwn = static_cast<unsigned char*>(nullptr);
  EXPECT_EQ(formatted(wwn), guarded({0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18}));
  unsigned char name[8] = {1, 1, 2, 3, 5, 8, 13, 21};
  wwn = name;
  EXPECT_EQ(formatted(wwn), guarded({1, 1, 2, 3, 5, 8, 13, 21}));
  wwn = 0x0102030405060708ULL;
  EXPECT_EQ(formatted(wwn), guarded({1, 2, 3, 4, 5, 6, 7, 8}));

  QXScsiPortID id(0x010203UL);
  id = static_cast<unsigned char*>(nullptr);
  EXPECT_EQ(formatted(id), guarded({1, 2, 3}));
  unsigned char port[3] = {0x0A, 0x0B, 0x0C};
  id = port;
  EXPECT_EQ(formatted(id), guarded({0x0A, 0x0B, 0x0C}));
  id = 0x123456UL;
  EXPECT_EQ(formatted(id), guarded({0x12, 0x34, 0x56}));
}

TEST_F(IdentifiersTest, NullSourceInTheConstructorGivesZeroBytes) {
  EXPECT_EQ(formatted(QXScsiWWN(static_cast<unsigned char*>(nullptr))), guarded({0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(formatted(QXScsiPortID(static_cast<unsigned char*>(nullptr))), guarded({0, 0, 0}));
}

TEST_F(IdentifiersTest, FormatToNullWritesNothingAndAnswersFalse) {
  EXPECT_FALSE(QXScsiWWN(1ULL).format(nullptr));
  EXPECT_FALSE(QXScsiPortID(1UL).format(nullptr));
}

TEST_F(IdentifiersTest, CopiesAreIndependent) {
  QXScsiPortID original(0x010203UL);
  QXScsiPortID copy = original;
  original = 0x040506UL;
  EXPECT_EQ(formatted(copy), guarded({1, 2, 3}));
  EXPECT_EQ(formatted(original), guarded({4, 5, 6}));
}

}  // namespace
