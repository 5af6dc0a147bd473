// Recovering an iSCSI target after its connection broke: the failed command comes back with the
// established-connection error, the target stays marked open (nothing reconnects behind your back),
// and the caller re-opens with open() and decides itself what may be sent again.
//
//   example_iscsi_reopen URL   reads block after block from URL; restart the target meanwhile
//   example_iscsi_reopen       the same against a private tgtd on 127.0.0.1 that it starts, kills
//                              and restarts by itself (needs root and tgt installed)
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "qxscsi/backends/install.h"
#include "qxscsi/backends/iscsi.h"
#include "qxscsi/commands.h"
#include "qxscsi/parameters.h"
#include "qxscsi/target.h"
#include "qxscsiplatform/errors.h"
#include "tgtd_harness.h"

namespace {

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Re-opens target until it logs in again (release, then a fresh login with a fresh session).
bool reopen(QXScsiSPITarget& target, QXScsiTarget::Parameters& params, int attempts) {
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    bool wasOpen = false;
    if (target.open(wasOpen, &params)) {
      std::printf("  re-opened after %d attempt(s)\n", attempt);
      return true;
    }
    std::string hint;
    target.implementationErrorHint(hint);
    std::printf("  open() failed (error %ld: %s); trying again\n", target.implementationError(),
                hint.c_str());
    pause(1000);
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::unique_ptr<qxscsi::test::TgtdInstance> tgtd;
  std::string url;
  if (argc > 1) {
    url = argv[1];
  } else {
    std::string why;
    tgtd = qxscsi::test::TgtdInstance::start(&why);
    if (!tgtd || !tgtd->addDisk(1, "iqn.2026-12.org.example:reopen", 8)) {
      std::fprintf(stderr, "cannot start a private tgtd (%s); pass the URL of a target instead\n",
                   why.c_str());
      return 2;
    }
    url = tgtd->url("iqn.2026-12.org.example:reopen", 1);
  }

  auto installation = qxscsi::backends::install();
  QXScsiTarget::Parameters params;
  QXScsi::setParameter(qxscsi::backends::iscsiLoginTimeoutParam(), "5", params);
  QXScsiSPITarget target(url.c_str(), &params);
  if (!target.valid()) {
    std::string hint;
    target.implementationErrorHint(hint);
    std::fprintf(stderr, "cannot open %s: error %ld: %s\n", url.c_str(), target.implementationError(),
                 hint.c_str());
    return 1;
  }
  std::printf("opened %s\n", url.c_str());

  const int blocks = 12;
  bool killed = false;
  for (int lba = 0; lba < blocks; ++lba) {
    if (tgtd && lba == 4 && !killed) {
      killed = true;
      std::printf("-- killing tgtd (pid %d)\n", static_cast<int>(tgtd->pid()));
      tgtd->kill();
    }

    unsigned char block[512];
    const unsigned char read10[10] = {0x28, 0, 0, 0, 0, static_cast<unsigned char>(lba), 0, 0, 1, 0};
    QXScsiAnyArgs args(read10, sizeof read10, block, sizeof block, 0);
    QXScsiCmd* cmd = target.cmdCall(args, 5);
    if (cmd) {
      unsigned status = cmd->scsiStatus(), key = cmd->senseData().senseKey();
      QXScsiFreeCmd(cmd);
      std::printf("READ(10) LBA %d: status %u, sense key %u%s\n", lba, status, key,
                  status == 2 && key == 6 ? " (unit attention of a new session: read again)" : "");
      if (status == 2 && key == 6) --lba;
      pause(200);
      continue;
    }

    std::string hint;
    target.implementationErrorHint(hint);
    long error = target.implementationError();
    std::printf("READ(10) LBA %d failed: error %ld (%s), target still marked open: %s\n", lba, error,
                hint.c_str(), target.valid() ? "yes" : "no");
    if (!QXScsi::failureInEstablishedScsiTcpConnection(target) && error != QXScsiPlatform::commandTimeout_c) {
      std::fprintf(stderr, "not a connection failure; giving up\n");
      return 1;
    }
    if (tgtd && !tgtd->running()) {
      std::string why;
      std::printf("-- restarting tgtd: %s\n", tgtd->restart(&why) ? "up" : why.c_str());
    }
    // The connection is gone. Nothing was resent by the library: a READ is safe to send again, a
    // tape WRITE or a MOVE MEDIUM would need a look at the device's position first.
    if (!reopen(target, params, 30)) return 1;
    --lba;
  }
  std::printf("done\n");
  return 0;
}
