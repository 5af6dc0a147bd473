// A private tgtd instance: process control, free port and control number, configuration.
#include "tgtd_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

namespace qxscsi::test {
namespace {

std::string tail(const std::string& path);

constexpr const char* kTgtd = "/usr/sbin/tgtd";
constexpr const char* kTgtadm = "/usr/sbin/tgtadm";
constexpr const char* kTgtimg = "/usr/sbin/tgtimg";
constexpr const char* kControlDir = "/var/run/tgtd";

std::vector<char*> cArgs(const std::vector<std::string>& argv) {
  std::vector<char*> out;
  for (const auto& a : argv) out.push_back(const_cast<char*>(a.c_str()));
  out.push_back(nullptr);
  return out;
}

// A port that nothing listens on right now (the kernel picks it; tgtd binds it moments later).
int freeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(fd);
  return port;
}

bool loopbackAccepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

std::string controlPath(int control) {
  return std::string(kControlDir) + "/socket." + std::to_string(control);
}

// A control number whose lock file no live tgtd holds.
int freeControlNumber() {
  static std::mt19937 rng(static_cast<unsigned>(getpid()) ^
                          static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::uniform_int_distribution<int> pick(10000, 32000);  // tgtd takes at most 32767
  for (int attempt = 0; attempt < 100; ++attempt) {
    int n = pick(rng);
    struct stat st;
    if (stat(controlPath(n).c_str(), &st) != 0 && stat((controlPath(n) + ".lock").c_str(), &st) != 0)
      return n;
  }
  return -1;
}

// The last lines of a log file, for error messages.
std::string tail(const std::string& path) {
  std::string text;
  runProgram({"/usr/bin/tail", "-n", "5", path}, &text);
  return text;
}

}  // namespace

SilentPortal::SilentPortal() {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd_, 16) != 0 ||
      getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    return;
  }
  port_ = ntohs(a.sin_port);
}

SilentPortal::~SilentPortal() {
  if (fd_ >= 0) close(fd_);
}

