// Sessions over libiscsi: async calls driven by our own poll loop, bounded by our deadlines.
#include <iscsi/iscsi.h>
#include <iscsi/scsi-lowlevel.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "login_status.h"
#include "session.h"
#include "sigpipe_guard.h"
#include "wire/bytes.h"

namespace qxscsi::backends::iscsi {
namespace {

using Clock = std::chrono::steady_clock;

iscsi_header_digest libiscsiDigest(HeaderDigest d) {
  switch (d) {
    case HeaderDigest::none:
      return ISCSI_HEADER_DIGEST_NONE;
    case HeaderDigest::crc32c:
      return ISCSI_HEADER_DIGEST_CRC32C;
    case HeaderDigest::preferCrc32c:
      return ISCSI_HEADER_DIGEST_CRC32C_NONE;
    case HeaderDigest::preferNone:
      break;
  }
  return ISCSI_HEADER_DIGEST_NONE_CRC32C;
}

Clock::time_point deadlineAfter(unsigned long seconds) {
  // Far enough for any command, small enough not to overflow the clock.
  seconds = std::clamp<unsigned long>(seconds, 1, 100UL * 365 * 24 * 3600);
  return Clock::now() + std::chrono::seconds(seconds);
}

class LibiscsiSession final : public Session {
 public:
  ~LibiscsiSession() override {
    SigpipeGuard guard;
    destroyContext();
  }

  SessionResult login(const LoginRequest& request) override;
  // Logs in for discovery, lists the portal's targets into *out, logs out.
  SessionResult discover(const LoginRequest& request, std::vector<DiscoveredTarget>* out);
  SessionResult execute(const Command& command, Completion* done) override;
  SessionResult executePair(const Command& first, Completion* firstDone, const Command& second,
                            Completion* secondDone) override;
  void logout(unsigned long timeoutSeconds) override;
  std::string message() const override { return message_; }

 private:
  enum class Wait { done, timedOut, failed };

  // Callbacks only write into the session; it outlives the context that calls them.
  static void onCall(iscsi_context*, int status, void*, void* self) {
    auto* s = static_cast<LibiscsiSession*>(self);
    s->callDone_ = true;
    s->callStatus_ = status;
  }
  // Runs once when the connection is up (GOOD) or could not be made, and again if it fails later.
  static void onSocket(iscsi_context* ctx, int status, void*, void* self) {
    auto* s = static_cast<LibiscsiSession*>(self);
    if (status != SCSI_STATUS_GOOD && iscsi_get_error(ctx)) s->socketError_ = iscsi_get_error(ctx);
    if (!s->connectDone_) {
      s->connectDone_ = true;
      s->connected_ = status == SCSI_STATUS_GOOD;
    } else if (status != SCSI_STATUS_GOOD) {
      s->connectionLost_ = true;
    }
  }

  // The discovery answer lives only during the callback: copy it.
  static void onDiscovery(iscsi_context*, int status, void* data, void* self) {
    auto* s = static_cast<LibiscsiSession*>(self);
    s->callDone_ = true;
    s->callStatus_ = status;
    if (status != SCSI_STATUS_GOOD || !s->found_) return;
    for (auto* a = static_cast<iscsi_discovery_address*>(data); a; a = a->next) {
      DiscoveredTarget t;
      t.name = a->target_name ? a->target_name : "";
      for (iscsi_target_portal* p = a->portals; p; p = p->next)
        if (p->portal) t.portals.push_back(p->portal);
      s->found_->push_back(std::move(t));
    }
  }

  // One command in flight: its libiscsi task and how it ended.
  struct Task {
    Task(const Command& c, Completion* d) : command(c), done(d) {}
    const Command& command;
    Completion* done;
    scsi_task* task = nullptr;
    iscsi_data out{};
    bool finished = false;
    int status = 0;
    SessionResult result = SessionResult::ok;  // why queue() failed
    const char* why = "";
  };
  static void onTask(iscsi_context*, int status, void*, void* task) {
    auto* t = static_cast<Task*>(task);
    t->finished = true;
    t->status = status;
  }

