// Behaviour parameters: name/value records of 64 + 64 characters, list helpers and parameter names.
#pragma once

#include <string>
#include <vector>

#include "qxscsi/export.h"

namespace QXScsi {

// One name/value pair. Each field is zero-filled and holds at most 64 bytes (no terminator when full).
class QXSCSI_EXPORT ParameterData {
 public:
  ParameterData();

  // Stores at most 64 bytes of name.c_str().
  void setName(const std::string& name);
  // Stores at most 64 bytes of value.c_str().
  void setValue(const std::string& value);
  // The stored name, at most 64 characters.
  std::string name() const;
  // The stored value, at most 64 characters.
  std::string value() const;

 private:
  char paramName[64];
  char paramValue[64];
};

// Appends a record (name, value) to params; existing records are left alone.
QXSCSI_EXPORT void setParameter(const std::string& name, const std::string& value,
                                std::vector<ParameterData>& params);
// value = the values of all records named name, the last record's value first; "" when none.
QXSCSI_EXPORT void getParameter(const std::string& name, std::string& value,
                                const std::vector<ParameterData>& params);
// The transport type 1 or 2 read from the start of text; -1 for anything else.
QXSCSI_EXPORT int transportType(const std::string& text);

// Parameter names (static texts).
QXSCSI_EXPORT const char* accessScsiTargetParam();
QXSCSI_EXPORT const char* exclusiveAccessParam();
QXSCSI_EXPORT const char* scsiTransportTypeParam();
QXSCSI_EXPORT const char* OSTypeParam();
QXSCSI_EXPORT const char* retryAccessSPIDeviceParam();
QXSCSI_EXPORT const char* firmwareParam();
QXSCSI_EXPORT const char* inhibitAccessToScsiAddressParam();

}  // namespace QXScsi
