// Device-name search: finds the name under which the device at an adapter/bus/target/LUN
// address opens, by probing candidate names from a pattern table with SPI targets.
//
// A row ends at the first probe whose target holds no handle. Both -1 and 0 mean no handle
// (as they do for the target's own handle adoption), so an implementation that answers 0
// for a device it could not open ends the row instead of making the search probe forever;
// the index never goes past INT_MAX either.
#include "search.h"

#include <climits>
#include <cstdio>
#include <vector>

#include "qxscsi/devices.h"
#include "qxscsi/naming.h"
#include "qxscsi/parameters.h"
#include "qxscsi/target.h"

namespace {

using qxscsi::naming::DeviceNamePattern;

// The device-name patterns of this system. Add rows above the terminating row.
const DeviceNamePattern deviceNamePatterns[] = {
    {0, nullptr},
};

bool holdsNoHandle(const QXScsiSPITarget& target) {
  const int handle = target.handle();
  return handle == QXScsi::invalidHandleValue_c || handle == 0;
}

// Whether the opened probe reports the address searched for; exact comparisons, so an
// argument outside 0 to 255 never matches a byte.
bool reports(const QXScsiSPITarget& probe, int adapter, int bus, int target, int lun) {
  QXScsiAddress address;
  if (!probe.getScsiAddress(address)) return false;
  QXScsiLunAddress lunAddress;
  if (!address.toLunAddress(lunAddress)) return false;
  if (probe.adapter() != adapter) return false;
  return static_cast<int>(lunAddress.bus()) == bus && static_cast<int>(lunAddress.target()) == target &&
         static_cast<int>(lunAddress.lun()) == lun;
}

}  // namespace

namespace qxscsi::naming {

bool searchDeviceName(const DeviceNamePattern* table, std::string& name, int adapter, int bus, int target,
                      int lun, int patternKey) {
  name.clear();
  std::vector<QXScsi::ParameterData> probeParams;
  QXScsi::setParameter(QXScsi::accessScsiTargetParam(), "y", probeParams);
  QXScsiSPITarget working;  // keeps the last probe's implementation alive
  bool found = false;
  for (const DeviceNamePattern* row = table; row != nullptr && row->key != 0; ++row) {
    if (row->pattern == nullptr || (patternKey != -1 && row->key != patternKey)) continue;
    for (int index = 0;; ++index) {
      char candidate[256] = {};
      std::snprintf(candidate, sizeof candidate, row->pattern, index);
      working = QXScsiSPITarget(candidate, &probeParams);
      if (reports(working, adapter, bus, target, lun)) {
        name = candidate;  // a later row's match replaces this one
        found = true;
        break;
      }
      if (holdsNoHandle(working) || index == INT_MAX) break;
    }
  }
  return found;
}

}  // namespace qxscsi::naming

namespace QXScsi {

bool getScsiDeviceName(std::string& name, int adapter, int bus, int target, int lun, int patternKey) {
  return qxscsi::naming::searchDeviceName(deviceNamePatterns, name, adapter, bus, target, lun, patternKey);
}

}  // namespace QXScsi
