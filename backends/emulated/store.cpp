// Devices of the emulated back-end, made on first opening.
#include "store.h"

#include <algorithm>

namespace qxscsi::backends::emulated {

std::shared_ptr<SharedDevice> DeviceStore::device(const Options& options, OpenFailure& failure) {
  const std::string key = options.deviceKey();
  auto it = devices_.find(key);
  if (it != devices_.end()) return it->second;
  auto shared = std::make_shared<SharedDevice>();
  shared->device = Device::create(options, failure);
  if (!shared->device) return nullptr;
  shared->openings.assign(shared->device->lunCount(), 0);
  shared->exclusive.assign(shared->device->lunCount(), false);
  devices_[key] = shared;
  return shared;
}

void DeviceStore::closed(const Options& options) {
  if (!options.given("file")) return;
  auto it = devices_.find(options.deviceKey());
  if (it == devices_.end()) return;
  const SharedDevice& d = *it->second;
  const bool open = std::any_of(d.openings.begin(), d.openings.end(), [](unsigned n) { return n > 0; }) ||
                    std::any_of(d.exclusive.begin(), d.exclusive.end(), [](bool b) { return b; });
  if (!open) devices_.erase(it);
}

}  // namespace qxscsi::backends::emulated