  SessionResult connectAndLogin(const LoginRequest& r, bool discovery);
  // Sends n commands back to back and waits for all of them.
  SessionResult run(Task* tasks, int n);
  // Creates t's libiscsi task and queues it; false (t.result says why) when it cannot.
  bool queue(Task& t);
  // Fills *t.done from the finished task; true when libiscsi described a status other than GOOD.
  bool complete(Task& t);
  template <class Done>
  Wait waitFor(Done done, Clock::time_point deadline);
  Wait waitUntil(const bool& flag, Clock::time_point deadline) {
    return waitFor([&flag] { return flag; }, deadline);
  }
  // Writes what was just queued without asking poll first: a logged-in connection's socket is
  // nearly always writable, and when it is not, libiscsi keeps the rest queued (EAGAIN) for the
  // loop. Saves a system call per command. False when the connection failed.
  bool sendNow() { return iscsi_service(ctx_, POLLOUT) >= 0 && !connectionLost_; }
  // libiscsi's error text if it changed since we last looked ("" otherwise): its text is not
  // cleared on success, so an unchanged text belongs to an earlier event.
  std::string freshError() {
    const char* e = ctx_ ? iscsi_get_error(ctx_) : nullptr;
    if (!e || !*e || seenError_ == e) return std::string();
    seenError_ = e;
    while (!seenError_.empty() && (seenError_.back() == '\n' || seenError_.back() == ' '))
      seenError_.pop_back();
    return seenError_;
  }
  SessionResult fail(SessionResult o, const std::string& ours) {
    std::string lib = freshError();
    message_ = lib.empty() ? ours : ours + ": " + lib;
    return o;
  }
  // Closes the connection at once (no logout); in-flight callbacks run with CANCELLED.
  void destroyContext() {
    if (ctx_) iscsi_destroy_context(ctx_);
    ctx_ = nullptr;
    loggedIn_ = false;
  }

