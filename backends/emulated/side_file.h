// A small checksummed file that keeps a device's state beside its medium, replaced atomically.
#pragma once

#include <string>
#include <vector>

#include "file_system.h"

namespace qxscsi::backends::emulated {

// The file, all numbers big-endian:
//   bytes 0-7    magic, "QXSTATE" and a zero byte for a disk's side file (PATH + ".state")
//   bytes 8-11   version, 1
//   bytes 12-19  payload length N
//   bytes 20-23  CRC-32 of the payload
//   bytes 24-    the payload, N bytes, and nothing after it
// The payload is the owner's; this class only keeps it whole.
class SideFile {
 public:
  static constexpr const char* diskMagic_c = "QXSTATE";  // 7 letters and the terminating zero
  static constexpr unsigned headerBytes_c = 24;
  static constexpr unsigned version_c = 1;

  explicit SideFile(std::string path);
  // `magic`: 8 bytes (a text of 7 and its zero) naming what the payload is; `fs` outlives this.
  SideFile(std::string path, FileSystem& fs, const char* magic);

  // Reads the payload into `payload` (caller's; `error` may be null). True with an empty payload when the
  // file does not exist; false with `error` when it cannot be read or is damaged (wrong magic, version,
  // length or checksum).
  bool load(std::vector<unsigned char>* payload, std::string* error) const;
  // Replaces the file with one holding `payload`: written to PATH + ".tmp", synced, renamed
  // over PATH and the directory synced, so the file is either the old or the new one. False
  // with `error` when a step failed: the old file is still in place when it was not the last
  // step (syncing the directory after the rename).
  bool store(const std::vector<unsigned char>& payload, std::string* error) const;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  FileSystem* fs_;
  std::string magic_;  // 8 bytes
};

}  // namespace qxscsi::backends::emulated
