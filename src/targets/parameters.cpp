// Behaviour parameters: records, list helpers and parameter names.
#include <cstring>
#include <sstream>

#include "qxscsi/parameters.h"

namespace QXScsi {
namespace {

// Zero-fills a 64-byte field and copies the text up to its first zero byte, at most 64 bytes.
void storeField(char (&field)[64], const std::string& text) {
  std::memset(field, 0, sizeof field);
  const char* s = text.c_str();
  std::memcpy(field, s, strnlen(s, sizeof field));
}

// A field read up to its first zero byte; a full field without one gives all 64 characters.
std::string readField(const char (&field)[64]) { return std::string(field, strnlen(field, sizeof field)); }

}  // namespace

ParameterData::ParameterData() : paramName{}, paramValue{} {}

void ParameterData::setName(const std::string& name) { storeField(paramName, name); }
void ParameterData::setValue(const std::string& value) { storeField(paramValue, value); }
std::string ParameterData::name() const { return readField(paramName); }
std::string ParameterData::value() const { return readField(paramValue); }

void setParameter(const std::string& name, const std::string& value, std::vector<ParameterData>& params) {
  ParameterData record;
  record.setName(name);
  record.setValue(value);
  params.push_back(record);
}

void getParameter(const std::string& name, std::string& value, const std::vector<ParameterData>& params) {
  value.clear();
  // Names compare up to their terminating zero, as C strings do.
  const std::string wanted(name.c_str());
  for (const ParameterData& record : params) {
    if (record.name() == wanted) value.insert(0, record.value());
  }
}

int transportType(const std::string& text) {
  std::istringstream in(text);
  int type = -1;
  if (!(in >> type)) return -1;
  return type == 1 || type == 2 ? type : -1;
}

const char* accessScsiTargetParam() { return "access_target"; }
const char* exclusiveAccessParam() { return "exclusive_access"; }
const char* scsiTransportTypeParam() { return "scsi_transport_type"; }
const char* OSTypeParam() { return "OS_type"; }
const char* retryAccessSPIDeviceParam() { return "retry_access"; }
const char* firmwareParam() { return "firmware"; }
const char* inhibitAccessToScsiAddressParam() { return "inhibit_scsi_addr"; }

}  // namespace QXScsi
