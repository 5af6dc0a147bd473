// A scripted stand-in for the SG back-end's system seam: nodes, sysfs links and SG_IO answers.
#pragma once

#include <fcntl.h>

#include <cerrno>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sg_system.h"

namespace qxscsi::backends::sg::testing {

class FakeSgSystem : public System {
 public:
  struct OpenCall {
    std::string path;
    int flags;
  };

  // Adds /dev/<name> as a character node major:minor whose sysfs device is hctl ("0:0:1:0");
  // nodes named sgN also appear in /sys/class/scsi_generic.
  void addNode(const std::string& name, unsigned major, unsigned minor, const std::string& hctl) {
    NodeNumber number;
    number.major = major;
    number.minor = minor;
    nodes["/dev/" + name] = number;
    std::string link = "../../../" + hctl;
    links["/sys/dev/char/" + std::to_string(major) + ":" + std::to_string(minor) + "/device"] = link;
    if (name.compare(0, 2, "sg") == 0) {
      directories["/sys/class/scsi_generic/"].push_back(name);
      links["/sys/class/scsi_generic/" + name + "/device"] = link;
    }
  }
  void addAdapter(unsigned host) { existing.insert("/sys/class/scsi_host/host" + std::to_string(host)); }

  int open(const std::string& path, int flags) override {
    opens.push_back({path, flags});
    const auto& errors = (flags & O_ACCMODE) == O_RDWR ? readWriteErrors : readOnlyErrors;
    auto error = errors.find(path);
    if (error != errors.end()) return -error->second;
    if (!nodes.count(path)) return -ENOENT;
    int fd = nextDescriptor++;
    openDescriptors[fd] = path;
    return fd;
  }

  int close(int fd) override {
    closed.push_back(fd);
    return openDescriptors.erase(fd) ? 0 : -EBADF;
  }

  int duplicate(int fd, int lowest) override {
    if (duplicateErrno) return -duplicateErrno;
    auto it = openDescriptors.find(fd);
    if (it == openDescriptors.end()) return -EBADF;
    int copy = lowest > nextDescriptor ? lowest : nextDescriptor;
    nextDescriptor = copy + 1;
    openDescriptors[copy] = it->second;
    return copy;
  }

  int sgIo(int fd, sg_io_hdr_t& header) override {
    ioDescriptors.push_back(fd);
    headers.push_back(header);
    if (!openDescriptors.count(fd)) return -EBADF;
    return onSgIo ? onSgIo(fd, header) : 0;
  }

  int deviceNumber(int fd, NodeNumber& number) override {
    auto it = openDescriptors.find(fd);
    if (it == openDescriptors.end()) return -EBADF;
    auto node = nodes.find(it->second);
    if (node == nodes.end()) return -ENOTTY;
    number = node->second;
    return 0;
  }

  std::string readLink(const std::string& path) override {
    auto it = links.find(path);
    return it == links.end() ? std::string() : it->second;
  }

  std::vector<std::string> listDirectory(const std::string& path) override {
    auto it = directories.find(path);
    return it == directories.end() ? std::vector<std::string>() : it->second;
  }

  bool exists(const std::string& path) override { return existing.count(path) > 0 || nodes.count(path) > 0; }

  // Script.
  std::map<std::string, NodeNumber> nodes;
  std::map<std::string, std::string> links;
  std::map<std::string, std::vector<std::string>> directories;
  std::set<std::string> existing;
  std::map<std::string, int> readWriteErrors;  // errno for an O_RDWR open of a path
  std::map<std::string, int> readOnlyErrors;   // errno for an O_RDONLY open of a path
  int duplicateErrno = 0;
  int nextDescriptor = 3;
  std::function<int(int, sg_io_hdr_t&)> onSgIo;

  // Record.
  std::vector<OpenCall> opens;
  std::map<int, std::string> openDescriptors;
  std::vector<int> closed;
  std::vector<int> ioDescriptors;
  std::vector<sg_io_hdr_t> headers;
};

}  // namespace qxscsi::backends::sg::testing
