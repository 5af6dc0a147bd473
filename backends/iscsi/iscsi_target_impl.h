// The iSCSI target implementation: one LUN of an iSCSI target, reached through a Session.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "implementation_base.h"
#include "session.h"
#include "url.h"

namespace qxscsi::backends::iscsi {

// Opens the LUN named by an iSCSI URL (access logs in, release logs out) and carries out
// command records on it. Failures leave an error of the back-end table and the initiator
// library's text (implementationErrorHint). A failed session is never re-established here:
// the target's open() releases and logs in again with a fresh session.
class IscsiTargetImpl : public ImplementationBase {
 public:
  static constexpr unsigned long kDefaultLoginTimeout = 10;  // seconds
  static constexpr unsigned long kDefaultCommandTimeout = 30;
  static constexpr int kMaxRetries = 100;
  static constexpr int kMaxUnitAttentions = 10;  // TEST UNIT READYs after login, at most
  static constexpr int kTransportTcp = 1;        // "scsi_transport_type" 1: iSCSI over TCP (default)
  static constexpr int kTransportIser = 2;       // "scsi_transport_type" 2: iSCSI over RDMA (iSER)

  // Sessions over libiscsi.
  IscsiTargetImpl();
  // Sessions made by factory (a test seam); the factory is copied.
  explicit IscsiTargetImpl(SessionFactory factory);
  ~IscsiTargetImpl() override;

  bool access(const char* name, int accessMode) override;
  bool accessExclusive(const char* name, int accessMode) override;
  bool release() override;
  bool getScsiAddress(QXScsiAddress& address, bool& flag) override;
  bool executeCommand(QXScsiCmd& cmd, const QXScsiDevice& device) override;
  bool accessScsiTarget(const QXScsiAddress& address) override;
  bool accessScsiTarget(const QXScsiDevice& device) override;
  long implementationVersion() const override;
  // The initiator library's text of the last failure; empty once a call succeeded.
  void implementationErrorHint(std::string& hint) override { implementationErrorMsg(hint); }
  int handle() const override;
  int scsi_transport() const override;
  void overrideDefaultBehavior(const std::vector<QXScsi::ParameterData>& params) override;

  // True between a successful access and release (also after the connection failed).
  bool isOpen() const { return session_ != nullptr; }
  // Where the CHAP variables are looked up (getenv by default); tests give their own.
  void environment(Environment env) { environment_ = std::move(env); }
  // Pause between login attempts ("retry_access"); tests shorten it.
  void retryDelayMilliseconds(unsigned ms) { retryDelayMs_ = ms; }

 private:
  bool open(const char* name);
  // INQUIRY for the LUN's presence, then TEST UNIT READY while unit attentions come, until deadline.
  bool openLun(std::chrono::steady_clock::time_point deadline);
  bool failWith(SessionResult result, const std::string& text);

  SessionFactory factory_;
  std::unique_ptr<Session> session_;
  Url url_;
  bool haveUrl_ = false;
  std::string initiator_;
  unsigned long loginTimeout_ = kDefaultLoginTimeout;
  int retries_ = 0;
  int transport_ = kTransportTcp;
  bool clearUnitAttentions_ = true;  // "iscsi_unit_attention": "clear" (default) or "report"
  unsigned retryDelayMs_ = 1000;
  std::string parameterError_;
  Chap givenChap_;  // credentials given as parameters
  HeaderDigest headerDigest_ = HeaderDigest::preferNone;
  Environment environment_;
};

// Why a completion's residual cannot be believed for a buffer of `length` bytes ("" when it can):
// both flags, a flag with a count of 0, or an underflow larger than the buffer.
std::string residualContradiction(const Completion& done, std::size_t length);

// The implementation error that an result of a session call stands for (0 for ok).
long errorFor(SessionResult result);

}  // namespace qxscsi::backends::iscsi
