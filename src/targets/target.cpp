// The target object: construction, implementation on first need, command dispatch, errors and flags.
#include <memory>
#include <new>
#include <string>
#include <typeinfo>

#include "flag_word.h"
#include "qxpattern/singleton.h"
#include "qxscsi/factory.h"
#include "qxscsi/target.h"
#include "target_codes.h"

namespace {

using namespace qxscsi::targets;

const char kNoImplementationHint[] = "Failed to create SCSI target implementation";

// The factory singleton, borrowed from the companion registry; null when none is known.
QXScsiFactory* factorySingleton() {
  QXAbstractProduct* product = QXSingletonController::instance().singleton(typeid(QXScsiFactory).name());
  return dynamic_cast<QXScsiFactory*>(product);
}

}  // namespace

QXScsiTarget::QXScsiTarget()
    : validMark(false),
      localErrorCode(0),
      implReference(),
      currentAddress(),
      ignoreAddressMark(false),
      openName(),
      openAddress(),
      openDevice(),
      accessMode(-1),
      behaviourFlags(0) {}

QXScsiTarget::QXScsiTarget(const QXScsiAddress& address) : QXScsiTarget() { currentAddress = address; }

QXScsiTarget::QXScsiTarget(const QXScsiTarget& other) = default;

QXScsiTarget& QXScsiTarget::operator=(const QXScsiTarget& other) = default;

QXScsiTarget::~QXScsiTarget() {}

QXScsiTargetImpl* QXScsiTarget::getClientScsiTargetImpl() const { return nullptr; }

void QXScsiTarget::implementationHint(std::string& hint) const { hint.clear(); }

void QXScsiTarget::overrideDefaultBehavior(const Parameters& params) {
  std::string value;
  QXScsi::getParameter(QXScsi::accessScsiTargetParam(), value, params);
  if (value == "y") {
    override(kAccessTargetFlag, true);
    override(kAccessMustSucceedFlag, true);
  }
  QXScsi::getParameter(QXScsi::exclusiveAccessParam(), value, params);
  if (value == "y") override(kExclusiveFlag, true);
}

QXScsiTargetImpl* QXScsiTarget::getScsiTargetImpl() const {
  std::unique_ptr<QXScsiTargetImpl> client(getClientScsiTargetImpl());
  if (QXScsiTargetImpl* held = implReference.scsiTargetImpl()) {
    // A surplus implementation is deleted; the held one handed back again is not deleted under us.
    if (client.get() == held) client.release();
    return held;
  }
  implReference = QXScsiTargetImplReference(std::move(client));
  if (implReference.scsiTargetImpl() == nullptr) {
    if (QXScsiFactory* factory = factorySingleton()) {
      std::string hint;
      implementationHint(hint);
      std::unique_ptr<QXScsiTargetImpl> made(
          factory->createScsiTargetImpl(typeid(*this).name(), hint.c_str()));
      implReference = QXScsiTargetImplReference(std::move(made));
    }
  }
  return implReference.scsiTargetImpl();
}

bool QXScsiTarget::valid() const { return validMark && getScsiTargetImpl() != nullptr; }

QXScsiCmd* QXScsiTarget::cmdCall(QXScsiArgs& args, unsigned long timeout) {
  static const QXScsiDevice defaultDevice;  // immutable: type -1, empty name
  return doCall(args, defaultDevice, timeout);
}

QXScsiCmd* QXScsiTarget::cmdCall(QXScsiArgs& args, const QXScsiDevice& device, unsigned long timeout) {
  return doCall(args, device, timeout);
}

QXScsiCmd* QXScsiTarget::doCall(QXScsiArgs& args, const QXScsiDevice& device, unsigned long timeout) {
  // valid(), asking for the implementation only once on the way.
  QXScsiTargetImpl* impl = validMark ? getScsiTargetImpl() : nullptr;
  if (impl == nullptr) {
    if (!reset(nullptr)) return nullptr;
    impl = getScsiTargetImpl();  // a successful re-open always leaves one
  }
  localErrorCode = 0;
  std::unique_ptr<QXScsiCmd> cmd;
  try {
    cmd.reset(new QXScsiCmd(args));
  } catch (const std::bad_alloc&) {
    localErrorCode = kNoRecord;
    return nullptr;
  }
  int code = 0;
  if (!args.preConditionCallback(code)) {
    args.errorCode(code);
    localErrorCode = kPreconditionRefused;
    return cmd.release();
  }
  if (override(kAddressRequiredFlag) && !currentAddress.defined() && !ignoreUndefinedAddress()) {
    localErrorCode = kAddressUndefined;
    return cmd.release();
  }
  cmd->setScsiAddress(currentAddress);
  cmd->setTimeout(timeout != 0 ? timeout : device.timeout(args));
  if (impl->executeCommand(*cmd, device)) return cmd.release();
  if (impl->implementationError() == 0) localErrorCode = kNotExecuted;
  return nullptr;
}

long QXScsiTarget::implementationError() const {
  if (localErrorCode != 0) return localErrorCode;
  QXScsiTargetImpl* impl = getScsiTargetImpl();
  if (impl == nullptr) {
    localErrorCode = kNoImplementation;
    return kNoImplementation;
  }
  return impl->implementationError();
}

void QXScsiTarget::implementationErrorHint(std::string& hint) {
  hint.clear();
  if (localErrorCode != 0) return;
  if (QXScsiTargetImpl* impl = getScsiTargetImpl()) {
    impl->implementationErrorHint(hint);
  } else {
    hint = kNoImplementationHint;
  }
}

long QXScsiTarget::implementationVersion() const {
  QXScsiTargetImpl* impl = getScsiTargetImpl();
  if (impl != nullptr) return impl->implementationVersion();
  localErrorCode = kNoImplementation;
  return -1;
}

int QXScsiTarget::os_platform() const {
  QXScsiTargetImpl* impl = getScsiTargetImpl();
  return impl != nullptr ? impl->os_platform() : -1;
}

int QXScsiTarget::scsi_transport() const {
  QXScsiTargetImpl* impl = getScsiTargetImpl();
  return impl != nullptr ? impl->scsi_transport() : -1;
}

bool QXScsiTarget::isTargetState(unsigned long state) const {
  QXScsiTargetImpl* impl = getScsiTargetImpl();
  return impl != nullptr && impl->isTargetState(state);
}

void QXScsiTarget::override(int flag, bool on) { qxscsi::detail::setFlag(behaviourFlags, flag, on); }

bool QXScsiTarget::override(int flag) const { return qxscsi::detail::testFlag(behaviourFlags, flag); }
