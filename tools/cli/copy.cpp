// copy: blocks between a device and a file or two devices; the capacity read first, one buffer reused.
#include "cli/copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/daily.h"
#include "cli/device.h"
#include "cli/hex.h"
#include "cli/send.h"
#include "cli/sense_report.h"
#include "qxscsi/backends/install.h"
#include "qxscsi/target.h"
#include "wire/bytes.h"

namespace qxscsi::cli {
namespace {

constexpr unsigned char read10Code = 0x28, write10Code = 0x2a, read16Code = 0x88, write16Code = 0x8a;
constexpr unsigned char fuaBit = 0x08;  // byte 1 of READ/WRITE(10) and (16)
constexpr uint64_t maxTransferBytes = 64ull << 20;
constexpr uint64_t maxBlocksPerTransfer = 1u << 20;

using Clock = std::chrono::steady_clock;

}  // namespace

bool parseCopyArguments(const CopyArguments& a, CopyOptions& o, std::string& error) {
  struct Number {
    const char* option;
    const std::string& text;
    uint64_t min, max;
    uint64_t& value;
  };
  o.input = a.input;
  o.output = a.output;
  o.fua = a.fua;
  o.verify = a.verify;
  o.countGiven = !a.count.empty();
  const Number numbers[] = {{"--bs", a.blocksPerTransfer, 1, maxBlocksPerTransfer, o.blocksPerTransfer},
                            {"--count", a.count, 0, UINT64_MAX, o.count},
                            {"--skip", a.skip, 0, UINT64_MAX, o.skip},
                            {"--seek", a.seek, 0, UINT64_MAX, o.seek}};
  for (const Number& n : numbers) {
    if (n.text.empty()) continue;
    uint64_t v = 0;
    if (!parseWholeNumber(n.text, n.max, v) || v < n.min) {
      error = std::string("copy: ") + n.option + " '" + n.text + "': expected a whole number from " +
              std::to_string(n.min) + " to " + std::to_string(n.max) + " (decimal or 0x hex)";
      return false;
    }
    n.value = v;
  }
  if (o.input.empty() || o.output.empty()) {
    error = "copy: both --if and --of are needed (a device name, or a file path)";
    return false;
  }
  return true;
}

bool copyEndIsFile(const std::string& name, bool takenByBackend, std::string& path) {
  if (name.compare(0, 5, "file:") == 0) {
    path = name.substr(5);
    return true;
  }
  if (name == "/dev/null" || !takenByBackend) {
    path = name;
    return true;
  }
  return false;
}

unsigned char readWriteCdb(bool write, uint64_t lba, uint32_t blocks, bool fua, unsigned char* cdb) {
  std::memset(cdb, 0, 16);
  cdb[1] = fua ? fuaBit : 0;
  if (lba <= 0xffffffffu && blocks <= 0xffffu) {
    cdb[0] = write ? write10Code : read10Code;
    wire::putBe32(cdb + 2, static_cast<uint32_t>(lba));
    wire::putBe16(cdb + 7, blocks);
    return 10;
  }
  cdb[0] = write ? write16Code : read16Code;
  wire::putBe64(cdb + 2, lba);
  wire::putBe32(cdb + 10, blocks);
  return 16;
}

int copyBlocks(CopyEnd& in, uint64_t inLba, CopyEnd& out, uint64_t outLba, uint64_t blocks, uint32_t blockLength,
               uint32_t perTransfer, unsigned char* buffer, unsigned char* check, Output& report,
               CopyTally& tally, const std::function<void(uint64_t)>& progress) {
  tally = CopyTally();
  while (tally.blocks < blocks) {
    const uint64_t left = blocks - tally.blocks;
    const uint32_t n = left < perTransfer ? static_cast<uint32_t>(left) : perTransfer;
    int status = in.read(inLba + tally.blocks, n, buffer);
    if (status == exitOk) status = out.write(outLba + tally.blocks, n, buffer);
    if (status == exitOk && check != nullptr) {
      status = out.read(outLba + tally.blocks, n, check);
      const size_t bytes = size_t(n) * blockLength;
      if (status == exitOk && std::memcmp(buffer, check, bytes) != 0) {
        size_t at = 0;
        while (buffer[at] == check[at]) ++at;
        const uint64_t block = tally.blocks + at / blockLength;
        tally.failed = true;
        tally.failedBlock = block;
        return report.fail("copy: verify: block " + std::to_string(block) + " of the copy (output LBA " +
                               std::to_string(outLba + block) + ", input LBA " + std::to_string(inLba + block) +
                               ") reads back different, first at byte " + std::to_string(at % blockLength),
                           exitMiscompare);
      }
    }
    if (status != exitOk) {
      tally.failed = true;
      tally.failedBlock = tally.blocks;
      return status;
    }
    tally.blocks += n;
    if (progress) progress(tally.blocks);
  }
  return exitOk;
}

std::string progressLine(uint64_t done, uint64_t total, double seconds, unsigned width) {
  const double share = total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
  const unsigned filled = static_cast<unsigned>(share * width);
  std::string line = "[" + std::string(filled, '#') + std::string(width - filled, '.') + "]";
  char tail[96];
  const double mib = 1024.0 * 1024.0;
  std::snprintf(tail, sizeof tail, " %3u%% %.1f of %.1f MiB, %.1f MiB/s", static_cast<unsigned>(share * 100),
                static_cast<double>(done) / mib, static_cast<double>(total) / mib,
                seconds > 0 ? static_cast<double>(done) / mib / seconds : 0.0);
  return line + tail;
}

namespace {

// Points the facts that -v and the JSON show at `target` (which outlives the run).
void watchFactsOf(QXScsiTarget& target, Output& out) {
  QXScsiTarget* t = &target;
  out.setFactsSource([t](Output::Facts& facts) {
    backends::CommandFacts seen;
    if (!backends::lastCommand(*t, seen)) return false;
    facts.transferred = seen.transferred;
    facts.residual = seen.residual;
    facts.overflow = seen.overflow;
    facts.milliseconds = static_cast<double>(seen.duration.count()) / 1e6;
    return true;
  });
}

// A device end: READ/WRITE(10) or (16) through cmdCall, each command bounded by -t.
class DeviceEnd : public CopyEnd {
 public:
  DeviceEnd(QXScsiTarget& target, std::string shown, uint32_t blockLength, bool fua, Output& out)
      : target_(target), shown_(std::move(shown)), blockLength_(blockLength), fua_(fua), out_(out) {}

