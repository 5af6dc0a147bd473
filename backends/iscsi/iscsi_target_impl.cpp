// The iSCSI target implementation: login, LUN probe, command records, error mapping.
#include "iscsi_target_impl.h"

#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

#include "qxscsi/backends/iscsi.h"
#include "qxscsi/devices.h"

namespace qxscsi::iscsi {
namespace {

using namespace QXScsiPlatform;

// Decimal digits only, value in [min, max].
bool parseDecimal(const std::string& text, long min, long max, long* out) {
  if (text.empty() || text.size() > 9) return false;
  long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < min || v > max) return false;
  *out = v;
  return true;
}

constexpr unsigned char kInquiryLength = 36;
constexpr unsigned char kPeripheralQualifierNotPresent = 0x60;  // qualifier 011b: no LUN here
constexpr unsigned char kIllegalRequest = 0x05;
constexpr unsigned char kLunNotSupported = 0x25;  // ASC: LOGICAL UNIT NOT SUPPORTED

}  // namespace

long errorFor(Outcome outcome) {
  switch (outcome) {
    case Outcome::ok:
      return 0;
    case Outcome::invalid:
      return invalidRequest_c;
    case Outcome::connectFailed:
    case Outcome::loginFailed:
      return connectionFailed_c;
    case Outcome::loginDenied:
      return accessDenied_c;
    case Outcome::notFound:
      return deviceNotFound_c;
    case Outcome::timeout:
      return commandTimeout_c;
    case Outcome::dropped:
      return establishedConnectionFailed_c;
    case Outcome::noResources:
      return outOfResources_c;
    case Outcome::transportError:
      break;
  }
  return ioError_c;
}

IscsiTargetImpl::IscsiTargetImpl() : IscsiTargetImpl(&makeLibiscsiSession) {}

IscsiTargetImpl::IscsiTargetImpl(SessionFactory factory)
    : factory_(std::move(factory)), initiator_(backends::iscsiDefaultInitiatorName()) {}

IscsiTargetImpl::~IscsiTargetImpl() { release(); }

bool IscsiTargetImpl::fail(long error, const std::string& text) {
  error_ = error;
  message_ = text;
  return false;
}

bool IscsiTargetImpl::failWith(Outcome outcome, const std::string& text) {
  return fail(errorFor(outcome), text);
}

bool IscsiTargetImpl::access(const char* name, int) { return open(name); }

// iSCSI sessions are not exclusive; reservations are the caller's business.
bool IscsiTargetImpl::accessExclusive(const char* name, int) { return open(name); }

bool IscsiTargetImpl::open(const char* name) {
  release();
  haveUrl_ = false;
  residual_ = 0;
  overflow_ = false;
  if (!parameterError_.empty()) return fail(invalidRequest_c, parameterError_);
  std::string text = name ? name : "";
  if (!isIscsiName(text)) return fail(unknownDeviceName_c, "not an iSCSI device name: '" + text + "'");
  std::string why;
  if (!parseUrl(text, &url_, &why)) return fail(invalidRequest_c, why);

  LoginRequest request{url_, initiator_, loginTimeout_, transport_ == kTransportIser};
  for (int attempt = 0;; ++attempt) {
    std::unique_ptr<Session> s = factory_ ? factory_() : nullptr;
    if (!s) return fail(outOfResources_c, "cannot create an iSCSI session");
    Outcome o = s->login(request);
    if (o == Outcome::ok) {
      session_ = std::move(s);
      break;
    }
    // Only a portal that could not be reached is worth another try; a refusal stays a refusal.
    if (o != Outcome::connectFailed || attempt >= retries_) return failWith(o, s->message());
    std::this_thread::sleep_for(std::chrono::milliseconds(retryDelayMs_));
  }
  if (!probeLun()) {
    session_->logout(kLogoutTimeout);
    session_.reset();
    return false;
  }
  haveUrl_ = true;
  error_ = 0;
  message_.clear();
  return true;
}

// Logging in proves the target; INQUIRY proves the LUN (it neither reports nor clears a unit
// attention, so the first command of the caller still sees it).
bool IscsiTargetImpl::probeLun() {
  unsigned char cdb[6] = {0x12, 0, 0, 0, kInquiryLength, 0};
  unsigned char data[kInquiryLength] = {};
  Command c{cdb, sizeof cdb, 0, data, sizeof data, loginTimeout_};
  Completion done;
  Outcome o = session_->execute(c, &done);
  if (o != Outcome::ok) return failWith(o, session_->message());
  std::string where = "LUN " + std::to_string(url_.lun) + " of " + url_.target;
  if (done.status == 0 && done.residual <= kInquiryLength - 1 &&
      (data[0] & 0xE0) == kPeripheralQualifierNotPresent)
    return fail(deviceNotFound_c, where + " does not exist");
  bool fixed = done.senseStored >= 13 && (done.sense[0] & 0x7E) == 0x70;
  bool descriptor = done.senseStored >= 3 && (done.sense[0] & 0x7E) == 0x72;
  unsigned char key = fixed ? done.sense[2] & 0x0F : descriptor ? done.sense[1] & 0x0F : 0;
  unsigned char asc = fixed ? done.sense[12] : descriptor ? done.sense[2] : 0;
  if (done.status == 2 && key == kIllegalRequest && asc == kLunNotSupported)
    return fail(deviceNotFound_c, where + " is not supported by the target");
  return true;
}

