// Opening, re-opening, closing and access of a target, and its current address.
#include <string>

#include "qxscsi/naming.h"
#include "qxscsi/target.h"

namespace {

constexpr long kNoImplementation = -4;
constexpr long kShared = -9;
constexpr long kAccessNotApplicable = QXScsiPlatform::targetAccessNotApplicable_c;  // -8
constexpr long kNoScsiAddress = QXScsiPlatform::noScsiAddress_c;                    // -7
constexpr int kAccessTargetFlag = 1;
constexpr int kAccessMustSucceedFlag = 2;
constexpr int kExclusiveFlag = 6;

bool present(const QXScsiTarget::Parameters* params) { return params != nullptr && !params->empty(); }

}  // namespace

bool QXScsiTarget::initScsiTarget(const char* name, const QXScsiAddress& address, int mode,
                                  const Parameters* params) {
  // Copied first: a re-open passes the remembered name and address themselves.
  const std::string nameText(name != nullptr ? name : "");
  const QXScsiAddress addressCopy(address);
  bool ok = true;
  if (present(params)) overrideDefaultBehavior(*params);
  QXScsiTargetImpl* impl = getScsiTargetImpl();
  if (impl == nullptr) ok = false;
  if (ok && present(params)) impl->overrideDefaultBehavior(*params);
  if (ok) {
    ok = override(kExclusiveFlag) ? impl->accessExclusive(nameText.c_str(), mode)
                                  : impl->access(nameText.c_str(), mode);
  }
  if (ok && override(kAccessTargetFlag)) {
    const bool accessed =
        addressCopy.defined() ? accessScsiTarget(addressCopy) : accessScsiTarget(QXScsiDevice(nameText));
    if (!accessed && override(kAccessMustSucceedFlag)) ok = false;
  }
  if (ok) valid(true);
  openName = nameText;
  openAddress = addressCopy;
  accessMode = mode;
  return ok;
}

bool QXScsiTarget::initScsiTarget(const char* name, const QXScsiDevice& device, int mode,
                                  const Parameters* params) {
  const std::string nameText(name != nullptr ? name : "");
  const QXScsiDevice deviceCopy(device);
  bool ok = true;
  if (present(params)) overrideDefaultBehavior(*params);
  QXScsiTargetImpl* impl = getScsiTargetImpl();
  if (impl == nullptr) ok = false;
  if (ok && present(params)) impl->overrideDefaultBehavior(*params);
  if (ok) {
    ok = override(kExclusiveFlag) ? impl->accessExclusive(nameText.c_str(), mode)
                                  : impl->access(nameText.c_str(), mode);
  }
  if (ok && deviceCopy.nameDefined() && override(kAccessTargetFlag)) {
    if (!accessScsiTarget(deviceCopy) && override(kAccessMustSucceedFlag)) ok = false;
  }
  if (ok) valid(true);
  openName = nameText;
  openDevice = deviceCopy;
  accessMode = mode;
  return ok;
}

bool QXScsiTarget::reset(const Parameters* params) {
  cleanupScsiTarget();
  if (openAddress.defined()) return initScsiTarget(openName.c_str(), openAddress, accessMode, params);
  return initScsiTarget(openName.c_str(), openDevice, accessMode, params);
}

void QXScsiTarget::cleanupScsiTarget() {
  if (QXScsiTargetImpl* impl = getScsiTargetImpl()) impl->release();
}

bool QXScsiTarget::open(bool& wasOpen, const Parameters* params) {
  wasOpen = validMark;
  return reset(params);
}

bool QXScsiTarget::close(bool force) {
  const int count = getReferenceCount();
  if (count == 1 || force) {
    QXScsiTargetImpl* impl = getScsiTargetImpl();
    if (impl == nullptr) {
      localErrorCode = kNoImplementation;
      return false;
    }
    return impl->release();
  }
  localErrorCode = count > 1 ? kShared : kNoImplementation;
  return false;
}

int QXScsiTarget::getReferenceCount() const { return implReference->getReferenceCount(); }

bool QXScsiTarget::access(void* handle) {
  if (handle == nullptr) return false;
  const int h = *static_cast<const int*>(handle);
  QXScsiTargetImpl* impl = getScsiTargetImpl();
  if (impl == nullptr) {
    localErrorCode = kNoImplementation;
    return false;
  }
  const int held = impl->handle();
  if ((held == -1 || held == 0) && h != QXScsi::invalidHandleValue_c) {
    impl->access(handle);
    impl->disableImplicitRelease();
    return true;
  }
  if (h == QXScsi::invalidHandleValue_c) {
    impl->access(handle);
    return true;
  }
  return false;
}

bool QXScsiTarget::accessScsiTarget(const QXScsiAddress& address) {
  if (!address.defined()) return false;
  QXScsiTargetImpl* impl = getScsiTargetImpl();
  if (impl == nullptr) {
    localErrorCode = kNoImplementation;
    return false;
  }
  if (impl->accessScsiTarget(address)) {
    currentAddress = address;
    return true;
  }
  if (impl->implementationError() == kAccessNotApplicable) return true;
  currentAddress.reset();
  return false;
}

bool QXScsiTarget::accessScsiTarget(const QXScsiDevice& device) {
  if (!device.nameDefined()) return false;
  QXScsiTargetImpl* impl = getScsiTargetImpl();
  if (impl == nullptr) {
    localErrorCode = kNoImplementation;
    return false;
  }
  if (!impl->accessScsiTarget(device) && impl->implementationError() != kAccessNotApplicable) return false;
  if (QXScsi::isScsiName(device.name())) return true;
  QXScsiAddress found;
  bool flag = false;
  if (impl->getScsiAddress(found, flag)) {
    currentAddress = found;
  } else if (impl->implementationError() == kNoScsiAddress) {
    ignoreUndefinedAddress(true);
  } else {
    currentAddress.reset();
    return false;
  }
  return true;
}

void QXScsiTarget::setScsiAddress(const QXScsiAddress& address) {
  currentAddress = address;
  if (!currentAddress.defined()) valid(false);
}

bool QXScsiTarget::getScsiAddress(QXScsiAddress& address) const {
  if (!currentAddress.defined()) return false;
  address = currentAddress;
  return true;
}
