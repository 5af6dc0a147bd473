// The emulated back-end: takes "emulated:" names and owns the emulated devices.
#include <memory>

#include "options.h"
#include "qxscsi/backends/emulated.h"
#include "store.h"
#include "target.h"

namespace qxscsi::backends {

namespace {

class EmulatedBackend : public BackendBase {
 public:
  const char* name() const override { return "emulated"; }
  std::vector<std::string> nameSyntax() const override {
    return {"emulated:disk|tape|changer[?OPTION=VALUE&...]"};
  }
  bool takes(const std::string& deviceName) const override {
    return emulated::Options::isEmulatedName(deviceName);
  }
  std::unique_ptr<QXScsiTargetImpl> create(const std::string&) override {
    return std::make_unique<emulated::EmulatedTarget>(store_);
  }
  bool list(const std::string& scope, unsigned long, std::vector<DeviceGroup>& groups,
            std::string&) const override {
    if (scope.empty()) {
      DeviceGroup devices;
      devices.devices = {"emulated:disk", "emulated:tape", "emulated:changer"};
      groups.push_back(std::move(devices));
    }
    return true;
  }

 private:
  std::shared_ptr<emulated::DeviceStore> store_ = std::make_shared<emulated::DeviceStore>();
};

}  // namespace

std::unique_ptr<Backend> makeEmulatedBackend() { return std::make_unique<EmulatedBackend>(); }

}  // namespace qxscsi::backends
