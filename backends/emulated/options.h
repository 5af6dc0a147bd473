// Device names of the emulated back-end and the options they carry.
//
//   emulated:<type>[?<key>=<value>[&<key>=<value>]...]
//
// <type> is disk, tape or changer. Keys of every type: luns (logical units, 1..256,
// default 1), lun (the unit a target opens, default 0), adapter (0..65535), bus, target
// (0..255; all default 0), id (any text; tells apart devices of equal shape) and serial
// (1..16 letters, digits, '-' or '_'; default derived from the other options).
// disk: capacity (blocks per unit, default 2048), block (bytes per block, 1..65536,
// default 512), mmap (0: a file's blocks are read with pread rather than from a memory mapping;
// default 1). tape: capacity (bytes per unit, default 1048576). changer: slots
// (storage elements, 1..1024, default 8), drives (data transfer elements, 1..64,
// default 1), ports (import/export elements, 0..64, default 0). Values are decimal; a key
// may appear once. Any type: hostile (a misbehaving device; the modes are listed in hostile.h),
// file (a path: the media live in that file, see medium.h, tape_file.h and changer.h; the
// device then has one logical unit, and a disk takes its capacity from an existing file),
// initiator (the I_T nexus the opening speaks for: 1..223 letters, digits, '.', '-', ':' or '_';
// default the one unnamed initiator; it does not change which device opens) and ua (1: the
// device raises unit attentions; default 0).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace qxscsi::backends::emulated {

// A stable 32-bit hash (FNV-1a) of `text`: serial numbers and designators of devices.
uint32_t stableHash(const std::string& text);

class Options {
 public:
  static constexpr const char* prefix_c = "emulated:";

  // True when `name` starts with "emulated:".
  static bool isEmulatedName(const std::string& name);

  // Parses `name` into `out` with every option present (defaults filled in). False with a
  // readable `error` when the type, a key or a value is not accepted; `out` is then unusable.
  static bool parse(const std::string& name, Options& out, std::string& error);

  const std::string& type() const { return type_; }
  // The value of a numeric option; 0 for a key the type does not have.
  unsigned long number(const std::string& key) const;
  // The value of a text option; empty for a key the type does not have.
  std::string text(const std::string& key) const;
  // Whether the name spelled out `key` (rather than taking its default).
  bool given(const std::string& key) const { return given_.count(key) > 0; }

  // Names the device: the type and every option except lun and initiator, in a fixed order. Two names
  // with the same key open the same device.
  std::string deviceKey() const;

 private:
  std::string type_;
  std::map<std::string, std::string> values_;
  std::set<std::string> given_;
};

}  // namespace qxscsi::backends::emulated
