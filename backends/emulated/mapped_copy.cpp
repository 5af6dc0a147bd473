// The SIGBUS guard of copies out of file mappings.
#include "mapped_copy.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>

namespace qxscsi::backends::emulated {

namespace {

// The copy running on this thread; the handler only reads it.
struct Copy {
  const unsigned char* begin = nullptr;
  size_t n = 0;
  volatile sig_atomic_t faulted = 0;
};
thread_local Copy current;

struct sigaction previous;
uintptr_t pageMask = ~uintptr_t{4095};

void onSigbus(int sig, siginfo_t* info, void* context) {
  Copy& c = current;
  auto at = reinterpret_cast<uintptr_t>(info->si_addr);
  auto begin = reinterpret_cast<uintptr_t>(c.begin);
  if (c.begin && at >= begin && at - begin < c.n) {
    // Ours: the page reads as zeros from now on (the caller drops the mapping), and the copy
    // resumes at the instruction that faulted.
    void* page = reinterpret_cast<void*>(at & pageMask);
    if (mmap(page, ~pageMask + 1, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
      c.faulted = 1;
      return;
    }
  }
  // Not ours: what the disposition before ours would have done.
  if ((previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction) return previous.sa_sigaction(sig, info, context);
  if (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN)
    return previous.sa_handler(sig);
  // The default: restored, it ends the process when the faulting instruction runs again, or at
  // once for a SIGBUS that was sent rather than caused.
  signal(SIGBUS, SIG_DFL);
  if (info->si_code <= 0) raise(SIGBUS);
}

void install() {
  long page = sysconf(_SC_PAGESIZE);
  if (page > 0) pageMask = ~static_cast<uintptr_t>(page - 1);
  struct sigaction ours;
  std::memset(&ours, 0, sizeof ours);
  ours.sa_sigaction = &onSigbus;
  // SA_NODEFER: a second fault during the same copy is taken too.
  ours.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK | SA_RESTART;
  sigemptyset(&ours.sa_mask);
  sigaction(SIGBUS, &ours, &previous);
}

}  // namespace

void guardMappedCopies() {
  static const bool installed = (install(), true);
  (void)installed;
}

bool copyFromMapping(unsigned char* to, const unsigned char* from, size_t n) {
  Copy& c = current;
  c.faulted = 0;
  c.n = n;
  c.begin = from;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  std::memcpy(to, from, n);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  c.begin = nullptr;
  return c.faulted == 0;
}

}  // namespace qxscsi::backends::emulated
