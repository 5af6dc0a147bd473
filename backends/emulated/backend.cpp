// The emulated back-end: takes "emulated:" names and owns the emulated devices.
#include <memory>

#include "options.h"
#include "qxscsi/backends/emulated.h"
#include "store.h"
#include "target.h"

namespace qxscsi::backends {

namespace {

class EmulatedBackend : public Backend {
 public:
  const char* name() const override { return "emulated"; }
  bool takes(const std::string& deviceName) const override {
    return emulated::Options::isEmulatedName(deviceName);
  }
  std::unique_ptr<QXScsiTargetImpl> create(const std::string&) override {
    return std::make_unique<emulated::EmulatedTarget>(store_);
  }
  std::vector<std::string> devices() const override {
    return {"emulated:disk", "emulated:tape", "emulated:changer"};
  }

 private:
  std::shared_ptr<emulated::DeviceStore> store_ = std::make_shared<emulated::DeviceStore>();
};

}  // namespace

std::unique_ptr<Backend> makeEmulatedBackend() { return std::make_unique<EmulatedBackend>(); }

}  // namespace qxscsi::backends
