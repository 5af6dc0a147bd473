// Helpers of the in-VM tests: sg nodes by SCSI address, sg3_utils output, unit attention.
#pragma once

#include <memory>
#include <string>

#include "qxscsi/qxscsi.h"

namespace qxscsi::test {

struct CmdDeleter {
  void operator()(QXScsiCmd* cmd) const { QXScsiFreeCmd(cmd); }
};
// A record from the library, released with QXScsiFreeCmd.
using CmdPtr = std::unique_ptr<QXScsiCmd, CmdDeleter>;

// The /dev path of the sg node whose sysfs address is hctl ("0:0:1:0"); "" when there is none.
std::string nodeAt(const std::string& hctl);

// Runs a shell command and collects its standard output; false when it could not run or failed.
bool runTool(const std::string& command, std::string& output);

// Sends TEST UNIT READY until no unit attention is pending (at most a few times).
void settle(QXScsiTarget& target);

}  // namespace qxscsi::test
