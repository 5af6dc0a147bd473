// The blocks of an emulated disk's logical unit: in memory, or in a raw image file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "file_system.h"

namespace qxscsi::backends::emulated {

// Bytes a logical unit stores. Offsets and lengths handed in are inside bytes(); a false answer
// is a failure of the medium (the file's system call failed), with nothing promised about what
// a failed write left behind.
class Medium {
 public:
  virtual ~Medium() = default;
  virtual uint64_t bytes() const = 0;
  virtual bool read(uint64_t offset, unsigned char* to, size_t n) = 0;
  virtual bool write(uint64_t offset, const unsigned char* from, size_t n) = 0;
  // Makes every write answered so far durable (fdatasync for a file).
  virtual bool sync() = 0;
  // The bytes from `offset` on where they can be read in place (memory), else null.
  virtual const unsigned char* view(uint64_t) const { return nullptr; }
};

// Zero-filled bytes in memory; sync has nothing to do.
class MemoryMedium : public Medium {
 public:
  explicit MemoryMedium(uint64_t bytes) : bytes_(bytes, 0) {}
  uint64_t bytes() const override { return bytes_.size(); }
  bool read(uint64_t offset, unsigned char* to, size_t n) override;
  bool write(uint64_t offset, const unsigned char* from, size_t n) override;
  bool sync() override { return true; }
  const unsigned char* view(uint64_t offset) const override { return bytes_.data() + offset; }
  // The stored bytes, for inspection.
  std::vector<unsigned char>& data() { return bytes_; }

 private:
  std::vector<unsigned char> bytes_;
};

// A raw image file, every byte a byte of the unit, locked (flock LOCK_EX) while open. Writes
// go through pwrite; reads come from a shared read-only mapping of the file when `mapped` and the
// file system gives one (a copy out of the page cache instead of a system call), else pread. A
// page of the mapping that cannot be read (the file was cut short behind the lock's back, or the
// storage failed) makes that read and every later one use pread, which reports the failure.
class FileMedium : public Medium {
 public:
  // Opens (or creates) the image at `path` for blocks of `block` bytes. A missing or empty file
  // is sized to `capacity` blocks (sparse); an existing one gives the capacity, which must then
  // be a whole number of blocks and, when `capacityGiven`, equal `capacity`. Null with
  // `failure` filled when the file cannot be used. `fs` must outlive the medium.
  static std::unique_ptr<FileMedium> open(FileSystem& fs, const std::string& path, uint64_t block,
                                          uint64_t capacity, bool capacityGiven, OpenFailure& failure,
                                          bool mapped = true);
  // Whether reads still come from the mapping.
  bool mapped() const { return map_ != nullptr; }
  ~FileMedium() override;

  uint64_t bytes() const override { return bytes_; }
  bool read(uint64_t offset, unsigned char* to, size_t n) override;
  bool write(uint64_t offset, const unsigned char* from, size_t n) override;
  bool sync() override;

 private:
  FileMedium(FileSystem& fs, int fd, uint64_t bytes) : fs_(fs), fd_(fd), bytes_(bytes) {}

  FileSystem& fs_;
  int fd_;
  uint64_t bytes_;
  const unsigned char* map_ = nullptr;
};

// Opens `path` read-write (created when missing) and takes its advisory lock without waiting.
// A descriptor the caller owns, or -1 with `failure` filled (deviceBusy_c when another open
// file holds the lock).
int openLocked(FileSystem& fs, const std::string& path, OpenFailure& failure);

}  // namespace qxscsi::backends::emulated