  int read(uint64_t lba, uint32_t blocks, unsigned char* buffer) override {
    return transfer(false, lba, blocks, buffer);
  }
  int write(uint64_t lba, uint32_t blocks, const unsigned char* buffer) override {
    return transfer(true, lba, blocks, const_cast<unsigned char*>(buffer));
  }

 private:
  int transfer(bool write, uint64_t lba, uint32_t blocks, unsigned char* buffer) {
    unsigned char cdb[16];
    Request request;
    request.cdbLength = readWriteCdb(write, lba, blocks, write && fua_, cdb);
    const bool sixteen = request.cdbLength == 16;
    request.title = write ? (sixteen ? "WRITE(16):" : "WRITE(10):") : (sixteen ? "READ(16):" : "READ(10):");
    request.cdb = cdb;
    request.data = buffer;
    request.dataLength = static_cast<unsigned long>(blocks) * blockLength_;
    request.direction = write ? QXScsi::dataOut_c : QXScsi::dataIn_c;
    // Only a failure names the command: nothing is formatted for one that succeeds.
    auto what = [&] {
      return std::string(write ? "WRITE(" : "READ(") + (sixteen ? "16)" : "10)") + " of " + std::to_string(blocks) +
             " blocks at LBA " + std::to_string(lba) + " of '" + shown_ + "'";
    };
    Record rec = send(target_, out_.options(), request);
    if (!rec) return out_.commandFailure(("copy: " + what()).c_str(), target_);
    if (rec->scsiStatus() != 0 || rec->implementationError() != 0 || out_.options().verbose > 0) {
      watchFacts();
      const int status = out_.commandOutcome(*rec);
      if (status != exitOk || rec->implementationError() != 0)
        return out_.fail("copy: " + what() + " failed (status " + hexNumber(rec->scsiStatus(), 2) + ")",
                         status != exitOk ? status : exitStatusForFailure(rec->implementationError()),
                         rec->implementationError());
    }
    backends::CommandFacts facts;
    if (!write && backends::lastCommand(target_, facts) && facts.transferred < request.dataLength) {
      watchFacts();
      out_.commandOutcome(*rec);
      return out_.fail("copy: " + what() + ": " + std::to_string(facts.transferred) + " of " +
                           std::to_string(request.dataLength) + " bytes arrived (response failed sanity checks)",
                       exitMalformed);
    }
    return exitOk;
  }

