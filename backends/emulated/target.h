// The implementation that serves a target opened on an emulated device name.
#pragma once

#include <memory>
#include <string>

#include "device.h"
#include "hostile.h"
#include "implementation_base.h"
#include "options.h"
#include "store.h"

namespace qxscsi::backends::emulated {

// Opens one logical unit of an emulated device and carries out commands on it. Commands go
// to the LUN of the record's address when that is a defined bus/target/LUN address, else to
// the unit the name opened. Errors are the QXScsiPlatform values; their text is given by
// implementationErrorMsg and implementationErrorHint.
class EmulatedTarget : public ImplementationBase {
 public:
  // Opens devices of `store` (not owned; once it has ended, opening fails).
  explicit EmulatedTarget(std::weak_ptr<DeviceStore> store);
  ~EmulatedTarget() override;

  bool access(const char* name, int accessMode) override;
  bool accessExclusive(const char* name, int accessMode) override;
  void access(void* handle) override;
  bool release() override;
  bool getScsiAddress(QXScsiAddress& address, bool& flag) override;
  bool executeCommand(QXScsiCmd& cmd, const QXScsiDevice& device) override;
  bool accessScsiTarget(const QXScsiAddress& address) override;
  bool accessScsiTarget(const QXScsiDevice& device) override;
  long implementationVersion() const override { return 1; }
  int handle() const override { return handle_; }
  int adapter() const override;

  // The device behind an open implementation (null when closed), for inspection.
  Device* device() const { return shared_ ? shared_->device.get() : nullptr; }

 private:
  bool open(const char* name, bool exclusive);
  unsigned targetLun(QXScsiCmd& cmd);

  std::weak_ptr<DeviceStore> store_;
  std::shared_ptr<SharedDevice> shared_;
  Options options_;
  // Read from options_ once at opening: every command needs them.
  Hostility hostility_ = Hostility::none;
  std::string initiator_;
  unsigned lun_ = 0;
  bool exclusive_ = false;
  int handle_ = -1;
  CommandResult result_;  // of the last command, its storage reused by the next
};

}  // namespace qxscsi::backends::emulated
