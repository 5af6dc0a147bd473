// The shared base of our target implementations.
#include "implementation_base.h"

#include <algorithm>

#include "qxscsiplatform/errors.h"

namespace qxscsi::backends {

void ImplementationBase::implementationErrorHint(std::string& hint) {
  if (error_ != 0) hint = message_;
}

bool ImplementationBase::fail(long error, const std::string& message) {
  error_ = error;
  message_ = message;
  return false;
}

bool ImplementationBase::fail(QXScsiCmd& cmd, long error, const std::string& message) {
  setCmdErrorCode(cmd, error, message.c_str());
  return fail(error, message);
}

void ImplementationBase::succeed() {
  error_ = 0;
  message_.clear();
}

bool ImplementationBase::view(QXScsiCmd& cmd, CommandView& view) {
  const unsigned char* data = nullptr;
  unsigned char cdbLength = 0;
  cmd.getCDB(view.cdb, cdbLength);
  view.cdbLength = cdbLength;
  cmd.getCmdData(data, view.length, view.direction);
  // The record refers to the caller's writable buffer.
  view.data = const_cast<unsigned char*>(data);
  view.timeoutSeconds = cmd.timeout();
  if (view.cdb == nullptr || view.cdbLength < 1 || view.cdbLength > 16)
    return fail(cmd, QXScsiPlatform::invalidRequest_c,
                "the CDB is " + std::to_string(view.cdbLength) + " bytes long; 1 to 16 can be sent");
  return true;
}

void ImplementationBase::commandStarted(const CommandView& view) {
  factsKnown_ = false;
  facts_ = CommandFacts();
  facts_.requested = view.direction == QXScsi::noData_c ? 0 : view.length;
  started_ = std::chrono::steady_clock::now();
}

void ImplementationBase::commandFinished(unsigned long residual, bool overflow) {
  facts_.duration = std::chrono::steady_clock::now() - started_;
  facts_.overflow = overflow;
  facts_.residual = residual;
  facts_.transferred = overflow ? facts_.requested : facts_.requested - std::min(residual, facts_.requested);
  factsKnown_ = true;
}

bool ImplementationBase::lastCommand(CommandFacts& facts) const {
  if (!factsKnown_) return false;
  facts = facts_;
  return true;
}

bool lastCommandOf(const QXScsiTargetImpl& impl, CommandFacts& facts) {
  auto* ours = dynamic_cast<const ImplementationBase*>(&impl);
  return ours != nullptr && ours->lastCommand(facts);
}

}  // namespace qxscsi::backends
