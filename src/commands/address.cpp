// SCSI addresses and their bus/target/LUN form.
#include <cstring>

#include "qxscsi/devices.h"

QXScsiAddress::QXScsiAddress()
    : addressBytes{}, validMark(true), undefinedMark(false), otherMethodMark(false) {
  init(undefinedMethod);
}

QXScsiAddress::QXScsiAddress(AddressMethod m)
    : addressBytes{}, validMark(true), undefinedMark(false), otherMethodMark(false) {
  init(m);
}

QXScsiAddress::QXScsiAddress(const QXScsiAddress& other)
    : validMark(other.validMark), undefinedMark(!other.defined()), otherMethodMark(other.otherMethodMark) {
  std::memcpy(addressBytes, other.addressBytes, sizeof addressBytes);
}

QXScsiAddress::~QXScsiAddress() {}

void QXScsiAddress::init(AddressMethod m) {
  std::memset(addressBytes, 0, sizeof addressBytes);
  if (m == otherMethod) {
    otherMethodMark = true;
  } else if (m == undefinedMethod) {
    undefinedMark = true;
  } else {
    otherMethodMark = false;
    if (m == lunMethod) addressBytes[0] = 0x80;
  }
}

void QXScsiAddress::reset() { init(undefinedMethod); }
bool QXScsiAddress::valid() const { return validMark; }
void QXScsiAddress::valid(bool v) { validMark = v; }
bool QXScsiAddress::defined() const { return !undefinedMark; }
void QXScsiAddress::defined(bool d) { undefinedMark = !d; }

QXScsiAddress::AddressMethod QXScsiAddress::addressMethod() const {
  if (otherMethodMark) return otherMethod;
  return (addressBytes[0] & 0x80) != 0 ? lunMethod : byteMethod;
}

bool QXScsiAddress::toLunAddress(QXScsiLunAddress& out) const {
  if (addressMethod() != lunMethod) return false;
  out = *this;
  return true;
}

void QXScsiAddress::orByte(unsigned char index, unsigned char value) {
  if (index < sizeof addressBytes) addressBytes[index] |= value;
}

unsigned char QXScsiAddress::addressByte(unsigned char index) const {
  return index < sizeof addressBytes ? addressBytes[index] : 0;
}

QXScsiLunAddress::QXScsiLunAddress() : QXScsiAddress(undefinedMethod) {}

QXScsiLunAddress::QXScsiLunAddress(unsigned char bus, unsigned char target, unsigned char lun)
    : QXScsiAddress(lunMethod) {
  set(bus, target, lun);
}

QXScsiLunAddress::~QXScsiLunAddress() {}

void QXScsiLunAddress::set(unsigned char bus, unsigned char target, unsigned char lun) {
  orByte(1, bus);
  orByte(2, target);
  orByte(3, lun);
  defined(true);
}

unsigned char QXScsiLunAddress::bus() const { return addressByte(1); }
unsigned char QXScsiLunAddress::target() const { return addressByte(2); }
unsigned char QXScsiLunAddress::lun() const { return addressByte(3); }

QXScsiLunAddress& QXScsiLunAddress::operator=(const QXScsiAddress& a) {
  std::memcpy(addressBytes, a.addressBytes, sizeof addressBytes);
  return *this;
}
