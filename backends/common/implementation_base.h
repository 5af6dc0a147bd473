// What our target implementations share: the last error and its text, one view of a command record,
// and the facts of the last command.
#pragma once

#include <chrono>
#include <string>

#include "qxscsi/backends/backend.h"
#include "qxscsi/commands.h"
#include "qxscsi/implementation.h"

namespace qxscsi::backends {

// A command record as an implementation executes it. The CDB and the buffer are the caller's,
// used in place; data-in commands write into `data`.
struct CommandView {
  const unsigned char* cdb = nullptr;
  unsigned cdbLength = 0;  // 1 to 16 once viewed
  int direction = QXScsi::noData_c;
  unsigned char* data = nullptr;
  unsigned long length = 0;
  unsigned long timeoutSeconds = 0;  // the record's timeout; 0 leaves the choice to the back-end
};

// Base of the back-ends' implementations: implementationError, implementationErrorMsg and
// implementationErrorHint answer from the error stored by fail().
class ImplementationBase : public QXScsiTargetImpl {
 public:
  long implementationError() const override { return error_; }
  void implementationErrorMsg(std::string& message) const override { message = message_; }
  // The message of the last error; left unchanged when there is none.
  void implementationErrorHint(std::string& hint) override;

  // The facts of the last executed command; false before any.
  bool lastCommand(CommandFacts& facts) const;

 protected:
  // Stores `error` and its `message`; always false, for `return fail(...)`.
  bool fail(long error, const std::string& message);
  // Stores `error` and `message` in the record as well; always false.
  bool fail(QXScsiCmd& cmd, long error, const std::string& message);
  // Clears the stored error.
  void succeed();
  // Fills `view` from `cmd`. False, with invalidRequest_c in the record and here, when the
  // CDB is not 1 to 16 bytes long.
  bool view(QXScsiCmd& cmd, CommandView& view);
  // Facts of the command being executed: started when it is sent, finished with its residual.
  void commandStarted(const CommandView& view);
  void commandFinished(unsigned long residual, bool overflow);

 private:
  long error_ = 0;
  std::string message_;
  bool factsKnown_ = false;
  CommandFacts facts_;
  std::chrono::steady_clock::time_point started_;
};

// The back-end half of lastCommand(): answers for implementations derived from ImplementationBase.
bool lastCommandOf(const QXScsiTargetImpl& impl, CommandFacts& facts);

}  // namespace qxscsi::backends

namespace qxscsi::backends {

// Base of our back-ends: lastCommand answers for the implementations derived from
// ImplementationBase that they create.
class BackendBase : public Backend {
 public:
  bool lastCommand(const QXScsiTargetImpl& impl, CommandFacts& facts) const override {
    return lastCommandOf(impl, facts);
  }
};

}  // namespace qxscsi::backends
