// A private tgtd instance for tests and benchmarks: loopback portal, own control port, own files.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace qxscsi::test {

// Runs argv[0] (a path) with the arguments, waits for it and returns its exit code (-1 when it
// could not be run or died by a signal). Standard output and error are appended to *output.
int runProgram(const std::vector<std::string>& argv, std::string* output = nullptr);

// A portal on 127.0.0.1 that takes TCP connections (the kernel's backlog does) and never answers
// a byte; closed by the destructor.
class SilentPortal {
 public:
  SilentPortal();
  ~SilentPortal();
  SilentPortal(const SilentPortal&) = delete;
  SilentPortal& operator=(const SilentPortal&) = delete;
  bool listening() const { return fd_ >= 0; }
  // "127.0.0.1:PORT".
  std::string portal() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// One tgtd process listening on 127.0.0.1 at a free port, controlled through its own control
// number (tgtadm -C N), with its backing files in a private temporary directory. The instance
// owns the process and the directory: the destructor kills the process by its pid and removes
// both the directory and the control socket files of its control number.
class TgtdInstance {
 public:
  // Starts a new instance; null (with the reason in *error) when tgtd cannot be started.
  static std::unique_ptr<TgtdInstance> start(std::string* error);
  // True when tgtd and tgtadm are installed and we may run them (root).
  static bool available(std::string* why);

  ~TgtdInstance();
  TgtdInstance(const TgtdInstance&) = delete;
  TgtdInstance& operator=(const TgtdInstance&) = delete;

  int port() const { return port_; }
  int control() const { return control_; }
  pid_t pid() const { return pid_; }
  const std::string& directory() const { return dir_; }
  // "127.0.0.1:PORT".
  std::string portal() const;
  // "iscsi://127.0.0.1:PORT/IQN/LUN".
  std::string url(const std::string& iqn, int lun) const;

  // Runs tgtadm -C N with the arguments; true on exit code 0. Configuration commands are
  // remembered and replayed by restart().
  bool tgtadm(const std::vector<std::string>& args, std::string* output = nullptr);
  // Same, but not remembered (queries and temporary changes).
  bool tgtadmOnce(const std::vector<std::string>& args, std::string* output = nullptr);

  // Target tid with name iqn and a disk LUN 1 backed by a sparse file of the given size.
  bool addDisk(int tid, const std::string& iqn, unsigned long megabytes);
  // Target tid with a tape LUN 1 holding a fresh data cartridge made by tgtimg.
  bool addTape(int tid, const std::string& iqn, const std::string& barcode);
  // Target tid with a changer LUN 1: one transport (1), four slots (1000..1003), one drive (500)
  // bound to target driveTid LUN 1, and a cartridge with the barcode in slot 1001.
  bool addChanger(int tid, const std::string& iqn, int driveTid, const std::string& barcode);
  // Target tid with name iqn, open to every initiator, and no LUN but tgt's controller LUN 0.
  bool addTarget(int tid, const std::string& iqn);
  // A disk LUN of target tid backed by a sparse file of its own; serial, when not empty, is what
  // it answers in VPD page 80h (tgtadm's scsi_sn). LUN 0 is tgt's controller, made with the
  // target: it only takes the serial.
  bool addLun(int tid, int lun, unsigned long megabytes, const std::string& serial = std::string());
  // Requires CHAP: an account user/password bound to target tid.
  bool addAccount(int tid, const std::string& user, const std::string& password);
  // Mutual CHAP: the target answers the initiator's challenge as user/password (tgtadm --outgoing).
  bool addOutgoingAccount(int tid, const std::string& user, const std::string& password);
  // Sets a logical unit parameter (for example online=0 or sense_format=1), not replayed.
  bool setLunParams(int tid, int lun, const std::string& params);

  // SIGKILL and reap; the backing files stay. Idempotent.
  void kill();
  // Starts tgtd again on the same port and control number and replays the configuration.
  bool restart(std::string* error);
  // SIGSTOP / SIGCONT: a stopped tgtd accepts TCP connections but answers nothing.
  void pause();
  void resume();
  bool running() const { return pid_ > 0; }

 private:
  TgtdInstance() = default;
  bool launch(std::string* error);

  int port_ = 0;
  int control_ = 0;
  pid_t pid_ = -1;
  bool paused_ = false;
  std::string dir_;
  std::vector<std::vector<std::string>> replay_;
};

}  // namespace qxscsi::test
