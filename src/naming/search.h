// Internal: the table-driven device-name search behind QXScsi::getScsiDeviceName.
// Not installed; exported only so that the search can be tested with tables of its own.
#pragma once

#include <string>

#include "qxscsi/export.h"

namespace qxscsi::naming {

// One row of a device-name pattern table: a key and a printf-style pattern that takes one
// int (the probe index). A table ends at its first row whose key is 0.
struct DeviceNamePattern {
  int key;
  const char* pattern;
};

// Probes the names of every row whose key is patternKey (every row for -1) with an SPI
// target each and answers whether one reports adapter/bus/target/lun; name is emptied first
// and receives the last matching row's name. Reads table; owns nothing it is given.
QXSCSI_EXPORT bool searchDeviceName(const DeviceNamePattern* table, std::string& name, int adapter, int bus,
                                    int target, int lun, int patternKey);

}  // namespace qxscsi::naming
