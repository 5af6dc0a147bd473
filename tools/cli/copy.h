// copy: blocks between a device and a file or between two devices, with READ/WRITE(10) or (16).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/output.h"
#include "qxscsi/parameters.h"

namespace qxscsi::cli {

class DeviceSession;

// What `copy` was asked, as numbers. Counts and addresses are in logical blocks of the device(s).
struct CopyOptions {
  std::string input, output;         // --if and --of: a device name, or a file (see copyEndIsFile)
  uint64_t blocksPerTransfer = 128;  // --bs
  uint64_t count = 0;                // --count, when countGiven; else to the end of the input
  bool countGiven = false;
  uint64_t skip = 0;  // --skip: first block read from the input
  uint64_t seek = 0;  // --seek: first block written to the output
  bool fua = false, verify = false;
  bool progress = false;  // a progress bar on stderr
};

// The options as typed (numbers decimal or 0x hex); empty texts are not given.
struct CopyArguments {
  std::string input, output, blocksPerTransfer, count, skip, seek;
  bool fua = false, verify = false;
};

// Turns `a` into `o` (progress left as it is); false with `error` set for a bad number.
bool parseCopyArguments(const CopyArguments& a, CopyOptions& o, std::string& error);

// True when `name` as --if or --of names a file: "file:PATH", /dev/null, and any name no
// back-end takes (`takenByBackend` false); `path` gets the file's path.
bool copyEndIsFile(const std::string& name, bool takenByBackend, std::string& path);

// READ (write false) or WRITE of `blocks` at `lba` into cdb (16 bytes): the 10-byte form when
// the LBA fits 32 bits and the count 16, else the 16-byte form. Returns the length used.
unsigned char readWriteCdb(bool write, uint64_t lba, uint32_t blocks, bool fua, unsigned char* cdb);

// One end of a copy: blocks read or written at a logical block address. Each returns exitOk, or
// the exit status of a failure it has reported on the Output (naming the LBA).
class CopyEnd {
 public:
  virtual ~CopyEnd() = default;
  // Reads `blocks` blocks at `lba` into the caller's `buffer`.
  virtual int read(uint64_t lba, uint32_t blocks, unsigned char* buffer) = 0;
  // Writes `blocks` blocks at `lba` from the caller's `buffer`.
  virtual int write(uint64_t lba, uint32_t blocks, const unsigned char* buffer) = 0;
};

// What a copy did; firstFailure is the input block where it stopped (valid when failed).
struct CopyTally {
  uint64_t blocks = 0;  // copied (and verified with verify) before the end or a failure
  bool failed = false;
  uint64_t failedBlock = 0;  // blocks from the start of the copy
};

// Moves `blocks` blocks of `blockLength` bytes from `in` at inLba to `out` at outLba,
// `perTransfer` at a time, through `buffer` (the caller's, at least perTransfer blocks: no other
// data buffer is used). With `check` (the caller's, as large) each transfer is read back from
// `out` and compared: a difference reports the first differing block and returns 14.
// `progress` (may be empty) is told the blocks done after each transfer.
int copyBlocks(CopyEnd& in, uint64_t inLba, CopyEnd& out, uint64_t outLba, uint64_t blocks, uint32_t blockLength,
               uint32_t perTransfer, unsigned char* buffer, unsigned char* check, Output& report,
               CopyTally& tally, const std::function<void(uint64_t)>& progress = nullptr);

// The progress line for `done` of `total` bytes after `seconds`: a bar `width` wide, the share,
// the bytes and the rate.
std::string progressLine(uint64_t done, uint64_t total, double seconds, unsigned width);

// The whole subcommand: opens the ends (devices through `session` with `params`, borrowed), reads
// the capacity, copies and reports the summary in text and JSON. Returns the exit status.
int runCopy(DeviceSession& session, std::vector<QXScsi::ParameterData>& params, const CopyOptions& o,
            Output& out);

}  // namespace qxscsi::cli
