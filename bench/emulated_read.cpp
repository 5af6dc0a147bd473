// 4 KiB READ(10) through cmdCall on the emulated disk: in memory beside the record allocation floor,
// and backed by a file (emulated:disk?file=PATH) beside pread(2) of the same file, each pair
// interleaved in one run. Every iteration is one ABBA round (a, b, b, a in chunks); a repetition
// reports the median of its rounds' ratios and "load1", the load average at its end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "qxscsi/backends/install.h"
#include "qxscsi/commands.h"
#include "qxscsi/target.h"
#include "record_floor.h"
#include "wire/bytes.h"

namespace {

constexpr unsigned kBlock = 512;
constexpr unsigned kBlocks = 8;             // 4 KiB a command
constexpr unsigned kCapacityBlocks = 8192;  // 4 MiB, walked sequentially and wrapping
constexpr int kRepetitions = 5;

using qxscsi::bench::interleave;

qxscsi::backends::Installation* installation() {
  static std::unique_ptr<qxscsi::backends::Installation> i = qxscsi::backends::install();
  return i.get();
}

// One READ(10) of kBlocks at lba through the library; false on any failure.
bool readThroughLibrary(QXScsiTarget& t, unsigned lba, unsigned char* buffer) {
  unsigned char cdb[10] = {0x28};
  qxscsi::wire::putBe32(cdb + 2, lba);
  qxscsi::wire::putBe16(cdb + 7, kBlocks);
  QXScsiAnyArgs args(cdb, 10, buffer, kBlocks * kBlock, QXScsi::dataIn_c);
  QXScsiCmd* cmd = t.cmdCall(args, 0);
  bool ok = cmd && cmd->scsiStatus() == 0;
  QXScsiFreeCmd(cmd);
  return ok;
}

std::string openFailure(QXScsiSPITarget& target, const std::string& name) {
  std::string hint;
  target.implementationErrorHint(hint);
  return "cannot open " + name + (hint.empty() ? std::string() : ": " + hint);
}

// The in-memory disk beside the floor of any cmdCall round trip (ratio = floor time / read time).
void BM_MemoryDiskRead4k(benchmark::State& state) {
  if (!installation()) return state.SkipWithError("cannot install the back-ends");
  const std::string name = "emulated:disk?capacity=" + std::to_string(kCapacityBlocks);
  QXScsiSPITarget target(name.c_str());
  if (!target.valid()) return state.SkipWithError(openFailure(target, name).c_str());
  std::vector<unsigned char> buffer(kBlocks * kBlock);
  unsigned lba = 0;
  interleave(
      state, "cmdCall",
      [&](int) {
        lba = (lba + kBlocks) % kCapacityBlocks;
        return readThroughLibrary(target, lba, buffer.data());
      },
      "floor",
      [](int) {
        qxscsi::bench::recordAllocationFloor();
        return true;
      });
}
BENCHMARK(BM_MemoryDiskRead4k)->MinTime(2.0)->UseRealTime()->Repetitions(kRepetitions);

// A private directory for the image, removed with its contents when the benchmark ends.
struct ImageFile {
  std::string dir, path;
  ImageFile() {
    char tmpl[] = "/tmp/bench-emulated.XXXXXX";
    if (mkdtemp(tmpl)) dir = tmpl;
    if (!dir.empty()) path = dir + "/disk.img";
  }
  ~ImageFile() {
    if (dir.empty()) return;
    // The back-end may keep a side file next to the image: remove whatever is there.
    std::string command = "/bin/rm -rf '" + dir + "'";
    if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir.c_str());
  }
};

// The file-backed disk beside pread(2) of the same image (ratio = pread time / read time). The
// image is written once first, so that both read data that is in the page cache.
void BM_FileDiskRead4k(benchmark::State& state) {
  if (!installation()) return state.SkipWithError("cannot install the back-ends");
  ImageFile image;
  if (image.path.empty()) return state.SkipWithError("no temporary directory");
  {
    std::vector<unsigned char> bytes(kCapacityBlocks * kBlock, 0x5a);
    int fd = open(image.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool written = fd >= 0 && write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    if (fd >= 0) close(fd);
    if (!written) return state.SkipWithError("cannot write the image");
  }
  const std::string name = "emulated:disk?file=" + image.path;
  std::unique_ptr<QXScsiSPITarget> target = std::make_unique<QXScsiSPITarget>(name.c_str());
  if (!target->valid())
    return state.SkipWithError(("the emulated back-end does not serve file= here (" +
                                openFailure(*target, name) + ")")
                                   .c_str());
  int fd = open(image.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return state.SkipWithError("cannot open the image for pread");
  std::vector<unsigned char> buffer(kBlocks * kBlock);
  unsigned lbaA = 0, lbaB = 0;
  interleave(
      state, "cmdCall",
      [&](int) {
        lbaA = (lbaA + kBlocks) % kCapacityBlocks;
        return readThroughLibrary(*target, lbaA, buffer.data());
      },
      "pread",
      [&](int) {
        lbaB = (lbaB + kBlocks) % kCapacityBlocks;
        return pread(fd, buffer.data(), kBlocks * kBlock, static_cast<off_t>(lbaB) * kBlock) ==
               static_cast<ssize_t>(kBlocks * kBlock);
      });
  close(fd);
  target.reset();  // closes the image before its directory goes
}
BENCHMARK(BM_FileDiskRead4k)->MinTime(2.0)->UseRealTime()->Repetitions(kRepetitions);

}  // namespace
