// Opening the device a subcommand works on, through the back-ends' installation.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/output.h"
#include "qxscsi/backends/install.h"
#include "qxscsi/parameters.h"
#include "qxscsi/target.h"

namespace qxscsi::cli {

// Owns the back-ends' installation and the opened target for the length of one run.
class DeviceSession {
 public:
  DeviceSession();
  ~DeviceSession();

  // Opens `name` as an SPI target with `params`, at `address` ("BUS:TARGET:LUN", needed behind an
  // adapter name "//./scsiN:") when it is not empty; null (with the error line printed and
  // `status` set) when it cannot. The session keeps the target (and those opened before it).
  QXScsiTarget* open(const std::string& name, std::vector<QXScsi::ParameterData>& params, Output& out,
                     int& status, const std::string& address = std::string());

  backends::Installation* installation() { return installation_.get(); }

 private:
  std::unique_ptr<backends::Installation> installation_;
  std::vector<std::unique_ptr<QXScsiSPITarget>> targets_;  // destroyed before the installation
};

// `name` as messages and documents show it: the password of a "SCHEME://USER%PASSWORD@" part
// written as "***" (an iSCSI CHAP secret never leaves the program); anything else unchanged.
std::string shownDeviceName(const std::string& name);

// Reads "BUS:TARGET:LUN" (each 0-255); false leaves the numbers alone.
bool parseLunAddress(const std::string& text, unsigned char& bus, unsigned char& target, unsigned char& lun);

// list: the devices the back-ends can see (or those behind `portal`, each network step bounded
// by timeoutSeconds), with their INQUIRY identity.
int runList(DeviceSession& session, const std::string& portal, unsigned long timeoutSeconds, Output& out);

}  // namespace qxscsi::cli