  iscsi_context* ctx_ = nullptr;
  int lun_ = 0;
  std::string portal_;
  bool used_ = false;
  bool loggedIn_ = false;
  bool connectDone_ = false;
  bool connected_ = false;
  bool connectionLost_ = false;
  bool callDone_ = false;
  int callStatus_ = 0;
  std::string socketError_;
  std::string seenError_;
  std::string message_;
  std::vector<DiscoveredTarget>* found_ = nullptr;
};

template <class Done>
LibiscsiSession::Wait LibiscsiSession::waitFor(Done done, Clock::time_point deadline) {
  while (!done()) {
    auto now = Clock::now();
    if (now >= deadline) return Wait::timedOut;
    long long left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
    int events = iscsi_which_events(ctx_);
    // No events wanted: libiscsi asks to be called again after a short while.
    int slice = static_cast<int>(std::min<long long>(left, events ? 1000 : 100));
    pollfd p{iscsi_get_fd(ctx_), static_cast<short>(events), 0};
    int n = poll(&p, events ? 1 : 0, slice);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Wait::failed;
    if (iscsi_service(ctx_, n > 0 ? p.revents : 0) < 0 || connectionLost_)
      return done() ? Wait::done : Wait::failed;
  }
  return Wait::done;
}

SessionResult LibiscsiSession::login(const LoginRequest& r) { return connectAndLogin(r, false); }

SessionResult LibiscsiSession::discover(const LoginRequest& r, std::vector<DiscoveredTarget>* out) {
  SessionResult o = connectAndLogin(r, true);
  if (o != SessionResult::ok) return o;
  SigpipeGuard guard;
  callDone_ = false;
  found_ = out;
  Wait w = Wait::failed;
  if (iscsi_discovery_async(ctx_, &onDiscovery, this) == 0)
    w = waitUntil(callDone_, deadlineAfter(r.timeoutSeconds));
  found_ = nullptr;
  if (w == Wait::done && callStatus_ == SCSI_STATUS_GOOD) {
    logout(r.timeoutSeconds);
    return SessionResult::ok;
  }
  o = w == Wait::timedOut ? fail(SessionResult::timeout, "discovery at " + portal_ + " did not finish")
                          : fail(SessionResult::dropped, "discovery at " + portal_ + " failed");
  destroyContext();
  return o;
}

SessionResult LibiscsiSession::connectAndLogin(const LoginRequest& r, bool discovery) {
  if (used_) return fail(SessionResult::invalid, "session already used");
  used_ = true;
  SigpipeGuard guard;
  auto deadline = deadlineAfter(r.timeoutSeconds);
  portal_ = r.url.portal();
  lun_ = r.wireLun;
  ctx_ = iscsi_create_context(r.initiatorName.c_str());
  if (!ctx_) return fail(SessionResult::noResources, "cannot create an iSCSI context");
  // Reconnects would replay commands already sent (a tape would write twice): never.
  iscsi_set_noautoreconnect(ctx_, 1);
  iscsi_set_reconnect_max_retries(ctx_, 0);
  if ((r.iser && iscsi_init_transport(ctx_, ISER_TRANSPORT) != 0) ||
      (!discovery && iscsi_set_targetname(ctx_, r.url.target.c_str()) != 0) ||
      iscsi_set_session_type(ctx_, discovery ? ISCSI_SESSION_DISCOVERY : ISCSI_SESSION_NORMAL) != 0 ||
      iscsi_set_header_digest(ctx_, libiscsiDigest(r.headerDigest)) != 0 ||
      (!r.chap.user.empty() &&
       iscsi_set_initiator_username_pwd(ctx_, r.chap.user.c_str(), r.chap.password.c_str()) != 0) ||
      (!r.chap.targetUser.empty() &&
       iscsi_set_target_username_pwd(ctx_, r.chap.targetUser.c_str(), r.chap.targetPassword.c_str()) != 0)) {
    SessionResult o =
        fail(r.iser ? SessionResult::connectFailed : SessionResult::invalid, "cannot set up the session");
    destroyContext();
    return o;
  }

  Wait w = Wait::failed;
  if (iscsi_connect_async(ctx_, portal_.c_str(), &onSocket, this) == 0) w = waitUntil(connectDone_, deadline);
  if (w != Wait::done || !connected_) {
    std::string lib = freshError();
    std::string detail = !socketError_.empty() ? socketError_ : lib;
    while (!detail.empty() && (detail.back() == '\n' || detail.back() == '.')) detail.pop_back();
    message_ = "cannot connect to " + portal_ +
               (w == Wait::timedOut ? ": timed out"
                : detail.empty()    ? std::string()
                                    : ": " + detail);
    destroyContext();
    return SessionResult::connectFailed;
  }

  callDone_ = false;
  w = Wait::failed;
  if (iscsi_login_async(ctx_, &onCall, this) == 0) w = waitUntil(callDone_, deadline);
  if (w == Wait::done && callStatus_ == SCSI_STATUS_GOOD) {
    loggedIn_ = true;
    freshError();
    message_.clear();
    return SessionResult::ok;
  }
  SessionResult o;
  if (w == Wait::timedOut) {
    o = fail(SessionResult::connectFailed,
             "login to " + portal_ + " did not finish in " + std::to_string(r.timeoutSeconds) + " s");
  } else if (w == Wait::failed) {
    o = fail(SessionResult::connectFailed, "connection to " + portal_ + " lost during login");
  } else {
    std::string lib = freshError();
    o = classifyLoginFailure(lib);
    message_ = lib.empty() ? "login to " + r.url.target + " refused" : lib;
  }
  destroyContext();
  return o;
}

SessionResult LibiscsiSession::execute(const Command& c, Completion* done) {
  Task t{c, done};
  return run(&t, 1);
}

SessionResult LibiscsiSession::executePair(const Command& first, Completion* firstDone, const Command& second,
                                           Completion* secondDone) {
  Task t[2] = {{first, firstDone}, {second, secondDone}};
  return run(t, 2);
}

SessionResult LibiscsiSession::run(Task* tasks, int n) {
  if (!ctx_ || !loggedIn_) {
    if (message_.empty()) message_ = "not logged in";
    return SessionResult::dropped;
  }
  unsigned long timeout = 0;
  for (int i = 0; i < n; ++i) {
    const Command& c = tasks[i].command;
    if (c.cdbLength < 1 || c.cdbLength > 16 || c.length > static_cast<std::size_t>(INT_MAX) ||
        (c.length && !c.data) || c.direction < QXScsi::dataIn_c || c.direction > QXScsi::noData_c)
      return fail(SessionResult::invalid, "unusable command");
    timeout = std::max(timeout, c.timeoutSeconds);
  }
  SigpipeGuard guard;
  int queued = 0;
  for (; queued < n; ++queued)
    if (!queue(tasks[queued])) break;
  if (queued < n) {
    // Nothing waited for yet: take back what went into the queue and report the one that did not.
    for (int i = 0; i < queued; ++i) iscsi_scsi_cancel_task(ctx_, tasks[i].task);
    for (int i = 0; i <= queued; ++i)
      if (tasks[i].task) scsi_free_scsi_task(tasks[i].task);
    if (tasks[queued].result != SessionResult::dropped) return fail(tasks[queued].result, tasks[queued].why);
    SessionResult o = fail(SessionResult::dropped, "connection to " + portal_ + " failed");
    destroyContext();
    return o;
  }
  auto allDone = [&] {
    for (int i = 0; i < n; ++i)
      if (!tasks[i].finished) return false;
    return true;
  };
  Wait w = sendNow() ? waitFor(allDone, deadlineAfter(timeout)) : (allDone() ? Wait::done : Wait::failed);
  bool answered = w == Wait::done || allDone();
  SessionResult o = SessionResult::ok;
  for (int i = 0; i < n && answered; ++i)
    if (tasks[i].status < 0 || tasks[i].status > 0xff) answered = false;
  if (!answered) {
    // Still queued inside libiscsi: take them back before the tasks go away.
    for (int i = 0; i < n; ++i)
      if (!tasks[i].finished) iscsi_scsi_cancel_task(ctx_, tasks[i].task);
    o = w == Wait::timedOut
            ? fail(SessionResult::timeout, "command timed out after " + std::to_string(timeout) +
                                               " s; the connection to " + portal_ + " was closed")
            : fail(SessionResult::dropped, "connection to " + portal_ + " failed");
  }
  bool describe = false;
  for (int i = 0; i < n; ++i) {
    if (answered) describe |= complete(tasks[i]);
    scsi_free_scsi_task(tasks[i].task);
  }
  // A late answer to an abandoned task would confuse the session: close it.
  if (!answered) destroyContext();
  if (describe) freshError();  // libiscsi describes the sense; not a failure of ours
  return o;
}

bool LibiscsiSession::queue(Task& t) {
  const Command& c = t.command;
  int xfer = c.length == 0 || c.direction == QXScsi::noData_c
                 ? SCSI_XFER_NONE
                 : (c.direction == QXScsi::dataIn_c ? SCSI_XFER_READ : SCSI_XFER_WRITE);
  int expected = xfer == SCSI_XFER_NONE ? 0 : static_cast<int>(c.length);
  t.task = scsi_create_task(static_cast<int>(c.cdbLength), const_cast<unsigned char*>(c.cdb), xfer, expected);
  t.result = SessionResult::noResources;
  t.why = "cannot create a SCSI task";
  if (!t.task) return false;
  // Incoming data lands in the caller's buffer directly; outgoing data is sent from it.
  t.why = "cannot attach the data buffer";
  if (xfer == SCSI_XFER_READ && scsi_task_add_data_in_buffer(t.task, expected, c.data) != 0) return false;
  t.out = iscsi_data{static_cast<size_t>(expected), c.data};
  t.result = SessionResult::dropped;  // never queued: the connection is unusable
  return iscsi_scsi_command_async(ctx_, lun_, t.task, &onTask, xfer == SCSI_XFER_WRITE ? &t.out : nullptr, &t) ==
         0;
}

bool LibiscsiSession::complete(Task& t) {
  scsi_task* task = t.task;
  Completion* done = t.done;
  *done = Completion();
  done->status = t.status;
  // Sense: 2-byte big-endian length, then the bytes, as the SCSI Response carried them.
  if (t.status == SCSI_STATUS_CHECK_CONDITION && task->datain.data && task->datain.size >= 2) {
    std::size_t reported = wire::getBe16(task->datain.data);
    std::size_t available = std::min<std::size_t>(reported, static_cast<std::size_t>(task->datain.size) - 2);
    done->senseReported = reported;
    done->senseStored = std::min(available, Completion::kSenseCapacity);
    std::memcpy(done->sense, task->datain.data + 2, done->senseStored);
  }
  if (task->residual_status != SCSI_RESIDUAL_NO_RESIDUAL) {
    // As the target flagged them: contradictions are judged by the caller, not smoothed here.
    done->residual = task->residual;
    done->underflow = task->residual_status == SCSI_RESIDUAL_UNDERFLOW;
    done->overflow = task->residual_status == SCSI_RESIDUAL_OVERFLOW;
  }
  return t.status != SCSI_STATUS_GOOD;
}

void LibiscsiSession::logout(unsigned long timeoutSeconds) {
  SigpipeGuard guard;
  if (ctx_ && loggedIn_) {
    callDone_ = false;
    if (iscsi_logout_async(ctx_, &onCall, this) == 0) waitUntil(callDone_, deadlineAfter(timeoutSeconds));
  }
  destroyContext();
}

}  // namespace

std::unique_ptr<Session> makeLibiscsiSession() { return std::make_unique<LibiscsiSession>(); }

SessionResult discoverTargets(const LoginRequest& request, std::vector<DiscoveredTarget>* out,
                              std::string* message) {
  LibiscsiSession session;
  SessionResult o = session.discover(request, out);
  if (message) *message = session.message();
  return o;
}

}  // namespace qxscsi::backends::iscsi
