// Device names: adapter names, the generic-device test and upper-casing.
#pragma once

#include <string>

#include "qxscsi/export.h"

namespace QXScsi {

// Inserts "//./scsi<adapter>:" at the front of name.
QXSCSI_EXPORT void formatScsiName(std::string& name, unsigned short adapter);
// True when name contains "scsidev" in any case.
QXSCSI_EXPORT bool isScsiName(const std::string& name);
// Appends the upper-case form of source to out.
QXSCSI_EXPORT void toUpper(const std::string& source, std::string& out);
// Searches the device-name patterns for the name under which the device at adapter/bus/target/lun
// opens; patternKey selects the patterns (-1 for all). name (the caller's) is emptied first and holds
// the name found when the answer is true.
QXSCSI_EXPORT bool getScsiDeviceName(std::string& name, int adapter, int bus, int target, int lun,
                                     int patternKey);

}  // namespace QXScsi
