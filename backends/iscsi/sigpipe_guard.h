// Keeps a write to a connection that the peer closed from killing the process.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <ctime>

namespace qxscsi::backends::iscsi {

// Blocks SIGPIPE in the calling thread for the guard's lifetime and swallows a SIGPIPE that
// arose meanwhile. The process-wide disposition is left alone. Does nothing when the thread
// already blocks SIGPIPE (the application then owns whatever is pending).
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    active_ = pthread_sigmask(SIG_BLOCK, &pipe_, &old_) == 0 && !sigismember(&old_, SIGPIPE);
  }
  ~SigpipeGuard() {
    if (!active_) return;
    sigset_t pending;
    if (sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE)) {
      timespec zero{0, 0};
      sigtimedwait(&pipe_, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
  sigset_t pipe_;
  sigset_t old_;
  bool active_ = false;
};

}  // namespace qxscsi::backends::iscsi
