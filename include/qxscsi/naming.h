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

}  // namespace QXScsi
