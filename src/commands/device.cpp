// Device descriptors, their default timeouts, and the timeout helpers.
#include <cstring>

#include "qxscsi/commands.h"
#include "qxscsi/devices.h"

namespace {
constexpr int kStreamDevice = 102;
constexpr int kMediumChanger = 103;
constexpr unsigned long kDefaultTimeout = 30;
}  // namespace

QXScsiDevice::QXScsiDevice() : QXScsiDevice(-1) {}

QXScsiDevice::QXScsiDevice(int type) : deviceType_(type), deviceName{} {}

QXScsiDevice::QXScsiDevice(const std::string& name, int type) : deviceType_(type), deviceName{} {
  init(name);
}

QXScsiDevice::QXScsiDevice(const std::string& name) : QXScsiDevice(name, -1) {}

QXScsiDevice::~QXScsiDevice() {}

void QXScsiDevice::init(const std::string& name) {
  std::memset(deviceName, 0, sizeof deviceName);
  const char* text = name.c_str();
  std::memcpy(deviceName, text, strnlen(text, sizeof deviceName));
}

int QXScsiDevice::deviceType() const { return deviceType_; }

bool QXScsiDevice::isDirectAccess() const {
  switch (deviceType_) {
    case 101:
    case 104:
    case 106:
    case 107:
    case 109:
      return true;
    default:
      return false;
  }
}

std::string QXScsiDevice::name() const {
  return std::string(deviceName, strnlen(deviceName, sizeof deviceName));
}

bool QXScsiDevice::nameDefined() const { return deviceName[0] != '\0'; }

unsigned long QXScsiDevice::timeout(const QXScsiArgs& args) const {
  unsigned long t = 0;
  if (deviceType_ == kMediumChanger) t = mediumChangerTimeout(args);
  return t == 0 ? kDefaultTimeout : t;
}

unsigned long QXScsiDevice::mediumChangerTimeout(const QXScsiArgs& args) const {
  switch (args.operationCode()) {
    case 0x07:  // INITIALIZE ELEMENT STATUS
      return 3600;
    case 0xA5:  // MOVE MEDIUM
    case 0xA7:  // MOVE MEDIUM ATTACHED
      return 60;
    default:
      return kDefaultTimeout;
  }
}

QXScsiMediumChanger::QXScsiMediumChanger(const std::string& name) : QXScsiDevice(name, kMediumChanger) {}
QXScsiMediumChanger::~QXScsiMediumChanger() {}

QXScsiStreamDevice::QXScsiStreamDevice(const std::string& name) : QXScsiDevice(name, kStreamDevice) {}
QXScsiStreamDevice::~QXScsiStreamDevice() {}

namespace QXScsi {
unsigned long convertTimeout(unsigned long t) { return t; }
unsigned long checkMaxTimeout(unsigned long t) { return t; }
}  // namespace QXScsi
