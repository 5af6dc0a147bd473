// The SIGPIPE guard: a write to a closed connection inside it neither kills the process nor leaves
// a signal for the application; the application's own blocked SIGPIPE stays its own; errno is kept.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <functional>
#include <thread>

#include "sigpipe_guard.h"

namespace qxscsi::backends::iscsi {
namespace {

bool sigpipePending() {
  sigset_t pending;
  sigpending(&pending);
  return sigismember(&pending, SIGPIPE) == 1;
}

bool sigpipeBlocked() {
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  return sigismember(&mask, SIGPIPE) == 1;
}

void setSigpipeBlocked(bool blocked) {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &pipe, nullptr);
}

void takeSigpipe() {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  timespec zero{0, 0};
  while (sigtimedwait(&pipe, nullptr, &zero) == SIGPIPE) {
  }
}

// Writes to a stream whose peer is closed: EPIPE, and SIGPIPE raised on the calling thread.
int writeToClosedPeer() {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return errno;
  close(fds[1]);
  errno = 0;
  ssize_t n = write(fds[0], "x", 1);
  int e = n < 0 ? errno : 0;
  close(fds[0]);
  errno = e;
  return e;
}

// Each case on a fresh thread: the guard keeps its state per thread, and the thread's mask is
// set up explicitly rather than inherited from whatever ran before.
void onFreshThread(bool startBlocked, const std::function<void()>& body) {
  std::thread t([&] {
    setSigpipeBlocked(startBlocked);
    body();
  });
  t.join();
}

TEST(SigpipeGuardTest, FailedWritesLeaveNoSignalAndTheBlockStays) {
  onFreshThread(false, [] {
    for (int round = 0; round < 3; ++round) {
      {
        SigpipeGuard guard;
        EXPECT_EQ(writeToClosedPeer(), EPIPE) << "round " << round;
      }
      EXPECT_FALSE(sigpipePending()) << "round " << round;
      // Blocked once for the thread's life: later commands need no signal-mask call.
      EXPECT_TRUE(sigpipeBlocked()) << "round " << round;
    }
  });
}

TEST(SigpipeGuardTest, NestedGuardsTakeTheSignalOfTheInnerFailure) {
  onFreshThread(false, [] {
    {
      SigpipeGuard outer;
      {
        SigpipeGuard inner;
        writeToClosedPeer();
      }
      EXPECT_FALSE(sigpipePending());
    }
    EXPECT_FALSE(sigpipePending());
  });
}

TEST(SigpipeGuardTest, ApplicationThatBlocksSigpipeKeepsWhatIsPending) {
  onFreshThread(true, [] {
    {
      SigpipeGuard guard;
      EXPECT_EQ(writeToClosedPeer(), EPIPE);
    }
    EXPECT_TRUE(sigpipePending());
    EXPECT_TRUE(sigpipeBlocked());
    takeSigpipe();
  });
}

TEST(SigpipeGuardTest, ThreadThatStopsBlockingIsProtectedAgain) {
  onFreshThread(true, [] {
    { SigpipeGuard first; }
    setSigpipeBlocked(false);
    {
      SigpipeGuard guard;
      EXPECT_EQ(writeToClosedPeer(), EPIPE);
    }
    EXPECT_FALSE(sigpipePending());
    EXPECT_TRUE(sigpipeBlocked());
  });
}

TEST(SigpipeGuardTest, ErrnoIsTheScopesFailureOrElseWhatItWasBefore) {
  onFreshThread(false, [] {
    errno = EINTR;
    { SigpipeGuard quiet; }
    EXPECT_EQ(errno, EINTR);
    {
      SigpipeGuard failing;
      writeToClosedPeer();
    }
    EXPECT_EQ(errno, EPIPE);
  });
}

}  // namespace
}  // namespace qxscsi::backends::iscsi
