// Addresses, bus/target/LUN addresses, device descriptors and their default timeouts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qxscsi/commands.h"
#include "qxscsi/devices.h"

namespace {

std::vector<unsigned char> bytesOf(const QXScsiAddress& a) {
  std::vector<unsigned char> out;
  for (unsigned char i = 0; i < 8; ++i) out.push_back(a.addressByte(i));
  return out;
}

class AddressDeviceTest : public ::testing::Test {
 protected:
  const std::vector<unsigned char> zero = std::vector<unsigned char>(8, 0);
};

TEST_F(AddressDeviceTest, DefaultAddressIsValidUndefinedByteMethod) {
  QXScsiAddress a;
  EXPECT_TRUE(a.valid());
  EXPECT_FALSE(a.defined());
  EXPECT_EQ(bytesOf(a), zero);
  EXPECT_EQ(a.addressMethod(), QXScsiAddress::byteMethod);
}

TEST_F(AddressDeviceTest, MethodConstructorsAreDefined) {
  QXScsiAddress lun(QXScsiAddress::lunMethod);
  EXPECT_TRUE(lun.defined());
  EXPECT_EQ(lun.addressMethod(), QXScsiAddress::lunMethod);
  EXPECT_EQ(bytesOf(lun), std::vector<unsigned char>({0x80, 0, 0, 0, 0, 0, 0, 0}));
  QXScsiAddress other(QXScsiAddress::otherMethod);
  EXPECT_TRUE(other.defined());
  EXPECT_EQ(bytesOf(other), zero);
  EXPECT_EQ(other.addressMethod(), QXScsiAddress::otherMethod);
  QXScsiAddress undefined(QXScsiAddress::undefinedMethod);
  EXPECT_FALSE(undefined.defined());
}

TEST_F(AddressDeviceTest, LunAddressWireBytes) {
  QXScsiLunAddress a(1, 2, 3);
  EXPECT_EQ(bytesOf(a), std::vector<unsigned char>({0x80, 1, 2, 3, 0, 0, 0, 0}));
  EXPECT_TRUE(a.valid());
  EXPECT_TRUE(a.defined());
  EXPECT_EQ(a.addressMethod(), QXScsiAddress::lunMethod);
  EXPECT_EQ(a.bus(), 1);
  EXPECT_EQ(a.target(), 2);
  EXPECT_EQ(a.lun(), 3);
  QXScsiLunAddress max(255, 255, 255);
  EXPECT_EQ(bytesOf(max), std::vector<unsigned char>({0x80, 255, 255, 255, 0, 0, 0, 0}));
}

TEST_F(AddressDeviceTest, SetOrsIntoTheBytes) {
  QXScsiLunAddress a(1, 0, 0);
  a.set(2, 0, 0);
  EXPECT_EQ(a.bus(), 3);
  QXScsiLunAddress blank;
  EXPECT_FALSE(blank.defined());
  blank.set(4, 5, 6);
  EXPECT_TRUE(blank.defined());
  // Without init(lunMethod) the bytes carry no method bit.
  EXPECT_EQ(blank.addressMethod(), QXScsiAddress::byteMethod);
}

TEST_F(AddressDeviceTest, ToLunAddressCopiesBytesOnlyForLunMethod) {
  QXScsiLunAddress source(7, 8, 9);
  source.valid(false);
  QXScsiLunAddress out;
  ASSERT_TRUE(source.toLunAddress(out));
  EXPECT_EQ(bytesOf(out), bytesOf(source));
  EXPECT_FALSE(out.defined());  // marks stay those of the left side
  EXPECT_TRUE(out.valid());

  QXScsiLunAddress untouched(1, 2, 3);
  QXScsiAddress byteAddress(QXScsiAddress::byteMethod);
  byteAddress.orByte(1, 0x7F);
  EXPECT_FALSE(byteAddress.toLunAddress(untouched));
  QXScsiAddress otherAddress(QXScsiAddress::otherMethod);
  otherAddress.orByte(0, 0x80);  // the method-3 mark wins over the bit
  EXPECT_EQ(otherAddress.addressMethod(), QXScsiAddress::otherMethod);
  EXPECT_FALSE(otherAddress.toLunAddress(untouched));
  EXPECT_EQ(bytesOf(untouched), std::vector<unsigned char>({0x80, 1, 2, 3, 0, 0, 0, 0}));
}

TEST_F(AddressDeviceTest, LunAssignmentFromAddressReplacesBytes) {
  QXScsiLunAddress target(0xFF, 0xFF, 0xFF);
  QXScsiAddress source(QXScsiAddress::lunMethod);
  source.orByte(2, 0x01);
  target = source;
  EXPECT_EQ(bytesOf(target), std::vector<unsigned char>({0x80, 0, 1, 0, 0, 0, 0, 0}));
}

TEST_F(AddressDeviceTest, InitAndResetNeverClearTheUndefinedMark) {
  QXScsiAddress other(QXScsiAddress::otherMethod);
  other.orByte(3, 9);
  other.reset();
  EXPECT_EQ(bytesOf(other), zero);
  EXPECT_FALSE(other.defined());
  EXPECT_EQ(other.addressMethod(), QXScsiAddress::otherMethod);

  QXScsiAddress a;
  a.init(QXScsiAddress::lunMethod);
  EXPECT_FALSE(a.defined());
  EXPECT_EQ(a.addressMethod(), QXScsiAddress::lunMethod);
  a.init(QXScsiAddress::byteMethod);
  EXPECT_EQ(a.addressMethod(), QXScsiAddress::byteMethod);
  a.defined(true);
  EXPECT_TRUE(a.defined());
}

TEST_F(AddressDeviceTest, OrByteIgnoresIndexBeyondSeven) {
  QXScsiAddress a(QXScsiAddress::byteMethod);
  a.orByte(8, 0xFF);
  a.orByte(255, 0xFF);
  EXPECT_EQ(bytesOf(a), zero);
  a.orByte(7, 0x0F);
  a.orByte(7, 0xF0);
  EXPECT_EQ(a.addressByte(7), 0xFF);
  EXPECT_EQ(a.addressByte(8), 0);
}

TEST_F(AddressDeviceTest, CopiesAreIndistinguishable) {
  QXScsiAddress a(QXScsiAddress::otherMethod);
  a.orByte(5, 0x42);
  a.valid(false);
  a.defined(false);
  QXScsiAddress copy(a);
  QXScsiAddress assigned;
  assigned = a;
  for (const QXScsiAddress* c : {&copy, &assigned}) {
    EXPECT_EQ(bytesOf(*c), bytesOf(a));
    EXPECT_FALSE(c->valid());
    EXPECT_FALSE(c->defined());
    EXPECT_EQ(c->addressMethod(), QXScsiAddress::otherMethod);
  }
}

TEST_F(AddressDeviceTest, DefaultDeviceHasNoTypeNoNameAnd30Seconds) {
  QXScsiDevice d;
  EXPECT_EQ(d.deviceType(), -1);
  EXPECT_EQ(d.name(), "");
  EXPECT_FALSE(d.nameDefined());
  EXPECT_FALSE(d.isDirectAccess());
  for (unsigned char op : {0x00, 0x07, 0xA5, 0xA7, 0x12}) EXPECT_EQ(d.timeout(QXScsiArgs(op, 6)), 30u);
}

TEST_F(AddressDeviceTest, DirectAccessTypes) {
  std::vector<int> direct;
  for (int type = 100; type <= 110; ++type)
    if (QXScsiDevice(type).isDirectAccess()) direct.push_back(type);
  EXPECT_EQ(direct, std::vector<int>({101, 104, 106, 107, 109}));
  EXPECT_FALSE(QXScsiDevice(-1).isDirectAccess());
}

TEST_F(AddressDeviceTest, MediumChangerTimeoutTable) {
  QXScsiMediumChanger changer("/dev/sch0");
  EXPECT_EQ(changer.deviceType(), 103);
  EXPECT_EQ(changer.name(), "/dev/sch0");
  EXPECT_EQ(changer.timeout(QXScsiArgs(0x07, 6)), 3600u);
  EXPECT_EQ(changer.timeout(QXScsiArgs(0xA5, 12)), 60u);
  EXPECT_EQ(changer.timeout(QXScsiArgs(0xA7, 12)), 60u);
  EXPECT_EQ(changer.timeout(QXScsiArgs(0x00, 6)), 30u);
  QXScsiStreamDevice tape("/dev/nst0");
  EXPECT_EQ(tape.deviceType(), 102);
  for (unsigned char op : {0x00, 0x07, 0xA5, 0xA7}) EXPECT_EQ(tape.timeout(QXScsiArgs(op, 6)), 30u);
  // The table itself answers for any device.
  EXPECT_EQ(tape.mediumChangerTimeout(QXScsiArgs(0x07, 6)), 3600u);
  EXPECT_EQ(QXScsiDevice(999).timeout(QXScsiArgs(0x07, 6)), 30u);
}

TEST_F(AddressDeviceTest, NameIsCutToTheField) {
  const std::string n63(63, 'a');
  EXPECT_EQ(QXScsiDevice(n63).name(), n63);
  const std::string n64(64, 'b');
  EXPECT_EQ(QXScsiDevice(n64, 101).name(), n64);
  const std::string n100 = std::string(64, 'c') + std::string(36, 'd');
  QXScsiDevice longName(n100);
  EXPECT_EQ(longName.name(), std::string(64, 'c'));
  EXPECT_TRUE(longName.nameDefined());
  longName.init("sda");
  EXPECT_EQ(longName.name(), "sda");  // the rest of the field is zero again
}

TEST_F(AddressDeviceTest, NameStopsAtEmbeddedZero) {
  QXScsiDevice d(std::string("ab\0cd", 5));
  EXPECT_EQ(d.name(), "ab");
  QXScsiDevice empty(std::string("\0x", 2));
  EXPECT_FALSE(empty.nameDefined());
}

}  // namespace
