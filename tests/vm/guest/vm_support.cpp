// Helpers of the in-VM tests: sg nodes by SCSI address, sg3_utils output, unit attention.
#include "vm_support.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>

namespace qxscsi::test {

std::string nodeAt(const std::string& hctl) {
  const std::string classDir = "/sys/class/scsi_generic/";
  DIR* dir = ::opendir(classDir.c_str());
  if (!dir) return std::string();
  std::string found;
  while (const dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    char link[512];
    ssize_t n = ::readlink((classDir + name + "/device").c_str(), link, sizeof link - 1);
    if (n <= 0) continue;
    std::string target(link, static_cast<size_t>(n));
    if (target.size() >= hctl.size() + 1 &&
        target.compare(target.size() - hctl.size() - 1, std::string::npos, "/" + hctl) == 0) {
      found = "/dev/" + name;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

bool runTool(const std::string& command, std::string& output) {
  output.clear();
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return false;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  return ::pclose(pipe) == 0;
}

void settle(QXScsiTarget& target) {
  for (int i = 0; i < 4; ++i) {
    QXScsiCmd* cmd = target.cmdTestUnitReady();
    const bool attention = cmd && cmd->scsiStatus() == 0x02 && cmd->senseData().senseKey() == 0x06;
    QXScsiFreeCmd(cmd);
    if (!attention) return;
  }
}

}  // namespace qxscsi::test
