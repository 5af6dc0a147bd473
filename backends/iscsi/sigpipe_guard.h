// Keeps a write to a connection that the peer closed from killing the process.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <ctime>

namespace qxscsi::backends::iscsi {

// Put around every call into libiscsi that may write to its socket. libiscsi writes without
// MSG_NOSIGNAL, so a write to a closed connection raises SIGPIPE, whose default kills the process.
//
// The first guard in a thread blocks SIGPIPE there (one system call) and leaves it blocked for the
// rest of the thread's life: a command then costs no signal-mask call at all. A failed write
// returns EPIPE to libiscsi and leaves a SIGPIPE pending on the thread; the guard takes it when it
// ends if anything in its scope failed (errno was set), so that it never reaches the application.
// On a thread that blocked SIGPIPE itself the guard does one system call to see that it still does
// and otherwise nothing: the application then owns whatever is pending. The process-wide
// disposition is left alone. An application that unblocks SIGPIPE in a thread after that thread's
// first iSCSI call loses the protection there; ignoring it (SIG_IGN) is always safe.
class SigpipeGuard {
 public:
  SigpipeGuard() : savedErrno_(errno) {
    if (threadState() != State::blockedByUs) {
      sigset_t pipe, old;
      sigemptyset(&pipe);
      sigaddset(&pipe, SIGPIPE);
      if (pthread_sigmask(SIG_BLOCK, &pipe, &old) == 0)
        threadState() = sigismember(&old, SIGPIPE) ? State::blockedByApplication : State::blockedByUs;
    }
    active_ = threadState() == State::blockedByUs;
    errno = 0;
  }
  ~SigpipeGuard() {
    int failure = errno;
    if (active_ && failure != 0) takePendingSigpipe();
    errno = failure != 0 ? failure : savedErrno_;
  }
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
  enum class State { unknown, blockedByUs, blockedByApplication };
  static State& threadState() {
    static thread_local State state = State::unknown;
    return state;
  }
  static void takePendingSigpipe() {
    sigset_t pending;
    if (sigpending(&pending) != 0 || !sigismember(&pending, SIGPIPE)) return;
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    timespec zero{0, 0};
    sigtimedwait(&pipe, nullptr, &zero);
  }

  int savedErrno_;
  bool active_ = false;
};

}  // namespace qxscsi::backends::iscsi