  void watchFacts() { watchFactsOf(target_, out_); }

  QXScsiTarget& target_;
  std::string shown_;
  uint32_t blockLength_;
  bool fua_;
  Output& out_;
};

// A file end: pread/pwrite at block offsets. A regular file read past its end gives zeros (the
// tail of a last partial block); other short transfers are failures.
class FileEnd : public CopyEnd {
 public:
  FileEnd(int fd, std::string path, uint32_t blockLength, uint64_t size, bool regular, Output& out)
      : fd_(fd), path_(std::move(path)), blockLength_(blockLength), size_(size), regular_(regular), out_(out) {}
  ~FileEnd() override { ::close(fd_); }

  int read(uint64_t lba, uint32_t blocks, unsigned char* buffer) override {
    const uint64_t offset = lba * blockLength_, n = uint64_t(blocks) * blockLength_;
    uint64_t wanted = n;
    if (regular_) wanted = offset >= size_ ? 0 : std::min<uint64_t>(n, size_ - offset);
    uint64_t got = 0;
    while (got < wanted) {
      const ssize_t r = ::pread(fd_, buffer + got, wanted - got, static_cast<off_t>(offset + got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return failure("read", lba, r < 0 ? errno : 0, got, wanted);
      got += static_cast<uint64_t>(r);
    }
    std::memset(buffer + got, 0, n - got);
    return exitOk;
  }

  int write(uint64_t lba, uint32_t blocks, const unsigned char* buffer) override {
    const uint64_t offset = lba * blockLength_, n = uint64_t(blocks) * blockLength_;
    uint64_t done = 0;
    while (done < n) {
      const ssize_t r = ::pwrite(fd_, buffer + done, n - done, static_cast<off_t>(offset + done));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return failure("write", lba, r < 0 ? errno : 0, done, n);
      done += static_cast<uint64_t>(r);
    }
    if (regular_ && offset + n > size_) size_ = offset + n;
    return exitOk;
  }

 private:
  int failure(const char* what, uint64_t lba, int error, uint64_t done, uint64_t n) {
    std::string line = std::string("copy: cannot ") + what + " block " + std::to_string(lba) + " of '" + path_ + "': ";
    line += error ? std::strerror(error) : std::to_string(done) + " of " + std::to_string(n) + " bytes moved";
    return out_.fail(line, error ? exitStatusForErrno(error) : exitFile);
  }

  int fd_;
  std::string path_;
  uint32_t blockLength_;
  uint64_t size_;
  bool regular_;
  Output& out_;
};

// One opened end: a device with its capacity, or a file.
struct OpenedEnd {
  bool file = false;
  std::string shown;
  std::string path;
  QXScsiTarget* target = nullptr;
  uint64_t blocks = 0;  // capacity of a device
  uint32_t blockLength = 0;
};

// READ CAPACITY(10), then (16) when (10) cannot tell; false when it failed (reported).
bool readCapacity(QXScsiTarget& target, const std::string& shown, Output& out, uint64_t& blocks,
                  uint32_t& blockLength, int& status) {
  for (bool sixteen : {false, true}) {
    unsigned char cdb[16] = {}, data[32] = {};
    Request request;
    request.cdb = cdb;
    request.direction = QXScsi::dataIn_c;
    request.data = data;
    if (sixteen) {
      cdb[0] = 0x9e;
      cdb[1] = 0x10;
      wire::putBe32(cdb + 10, 32);
      request.cdbLength = 16;
      request.dataLength = 32;
      request.title = "READ CAPACITY(16):";
    } else {
      cdb[0] = 0x25;
      request.cdbLength = 10;
      request.dataLength = 8;
      request.title = "READ CAPACITY(10):";
    }
    Record rec = send(target, out.options(), request);
    const std::string what = std::string("copy: READ CAPACITY(") + (sixteen ? "16" : "10") + ") of '" + shown + "'";
    if (!rec) {
      status = out.commandFailure(what.c_str(), target);
      return false;
    }
    if (rec->scsiStatus() != 0 || out.options().verbose > 0) {
      watchFactsOf(target, out);
      status = out.commandOutcome(*rec);
      if (rec->scsiStatus() != 0) {
        out.fail(what + " failed: the block length and the end of the medium are unknown", status);
        return false;
      }
    }
    backends::CommandFacts facts;
    size_t got = request.dataLength;
    if (backends::lastCommand(target, facts) && facts.transferred < got) got = facts.transferred;
    Capacity c = decodeCapacity(data, got, sixteen);
    if (c.problem.empty() && c.blockLength == 0) c.problem = "a block length of 0";
    if (!c.problem.empty()) {
      status = out.fail(what + ": response failed sanity checks: " + c.problem, exitMalformed);
      return false;
    }
    if (!sixteen && needsLongCapacity(c)) continue;
    if (c.lastLba == UINT64_MAX) {
      status = out.fail(what + ": response failed sanity checks: last LBA FFFFFFFFFFFFFFFFh", exitMalformed);
      return false;
    }
    blocks = c.lastLba + 1;
    blockLength = c.blockLength;
    return true;
  }
  return false;
}

bool openEnd(DeviceSession& session, std::vector<QXScsi::ParameterData>& params, const std::string& name,
             OpenedEnd& end, Output& out, int& status) {
  backends::Installation* installation = session.installation();
  const bool taken = installation != nullptr && installation->backendFor(name) != nullptr;
  if (copyEndIsFile(name, taken, end.path)) {
    end.file = true;
    end.shown = untrustedText(end.path);
    if (end.path.empty()) {
      status = out.fail("copy: '" + name + "': the file path is empty", exitSyntax);
      return false;
    }
    return true;
  }
  end.shown = untrustedText(shownDeviceName(name));
  end.target = session.open(name, params, out, status);
  if (end.target == nullptr) return false;
  return readCapacity(*end.target, end.shown, out, end.blocks, end.blockLength, status);
}

// Opens the file of `end` for reading (input) or writing, sized and truncated as dd does: the
// output is cut at the first block written to. Null on failure (reported).
std::unique_ptr<FileEnd> openFile(const OpenedEnd& end, bool input, uint64_t seekBlocks, uint32_t blockLength,
                                  bool verify, Output& out, int& status) {
  const int flags = input ? O_RDONLY : (verify ? O_RDWR : O_WRONLY) | O_CREAT;
  const int fd = ::open(end.path.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) {
    const int error = errno;
    status = out.fail("copy: cannot open '" + end.path + "' for " + (input ? "reading" : "writing") + ": " +
                          std::strerror(error),
                      exitStatusForErrno(error));
    return nullptr;
  }
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  uint64_t size = regular ? static_cast<uint64_t>(st.st_size) : 0;
  if (!input && regular) {
    const uint64_t cut = seekBlocks * blockLength;
    if (cut / blockLength != seekBlocks || ::ftruncate(fd, static_cast<off_t>(cut)) != 0) {
      const int error = errno;
      ::close(fd);
      status = out.fail("copy: cannot cut '" + end.path + "' at block " + std::to_string(seekBlocks) + ": " +
                            std::strerror(error),
                        exitStatusForErrno(error));
      return nullptr;
    }
    size = cut;
  }
  return std::make_unique<FileEnd>(fd, end.path, blockLength, size, regular, out);
}

// Draws the progress bar on stderr at most ten times a second, and once at the end.
class ProgressBar {
 public:
  ProgressBar(bool on, uint64_t totalBytes, uint32_t blockLength, Clock::time_point start)
      : on_(on), total_(totalBytes), blockLength_(blockLength), start_(start), last_(start) {}
  void operator()(uint64_t blocks) {
    const Clock::time_point now = Clock::now();
    const uint64_t bytes = blocks * blockLength_;
    if (now - last_ < std::chrono::milliseconds(100) && bytes < total_) return;
    last_ = now;
    drawn_ = true;
    std::fprintf(stderr, "\r%s", progressLine(bytes, total_, std::chrono::duration<double>(now - start_).count(), 30).c_str());
  }
  ~ProgressBar() {
    if (drawn_) std::fputc('\n', stderr);
  }
  bool on() const { return on_; }

 private:
  bool on_;
  uint64_t total_;
  uint32_t blockLength_;
  Clock::time_point start_, last_;
  bool drawn_ = false;
};

void endJson(nlohmann::json& j, const OpenedEnd& end, uint64_t lba) {
  j = {{"name", end.shown}, {"file", end.file}, {"logical_block_address", lba},
       {"logical_block_address_hex", hexNumber(lba, 1)}};
  if (!end.file) {
    j["logical_block_count"] = end.blocks;
    j["logical_block_count_hex"] = hexNumber(end.blocks, 1);
  }
}

// The summary of what was copied, in text and JSON, after success or failure alike.
void summary(const CopyOptions& o, const OpenedEnd& in, const OpenedEnd& outEnd, uint32_t blockLength,
             const CopyTally& tally, double seconds, Output& out) {
  const uint64_t bytes = tally.blocks * blockLength;
  const double rate = seconds > 0 ? static_cast<double>(bytes) / seconds : 0;
  nlohmann::json& d = out.doc();
  endJson(d["input"], in, o.skip);
  endJson(d["output"], outEnd, o.seek);
  d["logical_block_length"] = blockLength;
  d["blocks_per_transfer"] = o.blocksPerTransfer;
  d["blocks_copied"] = tally.blocks;
  d["blocks_copied_hex"] = hexNumber(tally.blocks, 1);
  d["bytes_copied"] = bytes;
  d["bytes_copied_hex"] = hexNumber(bytes, 1);
  d["seconds"] = seconds;
  d["bytes_per_second"] = rate;
  d["force_unit_access"] = o.fua;
  d["verify"] = o.verify;
  if (tally.failed) {
    d["failed_logical_block_address"] = o.skip + tally.failedBlock;
    d["failed_logical_block_address_hex"] = hexNumber(o.skip + tally.failedBlock, 1);
  }
  char line[160];
  std::snprintf(line, sizeof line, "%llu blocks of %u bytes (%llu bytes) in %.3f s, %.1f MiB/s",
                static_cast<unsigned long long>(tally.blocks), blockLength, static_cast<unsigned long long>(bytes),
                seconds, rate / (1024.0 * 1024.0));
  out.text() << (tally.failed ? "copied before the failure: " : o.verify ? "copied and verified: " : "copied: ")
             << line << '\n';
}

}  // namespace

int runCopy(DeviceSession& session, std::vector<QXScsi::ParameterData>& params, const CopyOptions& o,
            Output& out) {
  OpenedEnd in, outEnd;
  int status = exitOther;
  if (!openEnd(session, params, o.input, in, out, status)) return status;
  if (!openEnd(session, params, o.output, outEnd, out, status)) return status;
  if (in.file && outEnd.file)
    return out.fail("copy: --if and --of are both files: one of them must be a device", exitContradicting);
  if (!in.file && !outEnd.file && in.blockLength != outEnd.blockLength)
    return out.fail("copy: the input has " + std::to_string(in.blockLength) + "-byte blocks, the output " +
                        std::to_string(outEnd.blockLength) + "-byte blocks",
                    exitContradicting);
  const uint32_t blockLength = in.file ? outEnd.blockLength : in.blockLength;
  if (o.blocksPerTransfer * blockLength > maxTransferBytes)
    return out.fail("copy: --bs " + std::to_string(o.blocksPerTransfer) + " blocks of " + std::to_string(blockLength) +
                        " bytes is more than 64 MiB a transfer",
                    exitSyntax);

  std::unique_ptr<CopyEnd> reader, writer;
  if (in.file) {
    std::unique_ptr<FileEnd> f = openFile(in, true, 0, blockLength, false, out, status);
    if (!f) return status;
    struct stat st {};
    if (::stat(in.path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
      in.blocks = (static_cast<uint64_t>(st.st_size) + blockLength - 1) / blockLength;
    else if (!o.countGiven)
      return out.fail("copy: '" + in.shown + "' is not a regular file: --count is needed", exitSyntax);
    else
      in.blocks = UINT64_MAX;
    reader = std::move(f);
  } else {
    reader = std::make_unique<DeviceEnd>(*in.target, in.shown, blockLength, false, out);
  }
  if (outEnd.file) {
    writer = openFile(outEnd, false, o.seek, blockLength, o.verify, out, status);
    if (!writer) return status;
    outEnd.blocks = UINT64_MAX;
  } else {
    writer = std::make_unique<DeviceEnd>(*outEnd.target, outEnd.shown, blockLength, o.fua, out);
  }

  // Where the copy ends: --count, else the input's end; stopped early at either medium's end.
  if (o.skip > in.blocks)
    return out.fail("copy: --skip " + std::to_string(o.skip) + " is past the end of '" + in.shown + "' (" +
                        std::to_string(in.blocks) + " blocks)",
                    exitSyntax);
  if (o.seek > outEnd.blocks)
    return out.fail("copy: --seek " + std::to_string(o.seek) + " is past the end of '" + outEnd.shown + "' (" +
                        std::to_string(outEnd.blocks) + " blocks)",
                    exitSyntax);
  const uint64_t inLeft = in.blocks - o.skip, outLeft = outEnd.blocks - o.seek;
  uint64_t blocks = o.countGiven ? o.count : inLeft;
  std::string stop;
  if (blocks > inLeft) {
    blocks = inLeft;
    stop = "the end of '" + in.shown + "' (" + std::to_string(in.blocks) + " blocks)";
  }
  if (blocks > outLeft) {
    blocks = outLeft;
    stop = "the end of '" + outEnd.shown + "' (" + std::to_string(outEnd.blocks) + " blocks)";
  }
  if (!stop.empty()) out.text() << "stopping at " << stop << " after " << blocks << " blocks\n";
  out.doc()["stopped_at_end_of_medium"] = !stop.empty();

  const uint32_t perTransfer =
      static_cast<uint32_t>(blocks < o.blocksPerTransfer ? (blocks == 0 ? 1 : blocks) : o.blocksPerTransfer);
  std::vector<unsigned char> buffer(size_t(perTransfer) * blockLength), check;
  if (o.verify) check.resize(buffer.size());
  const Clock::time_point start = Clock::now();
  CopyTally tally;
  {
    ProgressBar bar(o.progress && !out.json(), blocks * blockLength, blockLength, start);
    std::function<void(uint64_t)> progress;
    if (bar.on()) progress = [&bar](uint64_t done) { bar(done); };
    status = copyBlocks(*reader, o.skip, *writer, o.seek, blocks, blockLength, perTransfer, buffer.data(),
                        o.verify ? check.data() : nullptr, out, tally, progress);
  }
  summary(o, in, outEnd, blockLength, tally, std::chrono::duration<double>(Clock::now() - start).count(), out);
  return status;
}

}  // namespace qxscsi::cli