int runProgram(const std::vector<std::string>& argv, std::string* output) {
  int pipefd[2];
  if (pipe2(pipefd, O_CLOEXEC) != 0) return -1;
  std::vector<char*> args = cArgs(argv);
  pid_t pid = fork();
  if (pid < 0) {
    close(pipefd[0]);
    close(pipefd[1]);
    return -1;
  }
  if (pid == 0) {
    dup2(pipefd[1], 1);
    dup2(pipefd[1], 2);
    execv(args[0], args.data());
    _exit(127);
  }
  close(pipefd[1]);
  char buf[4096];
  ssize_t n;
  while ((n = read(pipefd[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0 && output) output->append(buf, static_cast<size_t>(n));
  close(pipefd[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool TgtdInstance::available(std::string* why) {
  for (const char* p : {kTgtd, kTgtadm, kTgtimg})
    if (access(p, X_OK) != 0) {
      if (why) *why = std::string(p) + " is not installed";
      return false;
    }
  if (geteuid() != 0) {
    if (why) *why = "tgtd needs root";
    return false;
  }
  return true;
}

std::unique_ptr<TgtdInstance> TgtdInstance::start(std::string* error) {
  if (!available(error)) return nullptr;
  std::unique_ptr<TgtdInstance> t(new TgtdInstance());
  char tmpl[] = "/tmp/qxscsi-tgtd-XXXXXX";
  if (!mkdtemp(tmpl)) {
    if (error) *error = "mkdtemp failed";
    return nullptr;
  }
  t->dir_ = tmpl;
  for (int attempt = 0; attempt < 5; ++attempt) {
    t->port_ = freeLoopbackPort();
    t->control_ = freeControlNumber();
    if (t->port_ > 0 && t->control_ > 0 && t->launch(error)) return t;
  }
  return nullptr;
}

bool TgtdInstance::launch(std::string* error) {
  std::string log = dir_ + "/tgtd.log";
  std::vector<std::string> argv = {
      kTgtd, "-f", "-C", std::to_string(control_), "--iscsi", "portal=127.0.0.1:" + std::to_string(port_)};
  std::vector<char*> args = cArgs(argv);
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) {
    if (error) *error = std::string("fork: ") + strerror(errno);
    return false;
  }
  if (pid == 0) {
    // Never outlive the test program, whatever happens to it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    setpgid(0, 0);
    execv(args[0], args.data());
    _exit(127);
  }
  pid_ = pid;
  paused_ = false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      if (error) *error = "tgtd exited at start: " + tail(log);
      return false;
    }
    std::string out;
    if (loopbackAccepts(port_) && tgtadmOnce({"--op", "show", "--mode", "sys"}, &out)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill();
  if (error) *error = "tgtd did not come up within 10 s: " + tail(log);
  return false;
}

TgtdInstance::~TgtdInstance() {
  kill();
  if (!dir_.empty()) runProgram({"/bin/rm", "-rf", dir_});
}

void TgtdInstance::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  paused_ = false;
  unlink(controlPath(control_).c_str());
  unlink((controlPath(control_) + ".lock").c_str());
}

bool TgtdInstance::restart(std::string* error) {
  kill();
  // The port may be briefly held by the dying process; try for a few seconds.
  for (int attempt = 0; attempt < 25; ++attempt) {
    if (launch(error)) {
      for (const auto& cmd : replay_)
        if (!tgtadmOnce(cmd)) {
          if (error) *error = "replaying the configuration failed";
          return false;
        }
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return false;
}

void TgtdInstance::pause() {
  if (pid_ > 0 && !paused_) ::kill(pid_, SIGSTOP), paused_ = true;
}

void TgtdInstance::resume() {
  if (pid_ > 0 && paused_) ::kill(pid_, SIGCONT), paused_ = false;
}

std::string TgtdInstance::portal() const { return "127.0.0.1:" + std::to_string(port_); }

std::string TgtdInstance::url(const std::string& iqn, int lun) const {
  return "iscsi://" + portal() + "/" + iqn + "/" + std::to_string(lun);
}

bool TgtdInstance::tgtadmOnce(const std::vector<std::string>& args, std::string* output) {
  std::vector<std::string> argv = {kTgtadm, "-C", std::to_string(control_), "--lld", "iscsi"};
  argv.insert(argv.end(), args.begin(), args.end());
  return runProgram(argv, output) == 0;
}

bool TgtdInstance::tgtadm(const std::vector<std::string>& args, std::string* output) {
  if (!tgtadmOnce(args, output)) return false;
  replay_.push_back(args);
  return true;
}

bool TgtdInstance::addDisk(int tid, const std::string& iqn, unsigned long megabytes) {
  std::string file = dir_ + "/disk" + std::to_string(tid) + ".img";
  int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool sized = ftruncate(fd, static_cast<off_t>(megabytes) << 20) == 0;
  close(fd);
  std::string t = std::to_string(tid);
  return sized && tgtadm({"--op", "new", "--mode", "target", "--tid", t, "-T", iqn}) &&
         tgtadm({"--op", "new", "--mode", "logicalunit", "--tid", t, "--lun", "1", "-b", file}) &&
         tgtadm({"--op", "bind", "--mode", "target", "--tid", t, "-I", "ALL"});
}

bool TgtdInstance::addTape(int tid, const std::string& iqn, const std::string& barcode) {
  std::string file = dir_ + "/" + barcode;
  std::string t = std::to_string(tid);
  return runProgram({kTgtimg, "--op", "new", "--device-type", "tape", "--barcode", barcode, "--size", "64",
                     "--type", "data", "--file", file}) == 0 &&
         tgtadm({"--op", "new", "--mode", "target", "--tid", t, "-T", iqn}) &&
         tgtadm({"--op", "new", "--mode", "logicalunit", "--tid", t, "--lun", "1", "--device-type", "tape",
                 "-b", file}) &&
         tgtadm({"--op", "bind", "--mode", "target", "--tid", t, "-I", "ALL"});
}

bool TgtdInstance::addChanger(int tid, const std::string& iqn, int driveTid, const std::string& barcode) {
  std::string file = dir_ + "/changer" + std::to_string(tid) + ".img";
  std::string media = dir_;
  int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool sized = ftruncate(fd, 1024) == 0;
  close(fd);
  // The cartridge that MOVE MEDIUM loads into the drive lives in media_home under its barcode.
  if (!sized || runProgram({kTgtimg, "--op", "new", "--device-type", "tape", "--barcode", barcode, "--size",
                            "64", "--type", "data", "--file", media + "/" + barcode}) != 0)
    return false;
  std::string t = std::to_string(tid);
  if (!tgtadm({"--op", "new", "--mode", "target", "--tid", t, "-T", iqn}) ||
      !tgtadm({"--op", "new", "--mode", "logicalunit", "--tid", t, "--lun", "1", "--device-type", "changer",
               "-b", file}))
    return false;
  for (const std::string& p :
       {"media_home=" + media, std::string("element_type=1,start_address=1,quantity=1"),
        std::string("element_type=2,start_address=1000,quantity=4"),
        std::string("element_type=4,start_address=500,quantity=1"),
        "element_type=4,address=500,tid=" + std::to_string(driveTid) + ",lun=1",
        "element_type=2,address=1001,barcode=" + barcode + ",sides=1"})
    if (!tgtadm({"--op", "update", "--mode", "logicalunit", "--tid", t, "--lun", "1", "--params", p}))
      return false;
  return tgtadm({"--op", "bind", "--mode", "target", "--tid", t, "-I", "ALL"});
}

bool TgtdInstance::addTarget(int tid, const std::string& iqn) {
  std::string t = std::to_string(tid);
  return tgtadm({"--op", "new", "--mode", "target", "--tid", t, "-T", iqn}) &&
         tgtadm({"--op", "bind", "--mode", "target", "--tid", t, "-I", "ALL"});
}

bool TgtdInstance::addLun(int tid, int lun, unsigned long megabytes, const std::string& serial) {
  std::string t = std::to_string(tid), l = std::to_string(lun);
  auto setSerial = [&] {
    return serial.empty() || tgtadm({"--op", "update", "--mode", "logicalunit", "--tid", t, "--lun", l,
                                     "--params", "scsi_sn=" + serial});
  };
  // tgt makes LUN 0 itself, its controller, which takes no backing file.
  if (lun == 0) return setSerial();
  std::string file = dir_ + "/t" + t + "-lun" + l + ".img";
  int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool sized = ftruncate(fd, static_cast<off_t>(megabytes) << 20) == 0;
  close(fd);
  return sized && tgtadm({"--op", "new", "--mode", "logicalunit", "--tid", t, "--lun", l, "-b", file}) &&
         setSerial();
}

bool TgtdInstance::addOutgoingAccount(int tid, const std::string& user, const std::string& password) {
  return tgtadm({"--op", "new", "--mode", "account", "--user", user, "--password", password}) &&
         tgtadm({"--op", "bind", "--mode", "account", "--tid", std::to_string(tid), "--user", user,
                 "--outgoing"});
}

bool TgtdInstance::addAccount(int tid, const std::string& user, const std::string& password) {
  return tgtadm({"--op", "new", "--mode", "account", "--user", user, "--password", password}) &&
         tgtadm({"--op", "bind", "--mode", "account", "--tid", std::to_string(tid), "--user", user});
}

bool TgtdInstance::setLunParams(int tid, int lun, const std::string& params) {
  return tgtadmOnce({"--op", "update", "--mode", "logicalunit", "--tid", std::to_string(tid), "--lun",
                     std::to_string(lun), "--params", params});
}

}  // namespace qxscsi::test
