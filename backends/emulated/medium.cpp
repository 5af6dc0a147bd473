// Memory and raw-file media of the emulated disk.
#include "medium.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>

#include <cstring>

#include "mapped_copy.h"
#include "qxscsiplatform/errors.h"

namespace qxscsi::backends::emulated {

using namespace QXScsiPlatform;

bool MemoryMedium::read(uint64_t offset, unsigned char* to, size_t n) {
  if (n) std::memcpy(to, bytes_.data() + offset, n);
  return true;
}

bool MemoryMedium::write(uint64_t offset, const unsigned char* from, size_t n) {
  if (n) std::memmove(bytes_.data() + offset, from, n);
  return true;
}

int openLocked(FileSystem& fs, const std::string& path, OpenFailure& failure) {
  int fd = fs.open(path, O_RDWR | O_CREAT, 0644);
  if (fd < 0) {
    failure.code = fd == -ENOENT || fd == -ENOTDIR                 ? deviceNotFound_c
                   : fd == -EACCES || fd == -EPERM || fd == -EROFS ? accessDenied_c
                                                                   : ioError_c;
    failure.text = "cannot open \"" + path + "\": " + errnoText(fd);
    return -1;
  }
  int r = fs.flock(fd, LOCK_EX | LOCK_NB);
  if (r < 0) {
    fs.close(fd);
    const bool busy = r == -EWOULDBLOCK || r == -EAGAIN;
    failure.code = busy ? deviceBusy_c : ioError_c;
    failure.text = busy ? "\"" + path + "\" is in use by another process or device (its lock is held)"
                        : "cannot lock \"" + path + "\": " + errnoText(r);
    return -1;
  }
  return fd;
}

std::unique_ptr<FileMedium> FileMedium::open(FileSystem& fs, const std::string& path, uint64_t block,
                                             uint64_t capacity, bool capacityGiven, OpenFailure& failure,
                                             bool mapped) {
  int fd = openLocked(fs, path, failure);
  if (fd < 0) return nullptr;
  auto give = [&](long code, std::string text) {
    fs.close(fd);
    failure.code = code;
    failure.text = "\"" + path + "\": " + text;
    return nullptr;
  };
  uint64_t size = 0;
  int r = fs.size(fd, size);
  if (r < 0) return give(ioError_c, r == -EINVAL ? "not a regular file" : errnoText(r));
  if (size == 0) {
    size = capacity * block;
    r = fs.truncate(fd, size);
    if (r < 0) return give(ioError_c, "cannot size to " + std::to_string(size) + " bytes: " + errnoText(r));
    r = fs.fsync(fd);
    if (r < 0) return give(ioError_c, "cannot sync: " + errnoText(r));
  }
  if (size % block != 0)
    return give(invalidRequest_c, std::to_string(size) + " bytes is not a whole number of " +
                                      std::to_string(block) +
                                      "-byte blocks (truncated or the wrong block=?)");
  if (capacityGiven && size / block != capacity)
    return give(invalidRequest_c, "holds " + std::to_string(size / block) + " blocks of " +
                                      std::to_string(block) +
                                      " bytes, but capacity=" + std::to_string(capacity) + " was asked");
  std::unique_ptr<FileMedium> medium(new FileMedium(fs, fd, size));
  if (mapped && (medium->map_ = fs.map(fd, size)) != nullptr) guardMappedCopies();
  return medium;
}

FileMedium::~FileMedium() {
  if (map_) fs_.unmap(map_, bytes_);
  fs_.close(fd_);
}

bool FileMedium::read(uint64_t offset, unsigned char* to, size_t n) {
  if (map_) {
    if (copyFromMapping(to, map_ + offset, n)) return true;
    // The mapping now holds zero pages where the file could not be read: never again.
    fs_.unmap(map_, bytes_);
    map_ = nullptr;
  }
  return readFully(fs_, fd_, to, n, offset) == 0;
}

bool FileMedium::write(uint64_t offset, const unsigned char* from, size_t n) {
  return writeFully(fs_, fd_, from, n, offset) == 0;
}

bool FileMedium::sync() { return fs_.fdatasync(fd_) == 0; }

}  // namespace qxscsi::backends::emulated
