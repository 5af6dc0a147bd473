// The system calls behind file-backed emulated media, as an interface tests replace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qxscsi::backends::emulated {

// Every call answers a negative errno value on failure and retries nothing by itself, except
// that EINTR is retried where noted.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opens path (mode applies when O_CREAT creates it); a descriptor the caller owns, or -errno.
  virtual int open(const std::string& path, int flags, unsigned mode) = 0;
  // Closes fd; 0 or -errno.
  virtual int close(int fd) = 0;
  // One pread(2)/pwrite(2) (EINTR retried); bytes moved (0 at end of file) or -errno.
  virtual long pread(int fd, unsigned char* to, size_t n, uint64_t offset) = 0;
  virtual long pwrite(int fd, const unsigned char* from, size_t n, uint64_t offset) = 0;
  // fdatasync(2) and fsync(2); 0 or -errno.
  virtual int fdatasync(int fd) = 0;
  virtual int fsync(int fd) = 0;
  // flock(2) with LOCK_* operation; 0 or -errno (-EWOULDBLOCK when held elsewhere).
  virtual int flock(int fd, int operation) = 0;
  // Size in bytes of the regular file open on fd, from fstat(2); 0 or -errno (-EINVAL when
  // fd is not a regular file).
  virtual int size(int fd, uint64_t& bytes) = 0;
  // ftruncate(2); 0 or -errno.
  virtual int truncate(int fd, uint64_t bytes) = 0;
  // rename(2) and unlink(2); 0 or -errno.
  virtual int rename(const std::string& from, const std::string& to) = 0;
  virtual int unlink(const std::string& path) = 0;
  // Maps the first `bytes` of fd read-only and shared (mmap(2)); null when it cannot be, and the
  // caller then reads with pread. The default maps nothing.
  virtual const unsigned char* map(int, uint64_t) { return nullptr; }
  // munmap(2) of what map gave.
  virtual void unmap(const unsigned char*, uint64_t) {}
};

// Why a device's file could not be opened: a QXScsiPlatform implementation error value and a text.
struct OpenFailure {
  long code = 0;
  std::string text;
};

// The host's system calls. Stateless; lives as long as the process.
FileSystem& hostFileSystem();

// Reads exactly n bytes at offset; 0, -errno, or -EIO for an early end of file.
int readFully(FileSystem& fs, int fd, unsigned char* to, size_t n, uint64_t offset);
// Writes exactly n bytes at offset; 0 or -errno (-EIO when a write moves nothing).
int writeFully(FileSystem& fs, int fd, const unsigned char* from, size_t n, uint64_t offset);
// "strerror(-code)" for a negative errno value.
std::string errnoText(int code);

}  // namespace qxscsi::backends::emulated
