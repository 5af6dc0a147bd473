// A file system for tests: the host's calls, with chosen calls made to fail and a log of calls.
#pragma once

#include <errno.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "file_system.h"

namespace qxscsi::backends::emulated::testing {

class FaultyFileSystem : public FileSystem {
 public:
  // Calls by name ("pwrite", "fdatasync", ...) that answer -errno instead of running.
  std::map<std::string, int> failing;
  // Names of the calls made, in order.
  std::vector<std::string> calls;

  int open(const std::string& path, int flags, unsigned mode) override {
    int r;
    return fake("open", r) ? r : host().open(path, flags, mode);
  }
  int close(int fd) override { return log("close"), host().close(fd); }
  long pread(int fd, unsigned char* to, size_t n, uint64_t offset) override {
    int r;
    return fake("pread", r) ? r : host().pread(fd, to, n, offset);
  }
  long pwrite(int fd, const unsigned char* from, size_t n, uint64_t offset) override {
    int r;
    return fake("pwrite", r) ? r : host().pwrite(fd, from, n, offset);
  }
  int fdatasync(int fd) override {
    int r;
    return fake("fdatasync", r) ? r : host().fdatasync(fd);
  }
  int fsync(int fd) override {
    int r;
    return fake("fsync", r) ? r : host().fsync(fd);
  }
  int flock(int fd, int operation) override {
    int r;
    return fake("flock", r) ? r : host().flock(fd, operation);
  }
  int size(int fd, uint64_t& bytes) override {
    int r;
    return fake("size", r) ? r : host().size(fd, bytes);
  }
  int truncate(int fd, uint64_t bytes) override {
    int r;
    return fake("truncate", r) ? r : host().truncate(fd, bytes);
  }
  int rename(const std::string& from, const std::string& to) override {
    int r;
    return fake("rename", r) ? r : host().rename(from, to);
  }
  int unlink(const std::string& path) override {
    int r;
    return fake("unlink", r) ? r : host().unlink(path);
  }
  size_t count(const std::string& name) const {
    size_t n = 0;
    for (const std::string& c : calls) n += c == name;
    return n;
  }

 private:
  static FileSystem& host() { return hostFileSystem(); }
  void log(const char* name) { calls.push_back(name); }
  bool fake(const char* name, int& r) {
    log(name);
    auto it = failing.find(name);
    if (it == failing.end()) return false;
    r = -it->second;
    return true;
  }
};

// A fresh directory under /tmp, removed with what is in it when the object goes.
class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/qxscsi-emudisk-XXXXXX";
    path_ = mkdtemp(name) ? name : "";
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace qxscsi::backends::emulated::testing
