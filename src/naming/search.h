// Internal: the table-driven device-name search behind QXScsi::getScsiDeviceName.
// Not installed and not exported: the tests reach it with tables of their own through qxscsi_internal.
#pragma once

#include <string>

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
bool searchDeviceName(const DeviceNamePattern* table, std::string& name, int adapter, int bus, int target,
                      int lun, int patternKey);

}  // namespace qxscsi::naming
