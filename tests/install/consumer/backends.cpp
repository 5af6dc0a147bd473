// A program outside the project that uses the back-ends: installs them, opens an emulated disk
// and prints its INQUIRY identification.
#include <cstdio>
#include <memory>

#include "qxscsi/backends/install.h"
#include "qxscsi/qxscsi.h"

int main() {
  std::unique_ptr<qxscsi::backends::Installation> installation = qxscsi::backends::install();
  if (!installation) return 1;
  QXScsiSPITarget disk("emulated:disk");
  if (!disk.valid()) {
    std::string hint;
    disk.implementationErrorHint(hint);
    std::printf("not opened (%ld): %s\n", disk.implementationError(), hint.c_str());
    return 1;
  }
  unsigned char inquiry[36] = {};
  QXScsiCmd* cmd = disk.cmdInquiry(inquiry, sizeof inquiry);
  if (!cmd || cmd->scsiStatus() != 0) return 1;
  QXScsiFreeCmd(cmd);
  std::printf("INQUIRY: %.8s %.16s\n", inquiry + 8, inquiry + 16);
  return 0;
}
