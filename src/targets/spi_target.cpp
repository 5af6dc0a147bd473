// The parallel-SCSI target: constructors that open at once (by name, by name or adapter
// number with bus/target/LUN, or around a caller's handle), the handle and adapter queries,
// and the SPI free functions of QXScsi.
//
// Without an implementation (no client implementation and no factory product) the handle
// constructor is a failed opening (not valid), handle() answers invalidHandleValue_c and
// adapter() -1; nothing is asked of a missing implementation. A null device name is a failed
// opening as well.
#include <string>
#include <vector>

#include "qxscsi/devices.h"
#include "qxscsi/implementation.h"
#include "qxscsi/naming.h"
#include "qxscsi/parameters.h"
#include "qxscsi/target.h"
#include "qxscsiplatform/connection.h"

namespace {

using ParameterList = std::vector<QXScsi::ParameterData>;

// Leaves the implementation without a handle. It is handed a private copy of the no-handle
// value, so an implementation that writes through the pointer changes nothing shared.
void dropHandle(QXScsiTarget& target) {
  int none = QXScsi::invalidHandleValue_c;
  target.access(&none);
}

// Opens by device descriptor (type -1) made from the name; a failure drops the handle.
void openByName(QXScsiTarget& target, const char* name, const ParameterList* params) {
  if (name == nullptr) {
    dropHandle(target);
    return;
  }
  const QXScsiDevice device{std::string(name)};
  if (!target.initScsiTarget(name, device, -1, params)) dropHandle(target);
}

}  // namespace

QXScsiSPITarget::QXScsiSPITarget() : QXScsiTarget() {}

QXScsiSPITarget::QXScsiSPITarget(const char* name, ParameterList* params) : QXScsiTarget() {
  // The caller's list, when given, receives the default: it sees the added record afterwards.
  ParameterList own;
  ParameterList& list = params != nullptr ? *params : own;
  std::string value;
  QXScsi::getParameter(QXScsi::accessScsiTargetParam(), value, list);
  if (value.empty()) QXScsi::setParameter(QXScsi::accessScsiTargetParam(), "y", list);
  openByName(*this, name, &list);
}

QXScsiSPITarget::QXScsiSPITarget(const char* name, unsigned char bus, unsigned char target, unsigned char lun,
                                 const ParameterList* params)
    : QXScsiTarget(QXScsiLunAddress(bus, target, lun)) {
  openByName(*this, name, params);
}

QXScsiSPITarget::QXScsiSPITarget(unsigned short adapterNumber, unsigned char bus, unsigned char target,
                                 unsigned char lun, const ParameterList* params)
    : QXScsiTarget(QXScsiLunAddress(bus, target, lun)) {
  std::string name;
  QXScsi::formatScsiName(name, adapterNumber);
  openByName(*this, name.c_str(), params);
}

QXScsiSPITarget::QXScsiSPITarget(int handle, const ParameterList*) : QXScsiTarget() {
  QXScsiTargetImpl* impl = getScsiTargetImpl();
  if (impl == nullptr) return;  // nothing to adopt the handle: a failed opening
  access(&handle);
  QXScsiAddress address;
  bool flag = false;
  if (impl->getScsiAddress(address, flag)) {
    setScsiAddress(address);
    valid(true);
  } else {
    dropHandle(*this);
  }
}

QXScsiSPITarget::QXScsiSPITarget(int handle, unsigned char bus, unsigned char target, unsigned char lun,
                                 const ParameterList*)
    : QXScsiTarget(QXScsiLunAddress(bus, target, lun)) {
  access(&handle);
  valid(true);
}

QXScsiSPITarget::~QXScsiSPITarget() {}

QXScsiSPITarget& QXScsiSPITarget::operator=(const QXScsiSPITarget& other) {
  QXScsiTarget::operator=(other);
  return *this;
}

void QXScsiSPITarget::overrideDefaultBehavior(const ParameterList& params) {
  QXScsiTarget::overrideDefaultBehavior(params);
}

int QXScsiSPITarget::handle() const {
  const QXScsiTargetImpl* impl = getScsiTargetImpl();
  return impl != nullptr ? impl->handle() : QXScsi::invalidHandleValue_c;
}

int QXScsiSPITarget::adapter() const {
  const QXScsiTargetImpl* impl = getScsiTargetImpl();
  return impl != nullptr ? impl->adapter() : -1;
}

namespace QXScsi {

bool getScsiAddress(int& first, int& second, int& third, const QXScsiSPITarget& target, int&) {
  first = second = third = -1;
  (void)target.handle();  // lets the target obtain its implementation, as callers expect
  return false;
}

bool failureInEstablishedScsiTcpConnection(const QXScsiTarget& target) {
  return QXScsiPlatform::failureInEstablishedScsiTcpConnection(
      static_cast<long>(target.implementationError()));
}

}  // namespace QXScsi
