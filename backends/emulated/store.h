// The emulated devices of one back-end, by device key, with the openings of their logical units.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device.h"
#include "options.h"

namespace qxscsi::backends::emulated {

// One emulated device and who has its logical units open.
struct SharedDevice {
  std::unique_ptr<Device> device;
  std::vector<unsigned> openings;  // per logical unit: shared openings
  std::vector<bool> exclusive;     // per logical unit: opened for exclusive use
};

// Owns the devices of one emulated back-end. A device is made when a name first opens it and
// stays until the store ends, except that one kept in a file (file=) goes, releasing the file,
// when its last opening closes; implementations share it, so it outlives the store while open.
class DeviceStore {
 public:
  // The device a parsed name describes, made on first need; null with `failure` filled when its
  // file cannot be used (nothing is then kept, so a later opening tries again).
  std::shared_ptr<SharedDevice> device(const Options& options, OpenFailure& failure);
  // Tells that an opening of the device `options` names has closed.
  void closed(const Options& options);
  // Number of devices held.
  size_t size() const { return devices_.size(); }

 private:
  std::map<std::string, std::shared_ptr<SharedDevice>> devices_;
};

}  // namespace qxscsi::backends::emulated
