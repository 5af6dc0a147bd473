// The iSCSI target implementation: login, LUN probe, command records, error mapping.
#include "iscsi_target_impl.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "qxscsi/backends/iscsi.h"
#include "qxscsi/devices.h"
#include "wire/cdb.h"
#include "wire/decimal.h"
#include "wire/status.h"

namespace qxscsi::backends::iscsi {
namespace {

using namespace QXScsiPlatform;

constexpr unsigned char kInquiryLength = 36;
constexpr unsigned char kPeripheralQualifierNotPresent = 0x60;  // qualifier 011b: no LUN here
constexpr unsigned char kIllegalRequest = 0x05;
constexpr unsigned char kLunNotSupported = 0x25;  // ASC: LOGICAL UNIT NOT SUPPORTED
constexpr unsigned char kUnitAttention = 0x06;

using Clock = std::chrono::steady_clock;

// Sense key and ASC of an answer's sense bytes, fixed or descriptor format (0 when absent).
struct SenseCodes {
  unsigned char key = 0;
  unsigned char asc = 0;
};

SenseCodes senseCodes(const Completion& done) {
  SenseCodes c;
  unsigned char format = done.senseStored ? done.sense[0] & 0x7E : 0;
  if (format == 0x70 && done.senseStored >= 3) {
    c.key = done.sense[2] & 0x0F;
    if (done.senseStored >= 13) c.asc = done.sense[12];
  } else if (format == 0x72 && done.senseStored >= 3) {
    c.key = done.sense[1] & 0x0F;
    c.asc = done.sense[2];
  }
  return c;
}

bool isUnitAttention(const Completion& done) {
  return done.status == wire::statusCheckCondition && senseCodes(done).key == kUnitAttention;
}

// Whole seconds left until deadline, rounded up; 0 once it has passed.
unsigned long secondsUntil(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<unsigned long>((left + 999) / 1000);
}

}  // namespace

std::string residualContradiction(const Completion& done, std::size_t length) {
  if (done.underflow && done.overflow) return "the target flagged both an underflow and an overflow";
  if ((done.underflow || done.overflow) && done.residual == 0)
    return std::string("the target flagged an ") + (done.overflow ? "overflow" : "underflow") +
           " of 0 bytes";
  if (!done.overflow && done.residual > length)
    return "the target's underflow of " + std::to_string(done.residual) + " bytes exceeds the " +
           std::to_string(length) + " bytes asked for";
  return std::string();
}

long errorFor(SessionResult result) {
  switch (result) {
    case SessionResult::ok:
      return 0;
    case SessionResult::invalid:
      return invalidRequest_c;
    case SessionResult::connectFailed:
    case SessionResult::loginFailed:
      return connectionFailed_c;
    case SessionResult::loginDenied:
      return accessDenied_c;
    case SessionResult::notFound:
      return deviceNotFound_c;
    case SessionResult::timeout:
      return commandTimeout_c;
    case SessionResult::dropped:
      return establishedConnectionFailed_c;
    case SessionResult::noResources:
      return outOfResources_c;
    case SessionResult::transportError:
      break;
  }
  return ioError_c;
}

IscsiTargetImpl::IscsiTargetImpl() : IscsiTargetImpl(&makeLibiscsiSession) {}

IscsiTargetImpl::IscsiTargetImpl(SessionFactory factory)
    : factory_(std::move(factory)), initiator_(backends::iscsiDefaultInitiatorName()), environment_(processEnvironment()) {}

IscsiTargetImpl::~IscsiTargetImpl() { release(); }

bool IscsiTargetImpl::failWith(SessionResult result, const std::string& text) {
  return fail(errorFor(result), text);
}

bool IscsiTargetImpl::access(const char* name, int) { return open(name); }

// iSCSI sessions are not exclusive; reservations are the caller's business.
bool IscsiTargetImpl::accessExclusive(const char* name, int) { return open(name); }

bool IscsiTargetImpl::open(const char* name) {
  release();
  haveUrl_ = false;
  if (!parameterError_.empty()) return fail(invalidRequest_c, parameterError_);
  std::string text = name ? name : "";
  if (!isIscsiName(text)) return fail(unknownDeviceName_c, "not an iSCSI device name: '" + text + "'");
  std::string why;
  if (!parseUrl(text, &url_, &why)) return fail(invalidRequest_c, why);

  LoginRequest request{url_, initiator_, loginTimeout_, transport_ == kTransportIser, wireLun(url_.lun), {},
                       headerDigest_};
  if (!resolveChap(givenChap_, url_, environment_, &request.chap, &why)) return fail(invalidRequest_c, why);
  Clock::time_point loginStart;
  for (int attempt = 0;; ++attempt) {
    loginStart = Clock::now();
    std::unique_ptr<Session> s = factory_ ? factory_() : nullptr;
    if (!s) return fail(outOfResources_c, "cannot create an iSCSI session");
    SessionResult o = s->login(request);
    if (o == SessionResult::ok) {
      session_ = std::move(s);
      break;
    }
    // Only a portal that could not be reached is worth another try; a refusal stays a refusal.
    if (o != SessionResult::connectFailed || attempt >= retries_) return failWith(o, s->message());
    std::this_thread::sleep_for(std::chrono::milliseconds(retryDelayMs_));
  }
  if (!openLun(loginStart + std::chrono::seconds(loginTimeout_))) {
    session_->logout(loginTimeout_);
    session_.reset();
    return false;
  }
  haveUrl_ = true;
  succeed();
  return true;
}

// Logging in proves the target; INQUIRY proves the LUN (it neither reports nor clears a unit
// attention). A new I_T nexus answers its first command with a unit attention (power on, reset,
// bus device reset...): TEST UNIT READY takes them, so that the caller's first command is answered
// about itself. Only unit attentions are taken, at most kMaxUnitAttentions, and only while the
// login time lasts; any other answer (NOT READY, RESERVATION CONFLICT, BUSY...) and a unit
// attention beyond those are left for the caller. A failure of the session is a failure of the
// opening. The first TEST UNIT READY goes out together with the INQUIRY: an opening then waits for
// one answer fewer, and INQUIRY is answered alike whichever of the two the target takes first.
bool IscsiTargetImpl::openLun(Clock::time_point deadline) {
  unsigned char inquiry[6];
  wire::inquiryCdb(inquiry, false, 0, kInquiryLength);
  unsigned char data[kInquiryLength] = {};
  Command probe{inquiry, sizeof inquiry, QXScsi::dataIn_c, data, sizeof data, loginTimeout_};
  Completion probed;
  unsigned char tur[6] = {};
  Completion first;
  unsigned long seconds = clearUnitAttentions_ ? secondsUntil(deadline) : 0;
  SessionResult o = seconds == 0 ? session_->execute(probe, &probed)
                                 : session_->executePair(probe, &probed,
                                                         Command{tur, sizeof tur, QXScsi::noData_c, nullptr, 0, seconds},
                                                         &first);
  if (o != SessionResult::ok) return failWith(o, session_->message());
  std::string where = "LUN " + std::to_string(url_.lun) + " of " + url_.target;
  if (probed.status == wire::statusGood && probed.residual <= kInquiryLength - 1 &&
      (data[0] & 0xE0) == kPeripheralQualifierNotPresent)
    return fail(deviceNotFound_c, where + " does not exist");
  SenseCodes sense = senseCodes(probed);
  if (probed.status == wire::statusCheckCondition && sense.key == kIllegalRequest &&
      sense.asc == kLunNotSupported)
    return fail(deviceNotFound_c, where + " is not supported by the target");
  if (seconds == 0 || !isUnitAttention(first)) return true;
  for (int sent = 1; sent < kMaxUnitAttentions && (seconds = secondsUntil(deadline)) != 0; ++sent) {
    Command c{tur, sizeof tur, QXScsi::noData_c, nullptr, 0, seconds};
    Completion done;
    o = session_->execute(c, &done);
    if (o != SessionResult::ok) return failWith(o, session_->message());
    if (!isUnitAttention(done)) break;
  }
  return true;
}

bool IscsiTargetImpl::release() {
  if (session_) {
    session_->logout(loginTimeout_);
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
  Command c;
  if (!view(cmd, c)) return false;
  if (c.direction < QXScsi::dataIn_c || c.direction > QXScsi::noData_c)
    return fail(invalidRequest_c, "unknown transfer direction");
  if (c.direction == QXScsi::noData_c) c.length = 0;
  if (c.length > static_cast<unsigned long>(INT_MAX))
    return fail(invalidRequest_c, "data length above 2 GiB");
  if (c.length && !c.data) return fail(invalidRequest_c, "data length without a data buffer");
  if (c.timeoutSeconds == 0) c.timeoutSeconds = kDefaultCommandTimeout;

  Completion done;
  commandStarted(c);
  SessionResult result = session_->execute(c, &done);
  if (result != SessionResult::ok) return failWith(result, session_->message());
  std::string odd = residualContradiction(done, c.length);
  // Believed as far as it can be: a contradiction claims no overflow and no more than the buffer.
  commandFinished(odd.empty() ? done.residual : std::min<std::size_t>(done.residual, c.length),
                  odd.empty() && done.overflow);
  setCmdScsiStatus(cmd, static_cast<unsigned char>(done.status));
  if (done.senseStored) setCmdSenseData(cmd, done.sense, done.senseStored);
  // Sense promised but not all there, or a CHECK CONDITION that came without any.
  if (done.senseReported > done.senseStored ||
      (done.status == wire::statusCheckCondition && done.senseStored == 0))
    incompleteSense(cmd, true);
  // The status is the target's answer; residual flags that contradict themselves are not.
  if (!odd.empty()) return fail(cmd, ioError_c, odd);
  succeed();
  return true;
}

// The URL names the LUN; any address the target asks for leads to it.
bool IscsiTargetImpl::accessScsiTarget(const QXScsiAddress&) { return true; }
bool IscsiTargetImpl::accessScsiTarget(const QXScsiDevice&) { return true; }

long IscsiTargetImpl::implementationVersion() const { return 1; }
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
  if (!v.empty()) {
    if (!wire::parseDecimal(v, 0, kMaxRetries, retries_))
      parameterError_ = "bad retry_access '" + v + "' (0 to 100 attempts)";
  }
  QXScsi::getParameter(backends::iscsiLoginTimeoutParam(), v, params);
  if (!v.empty()) {
    if (!wire::parseDecimal(v, 1UL, 3600UL, loginTimeout_))
      parameterError_ =
          "bad " + std::string(backends::iscsiLoginTimeoutParam()) + " '" + v + "' (1 to 3600 s)";
  }
  QXScsi::getParameter(backends::iscsiInitiatorNameParam(), v, params);
  if (!v.empty()) initiator_ = v;
  QXScsi::getParameter(backends::iscsiUserParam(), givenChap_.user, params);
  QXScsi::getParameter(backends::iscsiPasswordParam(), givenChap_.password, params);
  QXScsi::getParameter(backends::iscsiTargetUserParam(), givenChap_.targetUser, params);
  QXScsi::getParameter(backends::iscsiTargetPasswordParam(), givenChap_.targetPassword, params);
  QXScsi::getParameter(backends::iscsiHeaderDigestParam(), v, params);
  static const std::pair<const char*, HeaderDigest> kDigests[] = {{"none", HeaderDigest::none},
                                                                  {"crc32c", HeaderDigest::crc32c},
                                                                  {"prefer-crc32c", HeaderDigest::preferCrc32c},
                                                                  {"prefer-none", HeaderDigest::preferNone}};
  headerDigest_ = HeaderDigest::preferNone;
  if (!v.empty()) {
    auto it = std::find_if(std::begin(kDigests), std::end(kDigests), [&](const auto& d) { return v == d.first; });
    if (it == std::end(kDigests))
      parameterError_ = "bad " + std::string(backends::iscsiHeaderDigestParam()) + " '" + v +
                        "' (none, crc32c, prefer-crc32c or prefer-none)";
    else
      headerDigest_ = it->second;
  }
  QXScsi::getParameter(backends::iscsiDataDigestParam(), v, params);
  if (!v.empty() && v != "none")
    parameterError_ = "bad " + std::string(backends::iscsiDataDigestParam()) + " '" + v +
                      "': libiscsi 1.19 offers no data digest (only none)";
  QXScsi::getParameter(backends::iscsiUnitAttentionParam(), v, params);
  if (v == "clear" || v == "report")
    clearUnitAttentions_ = v == "clear";
  else if (!v.empty())
    parameterError_ =
        "bad " + std::string(backends::iscsiUnitAttentionParam()) + " '" + v + "' (clear or report)";
}

}  // namespace qxscsi::backends::iscsi
