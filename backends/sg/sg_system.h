// The system calls of the SG back-end, behind an interface that tests replace with a fake.
#pragma once

#include <scsi/sg.h>

#include <string>
#include <vector>

namespace qxscsi::backends::sg {

// Device number of a character or block special file.
struct NodeNumber {
  bool block = false;
  unsigned major = 0;
  unsigned minor = 0;
};

// Every call answers a negative errno value on failure; none retries by itself.
class System {
 public:
  virtual ~System() = default;
  // Opens path with flags; answers a descriptor the caller owns, or -errno.
  virtual int open(const std::string& path, int flags) = 0;
  // Closes fd; answers 0 or -errno.
  virtual int close(int fd) = 0;
  // Duplicates fd onto the lowest free descriptor >= lowest (close-on-exec); answers the new
  // descriptor, which the caller owns, or -errno. fd stays open.
  virtual int duplicate(int fd, int lowest) = 0;
  // One SG_IO ioctl on fd with the caller's header; answers 0 or -errno.
  virtual int sgIo(int fd, sg_io_hdr_t& header) = 0;
  // Device number of the special file open on fd; answers 0 or -errno (-ENOTTY for others).
  virtual int deviceNumber(int fd, NodeNumber& number) = 0;
  // Target of the symbolic link at path; "" when there is none.
  virtual std::string readLink(const std::string& path) = 0;
  // Entry names of a directory without "." and ".."; empty when it cannot be read.
  virtual std::vector<std::string> listDirectory(const std::string& path) = 0;
  // Whether anything exists at path.
  virtual bool exists(const std::string& path) = 0;
};

// The host's system calls. The object is stateless and lives as long as the process.
System& hostSystem();

}  // namespace qxscsi::backends::sg
