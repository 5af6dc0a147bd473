// Addresses and device descriptors: SCSI and bus/target/LUN addresses, device types, default timeouts.
#pragma once

#include <string>

#include "qxscsi/export.h"

class QXScsiArgs;
class QXScsiLunAddress;

// An eight-byte SCSI address with an address method and valid/defined/method-3 marks. Plain value.
class QXSCSI_EXPORT QXScsiAddress {
 public:
  enum AddressMethod { undefinedMethod = 0, lunMethod = 1, byteMethod = 2, otherMethod = 3 };

  // Valid, undefined, zero bytes (reports byteMethod).
  QXScsiAddress();
  // Valid, defined, then init(m).
  explicit QXScsiAddress(AddressMethod m);
  // Copies the bytes and all three marks; nothing is shared.
  QXScsiAddress(const QXScsiAddress& other);
  QXScsiAddress& operator=(const QXScsiAddress& other) = default;
  ~QXScsiAddress();

  // Clears the bytes and applies method m (never clears the undefined mark).
  void init(AddressMethod m);
  // init(undefinedMethod).
  void reset();
  // The valid mark.
  bool valid() const;
  void valid(bool v);
  // The inverse of the undefined mark.
  bool defined() const;
  void defined(bool d);
  // otherMethod if marked so, else lunMethod when byte 0 bit 7 is set, else byteMethod.
  AddressMethod addressMethod() const;
  // For a lunMethod address copies the bytes (only) into out and answers true; else leaves out alone.
  bool toLunAddress(QXScsiLunAddress& out) const;
  // ORs value into byte index; an index above 7 is ignored.
  void orByte(unsigned char index, unsigned char value);
  // Byte index of the address; 0 for an index above 7.
  unsigned char addressByte(unsigned char index) const;

 private:
  friend class QXScsiLunAddress;

  unsigned char addressBytes[8];
  bool validMark;
  bool undefinedMark;
  bool otherMethodMark;
};

// Bus/target/LUN view of an address: bytes 80h, bus, target, LUN, then four zero bytes.
class QXSCSI_EXPORT QXScsiLunAddress : public QXScsiAddress {
 public:
  // Undefined, zero bytes.
  QXScsiLunAddress();
  // lunMethod address holding bus, target and lun; defined.
  QXScsiLunAddress(unsigned char bus, unsigned char target, unsigned char lun);
  // Runs the base destructor only.
  ~QXScsiLunAddress();

  // ORs the three numbers into bytes 1-3 and marks the address defined.
  void set(unsigned char bus, unsigned char target, unsigned char lun);
  // Bytes 1, 2 and 3.
  unsigned char bus() const;
  unsigned char target() const;
  unsigned char lun() const;
  // Copies only the eight bytes of a; the marks of this object stay.
  QXScsiLunAddress& operator=(const QXScsiAddress& a);
};

// A device descriptor: a type number (-1 for none, else 101-109) and a name of at most 64 bytes.
class QXSCSI_EXPORT QXScsiDevice {
 public:
  // Type -1 unless given; the name (copied, cut at 64 bytes) is empty unless given.
  QXScsiDevice();
  explicit QXScsiDevice(int type);
  QXScsiDevice(const std::string& name, int type);
  explicit QXScsiDevice(const std::string& name);
  ~QXScsiDevice();

  // Zero-fills the name field, then copies at most 64 bytes of name.c_str() into it.
  void init(const std::string& name);
  // The type number, -1 for none.
  int deviceType() const;
  // True for the types 101, 104, 106, 107 and 109.
  bool isDirectAccess() const;
  // The name field up to its first zero byte, or all 64 bytes when it has none.
  std::string name() const;
  // Whether name() is not empty.
  bool nameDefined() const;
  // Default timeout in seconds for the command in args (30 unless the medium-changer table says more).
  unsigned long timeout(const QXScsiArgs& args) const;
  // Medium-changer timeout by operation code: 3600 for 07h, 60 for A5h/A7h, else 30.
  unsigned long mediumChangerTimeout(const QXScsiArgs& args) const;

 private:
  int deviceType_;
  char deviceName[64];
};

// Device of type 103.
class QXSCSI_EXPORT QXScsiMediumChanger : public QXScsiDevice {
 public:
  // The name is copied into the descriptor.
  explicit QXScsiMediumChanger(const std::string& name);
  ~QXScsiMediumChanger();
};

// Device of type 102.
class QXSCSI_EXPORT QXScsiStreamDevice : public QXScsiDevice {
 public:
  // The name is copied into the descriptor.
  explicit QXScsiStreamDevice(const std::string& name);
  ~QXScsiStreamDevice();
};

namespace QXScsi {
// Returns t unchanged (seconds stay seconds).
QXSCSI_EXPORT unsigned long convertTimeout(unsigned long t);
// Returns t unchanged (no upper limit).
QXSCSI_EXPORT unsigned long checkMaxTimeout(unsigned long t);
}  // namespace QXScsi
