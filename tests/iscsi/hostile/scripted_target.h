// The scripted iSCSI target (scripted_target.py) as a child process of a test.
#pragma once

#include <sys/types.h>

#include <string>

namespace qxscsi::test {

// Starts /usr/bin/python3 scripted_target.py MODE on 127.0.0.1 at a free port. The object owns
// the process: the destructor kills it by its pid and reaps it; the script also exits by itself
// after `lifetimeSeconds`.
class ScriptedTarget {
 public:
  explicit ScriptedTarget(const std::string& mode, int lifetimeSeconds = 60);
  ~ScriptedTarget();
  ScriptedTarget(const ScriptedTarget&) = delete;
  ScriptedTarget& operator=(const ScriptedTarget&) = delete;

  // False, with the reason in why(), when the script could not be started.
  bool running() const { return port_ > 0; }
  const std::string& why() const { return why_; }
  // "127.0.0.1:PORT".
  std::string portal() const;
  // "iscsi://127.0.0.1:PORT/<the script's target name>/LUN".
  std::string url(int lun = 0) const;

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string why_;
};

// The name the script gives its target.
extern const char* const kScriptedTargetName;

}  // namespace qxscsi::test
