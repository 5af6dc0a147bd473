// The one registered implementation: it routes each device name to the back-end that takes it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "implementation_base.h"

namespace qxscsi::backends {

// What the factory creates for every target. At access() it asks the live installation
// for the back-end that takes the device name, has it create the implementation for that
// name, and from then on forwards every operation to that implementation, which it owns.
// Without one (before access, after a failed routing) it answers as a closed device.
class RoutingTarget : public ImplementationBase {
 public:
  RoutingTarget();
  ~RoutingTarget() override;

  // Creator and destroyer registered with the factory.
  static QXAbstractProduct* create();
  static void destroy(QXAbstractProduct* product);

  bool access(const char* name, int accessMode) override;
  bool accessExclusive(const char* name, int accessMode) override;
  void access(void* handle) override;
  bool release() override;
  bool getScsiAddress(QXScsiAddress& address, bool& flag) override;
  bool executeCommand(QXScsiCmd& cmd, const QXScsiDevice& device) override;
  bool accessScsiTarget(const QXScsiAddress& address) override;
  bool accessScsiTarget(const QXScsiDevice& device) override;
  long implementationVersion() const override;
  long implementationError() const override;
  void implementationErrorMsg(std::string& message) const override;
  void implementationErrorHint(std::string& hint) override;
  int handle() const override;
  int adapter() const override;
  int os_platform() const override;
  int scsi_transport() const override;
  void overrideDefaultBehavior(const std::vector<QXScsi::ParameterData>& params) override;
  void disableImplicitRelease() override;
  bool isTargetState(unsigned long state) const override;

  // The implementation the name was routed to, or null.
  QXScsiTargetImpl* routed() const { return inner_.get(); }
  // The facts of the routed implementation's last command, from the back-end that made it.
  bool lastCommandFacts(CommandFacts& facts) const;

 private:
  bool route(const char* name, bool exclusive, int accessMode);
  bool adopt(std::unique_ptr<QXScsiTargetImpl> impl);
  void drop();

  std::unique_ptr<QXScsiTargetImpl> inner_;
  std::string innerName_;
  std::vector<QXScsi::ParameterData> params_;
  std::string backendName_;  // of the back-end that made inner_
  int handle_ = -1;
};

}  // namespace qxscsi::backends
