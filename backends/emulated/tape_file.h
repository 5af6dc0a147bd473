// The file that keeps an emulated tape's records and filemarks.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "file_system.h"

namespace qxscsi::backends::emulated {

// One logical object of a tape: a record of bytes, or a filemark.
struct TapeObject {
  bool fileMark = false;
  std::vector<unsigned char> bytes;
};

// The file, all numbers big-endian: a header of 12 bytes (magic "QXTAPE" and two zero bytes,
// version 1 in 4 bytes), then one entry per object up to end of data and an end entry. An
// entry is a 4-byte length, a kind (0 data record, 1 filemark, 2 end of data), the CRC-32 of
// those 5 bytes and the record bytes, in 4 bytes, and then the length's record bytes (none for
// a filemark or the end). Bytes after the end entry are left over from a longer tape and
// ignored. The file is locked (flock) while open.
class TapeFile {
 public:
  static constexpr unsigned headerBytes_c = 12;
  static constexpr unsigned entryBytes_c = 9;

  // Opens (creating an empty tape when missing or empty) the file at `path` and reads its
  // objects into `objects` (caller's). Null with `failure` filled when it cannot be used or is
  // damaged. `fs` outlives the file.
  static std::unique_ptr<TapeFile> open(FileSystem& fs, const std::string& path,
                                        std::vector<TapeObject>& objects, OpenFailure& failure);
  ~TapeFile();

  // Writes `objects` from index `from` on (the ones before are in the file already) and the end
  // entry after them. False when a system call failed.
  bool store(const std::vector<TapeObject>& objects, size_t from);
  // fdatasync: what store wrote is durable.
  bool sync();

 private:
  TapeFile(FileSystem& fs, int fd) : fs_(fs), fd_(fd) {}

  FileSystem& fs_;
  int fd_;
  std::vector<uint64_t> offsets_;  // where each object's entry starts, and the end entry last
};

}  // namespace qxscsi::backends::emulated
