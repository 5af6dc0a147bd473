// Starting and stopping the scripted iSCSI target.
#include "scripted_target.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace qxscsi::test {

const char* const kScriptedTargetName = "iqn.2026-12.org.qxscsi:scripted";

namespace {
const char* kPython = "/usr/bin/python3";
}

ScriptedTarget::ScriptedTarget(const std::string& mode, int lifetimeSeconds) {
  if (access(kPython, X_OK) != 0) {
    why_ = std::string(kPython) + " is not installed";
    return;
  }
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    why_ = "pipe failed";
    return;
  }
  std::string lifetime = std::to_string(lifetimeSeconds);
  std::vector<const char*> argv = {kPython, QXSCSI_SCRIPTED_TARGET, mode.c_str(), "--lifetime",
                                   lifetime.c_str(), nullptr};
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], 1);
    execv(kPython, const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  close(out[1]);
  if (pid_ < 0) {
    close(out[0]);
    why_ = "fork failed";
    return;
  }
  // "PORT <n>\n", within ten seconds.
  std::string line;
  pollfd p{out[0], POLLIN, 0};
  while (line.find('\n') == std::string::npos) {
    int n = poll(&p, 1, 10000);
    if (n < 0 && errno == EINTR) continue;
    char buf[64];
    ssize_t got = n > 0 ? read(out[0], buf, sizeof buf) : 0;
    if (got <= 0) break;
    line.append(buf, static_cast<size_t>(got));
  }
  close(out[0]);
  if (line.rfind("PORT ", 0) == 0) port_ = std::atoi(line.c_str() + 5);
  if (port_ <= 0) why_ = "the scripted target did not start: '" + line + "'";
}

ScriptedTarget::~ScriptedTarget() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  int status;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
}

std::string ScriptedTarget::portal() const { return "127.0.0.1:" + std::to_string(port_); }

std::string ScriptedTarget::url(int lun) const {
  return "iscsi://" + portal() + "/" + kScriptedTargetName + "/" + std::to_string(lun);
}

}  // namespace qxscsi::test