bool IscsiTargetImpl::release() {
  if (session_) {
    session_->logout(kLogoutTimeout);
    session_.reset();
  }
  return true;
}

bool IscsiTargetImpl::getScsiAddress(QXScsiAddress& address, bool&) {
  if (!haveUrl_) return fail(notOpen_c, "the iSCSI LUN is not open");
  if (url_.lun > 255) {
    return fail(noScsiAddress_c,
                "LUN " + std::to_string(url_.lun) + " does not fit a bus/target/LUN address");
  }
  address = QXScsiLunAddress(0, 0, static_cast<unsigned char>(url_.lun));
  return true;
}

bool IscsiTargetImpl::executeCommand(QXScsiCmd& cmd, const QXScsiDevice&) {
  if (!session_) return fail(notOpen_c, "the iSCSI LUN is not open");
  const unsigned char* cdb = nullptr;
  unsigned char cdbLength = 0;
  cmd.getCDB(cdb, cdbLength);
  const unsigned char* data = nullptr;
  unsigned long length = 0;
  int direction = 2;
  cmd.getCmdData(data, length, direction);
  if (cdbLength < 1 || cdbLength > 16) return fail(invalidRequest_c, "CDB length must be 1 to 16 bytes");
  if (direction < 0 || direction > 2) return fail(invalidRequest_c, "unknown transfer direction");
  if (direction == 2) length = 0;
  if (length > static_cast<unsigned long>(INT_MAX)) return fail(invalidRequest_c, "data length above 2 GiB");
  if (length && !data) return fail(invalidRequest_c, "data length without a data buffer");

  unsigned long timeout = cmd.timeout() ? cmd.timeout() : kDefaultCommandTimeout;
  // The record refers to the caller's writable buffer; it hands it out read-only.
  Command c{cdb, cdbLength, direction, const_cast<unsigned char*>(data), length, timeout};
  Completion done;
  Outcome o = session_->execute(c, &done);
  residual_ = 0;
  overflow_ = false;
  if (o != Outcome::ok) return failWith(o, session_->message());
  setCmdScsiStatus(cmd, static_cast<unsigned char>(done.status));
  if (done.senseStored) setCmdSenseData(cmd, done.sense, done.senseStored);
  if (done.senseReported > done.senseStored) incompleteSense(cmd, true);
  residual_ = done.residual;
  overflow_ = done.overflow;
  error_ = 0;
  message_.clear();
  return true;
}

// The URL names the LUN; any address the target asks for leads to it.
bool IscsiTargetImpl::accessScsiTarget(const QXScsiAddress&) { return true; }
bool IscsiTargetImpl::accessScsiTarget(const QXScsiDevice&) { return true; }

long IscsiTargetImpl::implementationVersion() const { return 1; }
long IscsiTargetImpl::implementationError() const { return error_; }
void IscsiTargetImpl::implementationErrorMsg(std::string& message) const { message = message_; }
void IscsiTargetImpl::implementationErrorHint(std::string& hint) { hint = message_; }
// No operating-system handle a caller could use: the socket belongs to the session.
int IscsiTargetImpl::handle() const { return -1; }
int IscsiTargetImpl::scsi_transport() const { return transport_; }

void IscsiTargetImpl::overrideDefaultBehavior(const std::vector<QXScsi::ParameterData>& params) {
  parameterError_.clear();
  std::string v;
  QXScsi::getParameter(QXScsi::scsiTransportTypeParam(), v, params);
  if (!v.empty()) {
    int t = QXScsi::transportType(v);
    if (t < 0)
      parameterError_ = "bad scsi_transport_type '" + v + "' (1 TCP, 2 iSER)";
    else
      transport_ = t;
  }
  QXScsi::getParameter(QXScsi::retryAccessSPIDeviceParam(), v, params);
  long n = 0;
  if (!v.empty()) {
    if (parseDecimal(v, 0, kMaxRetries, &n))
      retries_ = static_cast<int>(n);
    else
      parameterError_ = "bad retry_access '" + v + "' (0 to 100 attempts)";
  }
  QXScsi::getParameter(backends::iscsiLoginTimeoutParam(), v, params);
  if (!v.empty()) {
    if (parseDecimal(v, 1, 3600, &n))
      loginTimeout_ = static_cast<unsigned long>(n);
    else
      parameterError_ =
          "bad " + std::string(backends::iscsiLoginTimeoutParam()) + " '" + v + "' (1 to 3600 s)";
  }
  QXScsi::getParameter(backends::iscsiInitiatorNameParam(), v, params);
  if (!v.empty()) initiator_ = v;
}

}  // namespace qxscsi::iscsi
