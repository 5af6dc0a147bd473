// The seam between the iSCSI back-end and the initiator library: one session, one LUN.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "credentials.h"
#include "implementation_base.h"
#include "url.h"

namespace qxscsi::backends::iscsi {

// How a session call ended.
enum class SessionResult {
  ok,              // done; for execute: the command completed with a SCSI status
  invalid,         // the request itself is unusable (nothing was sent)
  connectFailed,   // no TCP connection, or the login did not finish in time
  loginDenied,     // the target refused the login: authentication or authorisation
  notFound,        // the target refused the login: no such target (or it was removed)
  loginFailed,     // the target refused the login for another reason
  timeout,         // the command did not complete in time (the session is closed)
  dropped,         // the established connection failed (the session is closed)
  noResources,     // out of memory in the initiator
  transportError,  // any other initiator or protocol failure
};

// The header digest the login offers: only none, only CRC32C, or both with one preferred.
enum class HeaderDigest { none, crc32c, preferCrc32c, preferNone };

// What login needs besides the URL.
struct LoginRequest {
  Url url;
  std::string initiatorName;
  unsigned long timeoutSeconds = 10;  // connect plus login; never 0
  bool iser = false;                  // iSER (RDMA) instead of TCP
  int wireLun = 0;                    // the LUN field of the commands: wireLun(url.lun)
  Chap chap;                          // what the login authenticates with (url.user is not read)
  HeaderDigest headerDigest = HeaderDigest::preferNone;  // libiscsi's own default
};

// One command. The session reads cdb and (for dataOut_c) data, and writes the device's
// data straight into data (for dataIn_c); it keeps no pointer after execute returns. Its
// timeoutSeconds is never 0.
using Command = CommandView;

// The result of a command that completed with a SCSI status.
struct Completion {
  static constexpr std::size_t kSenseCapacity = 255;
  int status = 0;
  unsigned char sense[kSenseCapacity] = {};
  std::size_t senseStored = 0;    // bytes of sense in sense[]
  std::size_t senseReported = 0;  // sense length the device reported (may exceed senseStored)
  std::size_t residual = 0;       // bytes not transferred (underflow) or not asked for (overflow)
  bool underflow = false;         // the device flagged an underflow (a residual alone counts as one)
  bool overflow = false;          // the device flagged an overflow: it had more data than the buffer took
};

// One iSCSI session to one LUN. Not thread-safe; one command at a time.
class Session {
 public:
  virtual ~Session() = default;
  // Connects and logs in, bounded by request.timeoutSeconds. A session logs in at most once.
  virtual SessionResult login(const LoginRequest& request) = 0;
  // Sends the command to the URL's LUN and waits at most command.timeoutSeconds.
  // ok: *done holds status, sense and residual. Anything else: *done is unspecified.
  virtual SessionResult execute(const Command& command, Completion* done) = 0;
  // Sends both commands without waiting in between (the target may answer them in either order)
  // and waits for both, at most the longer of their timeouts. ok: both completions are filled.
  // Anything else: both are unspecified. The default sends one after the other.
  virtual SessionResult executePair(const Command& first, Completion* firstDone, const Command& second,
                                    Completion* secondDone) {
    SessionResult o = execute(first, firstDone);
    return o == SessionResult::ok ? execute(second, secondDone) : o;
  }
  // Logs out (bounded by timeoutSeconds) and closes the connection. Harmless when not logged in.
  virtual void logout(unsigned long timeoutSeconds) = 0;
  // The initiator library's text for the last failure (empty if none).
  virtual std::string message() const = 0;
};

// Creates fresh, not yet logged-in sessions; the caller owns each one.
using SessionFactory = std::function<std::unique_ptr<Session>()>;

// Sessions over libiscsi.
std::unique_ptr<Session> makeLibiscsiSession();

// A target behind a portal, as SendTargets discovery reports it.
struct DiscoveredTarget {
  std::string name;                  // IQN
  std::vector<std::string> portals;  // "address:port,group" as the target gives them
};

// Logs in to the portal request.url names (its target is ignored) for discovery, appends the
// targets it reports to *out and logs out; every step bounded by request.timeoutSeconds.
// *message receives the reason of a failure.
SessionResult discoverTargets(const LoginRequest& request, std::vector<DiscoveredTarget>* out,
                              std::string* message);

}  // namespace qxscsi::backends::iscsi
