// The host's system calls for file-backed emulated media.
#include "file_system.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace qxscsi::backends::emulated {

namespace {

int result(int r) { return r < 0 ? -errno : r; }

class HostFileSystem : public FileSystem {
 public:
  int open(const std::string& path, int flags, unsigned mode) override {
    return result(::open(path.c_str(), flags | O_CLOEXEC, static_cast<mode_t>(mode)));
  }
  int close(int fd) override { return result(::close(fd)); }
  long pread(int fd, unsigned char* to, size_t n, uint64_t offset) override {
    ssize_t r;
    do r = ::pread(fd, to, n, static_cast<off_t>(offset));
    while (r < 0 && errno == EINTR);
    return r < 0 ? -errno : static_cast<long>(r);
  }
  long pwrite(int fd, const unsigned char* from, size_t n, uint64_t offset) override {
    ssize_t r;
    do r = ::pwrite(fd, from, n, static_cast<off_t>(offset));
    while (r < 0 && errno == EINTR);
    return r < 0 ? -errno : static_cast<long>(r);
  }
  int fdatasync(int fd) override { return result(::fdatasync(fd)); }
  int fsync(int fd) override { return result(::fsync(fd)); }
  int flock(int fd, int operation) override {
    int r;
    do r = ::flock(fd, operation);
    while (r < 0 && errno == EINTR);
    return result(r);
  }
  int size(int fd, uint64_t& bytes) override {
    struct stat st;
    if (::fstat(fd, &st) < 0) return -errno;
    if (!S_ISREG(st.st_mode)) return -EINVAL;
    bytes = static_cast<uint64_t>(st.st_size);
    return 0;
  }
  int truncate(int fd, uint64_t bytes) override { return result(::ftruncate(fd, static_cast<off_t>(bytes))); }
  int rename(const std::string& from, const std::string& to) override {
    return result(::rename(from.c_str(), to.c_str()));
  }
  int unlink(const std::string& path) override { return result(::unlink(path.c_str())); }
  const unsigned char* map(int fd, uint64_t bytes) override {
    if (bytes == 0 || bytes > SIZE_MAX) return nullptr;
    void* at = ::mmap(nullptr, static_cast<size_t>(bytes), PROT_READ, MAP_SHARED, fd, 0);
    return at == MAP_FAILED ? nullptr : static_cast<const unsigned char*>(at);
  }
  void unmap(const unsigned char* at, uint64_t bytes) override {
    ::munmap(const_cast<unsigned char*>(at), static_cast<size_t>(bytes));
  }
};

}  // namespace

FileSystem& hostFileSystem() {
  static HostFileSystem host;
  return host;
}

int readFully(FileSystem& fs, int fd, unsigned char* to, size_t n, uint64_t offset) {
  while (n > 0) {
    long r = fs.pread(fd, to, n, offset);
    if (r < 0) return static_cast<int>(r);
    if (r == 0) return -EIO;
    to += r;
    n -= static_cast<size_t>(r);
    offset += static_cast<uint64_t>(r);
  }
  return 0;
}

int writeFully(FileSystem& fs, int fd, const unsigned char* from, size_t n, uint64_t offset) {
  while (n > 0) {
    long r = fs.pwrite(fd, from, n, offset);
    if (r < 0) return static_cast<int>(r);
    if (r == 0) return -EIO;
    from += r;
    n -= static_cast<size_t>(r);
    offset += static_cast<uint64_t>(r);
  }
  return 0;
}

std::string errnoText(int code) { return std::strerror(-code); }

}  // namespace qxscsi::backends::emulated
