// The host's system calls behind qxscsi::backends::sg::System.
#include "sg_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace qxscsi::backends::sg {
namespace {

int failure() { return errno > 0 ? -errno : -EIO; }

class HostSystem final : public System {
 public:
  int open(const std::string& path, int flags) override {
    int fd = ::open(path.c_str(), flags);
    return fd >= 0 ? fd : failure();
  }

  int close(int fd) override { return ::close(fd) == 0 ? 0 : failure(); }

  int duplicate(int fd, int lowest) override {
    int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, lowest);
    return copy >= 0 ? copy : failure();
  }

  int sgIo(int fd, sg_io_hdr_t& header) override { return ::ioctl(fd, SG_IO, &header) == 0 ? 0 : failure(); }

  int deviceNumber(int fd, NodeNumber& number) override {
    struct stat st;
    if (::fstat(fd, &st) != 0) return failure();
    if (!S_ISCHR(st.st_mode) && !S_ISBLK(st.st_mode)) return -ENOTTY;
    number.block = S_ISBLK(st.st_mode);
    number.major = major(st.st_rdev);
    number.minor = minor(st.st_rdev);
    return 0;
  }

  std::string readLink(const std::string& path) override {
    char buffer[4096];
    ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) return std::string();
    return std::string(buffer, static_cast<size_t>(n));
  }

  std::vector<std::string> listDirectory(const std::string& path) override {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), &::closedir);
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir.get())) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    return names;
  }

  bool exists(const std::string& path) override { return ::access(path.c_str(), F_OK) == 0; }
};

}  // namespace

System& hostSystem() {
  static HostSystem system;
  return system;
}

}  // namespace qxscsi::backends::sg
