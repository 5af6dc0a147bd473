// Defaults of the target implementation base class and its record services.
#include "qxscsi/implementation.h"

#include "flag_word.h"

QXScsiTargetImpl::QXScsiTargetImpl()
    : QXAbstractProduct(), hintText(), implFlags(0), implicitReleaseOff(false) {}

QXScsiTargetImpl::~QXScsiTargetImpl() {}

bool QXScsiTargetImpl::hintFrom(std::string& hint) {
  hintText = hint;
  return true;
}

bool QXScsiTargetImpl::access(const char*, int) { return false; }

bool QXScsiTargetImpl::accessExclusive(const char*, int) { return false; }

void QXScsiTargetImpl::access(void*) {}

bool QXScsiTargetImpl::release() { return false; }

bool QXScsiTargetImpl::getScsiAddress(QXScsiAddress&, bool& flag) {
  flag = false;
  return false;
}

bool QXScsiTargetImpl::executeCommand(QXScsiCmd&, const QXScsiDevice&) { return false; }

bool QXScsiTargetImpl::accessScsiTarget(const QXScsiAddress&) { return true; }

bool QXScsiTargetImpl::accessScsiTarget(const QXScsiDevice&) { return true; }

long QXScsiTargetImpl::implementationVersion() const { return 0; }

long QXScsiTargetImpl::implementationError() const { return 0; }

void QXScsiTargetImpl::implementationErrorMsg(std::string& message) const { message.clear(); }

void QXScsiTargetImpl::implementationErrorHint(std::string&) {}

int QXScsiTargetImpl::handle() const { return 0; }

int QXScsiTargetImpl::adapter() const { return -1; }

int QXScsiTargetImpl::os_platform() const { return -1; }

int QXScsiTargetImpl::scsi_transport() const { return -1; }

void QXScsiTargetImpl::overrideDefaultBehavior(const std::vector<QXScsi::ParameterData>&) {}

void QXScsiTargetImpl::disableImplicitRelease() { implicitReleaseOff = true; }

bool QXScsiTargetImpl::isTargetState(unsigned long) const { return false; }

void QXScsiTargetImpl::override(int flag, bool on) { qxscsi::detail::setFlag(implFlags, flag, on); }

bool QXScsiTargetImpl::override(int flag) const { return qxscsi::detail::testFlag(implFlags, flag); }

void QXScsiTargetImpl::setCmdErrorCode(QXScsiCmd& cmd, long error, const char* message) {
  cmd.implementationError(error, message);
}

void QXScsiTargetImpl::setCmdSenseData(QXScsiCmd& cmd, unsigned char* sense, unsigned long length) {
  cmd.setSenseData(sense, length);
}

void QXScsiTargetImpl::setCmdScsiStatus(QXScsiCmd& cmd, unsigned char status) { cmd.scsiStatus(status); }

void QXScsiTargetImpl::incompleteSense(QXScsiCmd& cmd, bool incomplete) { cmd.incompleteSense(incomplete); }
