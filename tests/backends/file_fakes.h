// Helpers for tests of file-backed devices: a file system whose chosen calls fail, a temporary
// directory, whole-file reads and writes, and the tape CDBs.
#pragma once

#include <errno.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "file_system.h"
#include "options.h"

namespace qxscsi::backends::emulated::testing {

// The host's calls, logged by name; those named in `failing` answer -errno instead of running.
class FaultyFileSystem : public FileSystem {
 public:
  std::map<std::string, int> failing;
  std::vector<std::string> calls;

  int open(const std::string& p, int flags, unsigned mode) override {
    return call("open", [&] { return host().open(p, flags, mode); });
  }
  int close(int fd) override { return calls.push_back("close"), host().close(fd); }
  long pread(int fd, unsigned char* to, size_t n, uint64_t at) override {
    return call("pread", [&] { return host().pread(fd, to, n, at); });
  }
  long pwrite(int fd, const unsigned char* from, size_t n, uint64_t at) override {
    return call("pwrite", [&] { return host().pwrite(fd, from, n, at); });
  }
  int fdatasync(int fd) override {
    return call("fdatasync", [&] { return host().fdatasync(fd); });
  }
  int fsync(int fd) override {
    return call("fsync", [&] { return host().fsync(fd); });
  }
  int flock(int fd, int op) override {
    return call("flock", [&] { return host().flock(fd, op); });
  }
  int size(int fd, uint64_t& n) override {
    return call("size", [&] { return host().size(fd, n); });
  }
  int truncate(int fd, uint64_t n) override {
    return call("truncate", [&] { return host().truncate(fd, n); });
  }
  int rename(const std::string& a, const std::string& b) override {
    return call("rename", [&] { return host().rename(a, b); });
  }
  int unlink(const std::string& p) override {
    return call("unlink", [&] { return host().unlink(p); });
  }
  size_t count(const std::string& name) const { return std::count(calls.begin(), calls.end(), name); }

 private:
  static FileSystem& host() { return hostFileSystem(); }
  template <typename F>
  auto call(const char* name, F run) -> decltype(run()) {
    calls.push_back(name);
    auto it = failing.find(name);
    return it == failing.end() ? run() : -it->second;
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

inline void writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

inline std::vector<unsigned char> readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The options of a name that parses (an empty set otherwise).
inline Options parsedOptions(const std::string& name) {
  Options o;
  std::string error;
  Options::parse(name, o, error);
  return o;
}

// A 6-byte tape CDB with a 24-bit count in bytes 2 to 4.
inline std::vector<unsigned char> cdb6(unsigned char op, unsigned char byte1, uint32_t count) {
  return {op,
          byte1,
          static_cast<unsigned char>(count >> 16),
          static_cast<unsigned char>(count >> 8),
          static_cast<unsigned char>(count),
          0};
}

// Sense `s` with VALID set and `info` in the information field.
inline std::vector<unsigned char> withInfo(std::vector<unsigned char> s, uint32_t info) {
  s[0] |= 0x80;
  for (int i = 0; i < 4; ++i) s[3 + i] = static_cast<unsigned char>(info >> (24 - 8 * i));
  return s;
}

}  // namespace qxscsi::backends::emulated::testing
