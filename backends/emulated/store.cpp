// Devices of the emulated back-end, made on first opening.
#include "store.h"

namespace qxscsi::backends::emulated {

std::shared_ptr<SharedDevice> DeviceStore::device(const Options& options) {
  std::shared_ptr<SharedDevice>& slot = devices_[options.deviceKey()];
  if (!slot) {
    auto shared = std::make_shared<SharedDevice>();
    shared->device = Device::create(options);
    shared->openings.assign(shared->device->lunCount(), 0);
    shared->exclusive.assign(shared->device->lunCount(), false);
    slot = shared;
  }
  return slot;
}

}  // namespace qxscsi::backends::emulated
