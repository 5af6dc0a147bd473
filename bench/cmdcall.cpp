// cmdCall + QXScsiFreeCmd round trip on an open target whose implementation completes every command
// at once, beside the floor no round trip can beat: allocating, zero-filling and freeing a record and
// its 255-byte sense buffer; and the ceiling of any back-end that reads a 4 KiB block with one
// pread(2): that pread plus the round trip, beside the pread alone.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <vector>

#include <typeinfo>

#include "qxpattern/singleton.h"
#include "bench_support.h"
#include "qxscsi/qxscsi.h"
#include "record_floor.h"
#include "wire/cdb.h"
#include "wire/status.h"

namespace {

class InstantImpl : public QXScsiTargetImpl {
 public:
  bool access(const char*, int) override { return true; }
  bool release() override { return true; }
  bool executeCommand(QXScsiCmd& cmd, const QXScsiDevice&) override {
    setCmdScsiStatus(cmd, qxscsi::wire::statusGood);
    return true;
  }
};

QXAbstractProduct* createInstant() { return new InstantImpl(); }
void destroyInstant(QXAbstractProduct* product) { delete product; }

// The factory singleton with InstantImpl registered, for the lifetime of one benchmark.
class FactorySetup {
 public:
  FactorySetup() {
    QXSingletonController& registry = QXSingletonController::instance();
    registry.registerSingleton(name(), &QXScsiFactory::createInstance, &QXScsiFactory::deleteInstance);
    static_cast<QXScsiFactory*>(registry.singleton(name()))
        ->registerScsiTargetImpl(&createInstant, &destroyInstant);
  }
  ~FactorySetup() { QXSingletonController::instance().unregisterSingleton(name()); }

 private:
  static const char* name() { return typeid(QXScsiFactory).name(); }
};

void BM_CmdCallRoundTrip(benchmark::State& state) {
  FactorySetup setup;
  QXScsiTarget target;
  if (!target.initScsiTarget("bench", QXScsiDevice("bench"), -1, nullptr)) {
    state.SkipWithError("target did not open");
    return;
  }
  unsigned char buffer[36];
  unsigned char cdb[6];
  qxscsi::wire::inquiryCdb(cdb, false, 0, sizeof buffer);
  QXScsiAnyArgs args(cdb, sizeof cdb, buffer, sizeof buffer, QXScsi::dataIn_c);
  for (auto _ : state) {
    QXScsiCmd* cmd = target.cmdCall(args, 0);
    benchmark::DoNotOptimize(cmd);
    QXScsiFreeCmd(cmd);
  }
}
BENCHMARK(BM_CmdCallRoundTrip);

void BM_RecordAllocationFloor(benchmark::State& state) {
  for (auto _ : state) qxscsi::bench::recordAllocationFloor();
}
BENCHMARK(BM_RecordAllocationFloor);

// A back-end whose only work is one pread(2) of 4 KiB can at best reach this ratio to pread alone:
// "ratio" is pread time / (pread + cmdCall round trip) time, interleaved in ABBA rounds.
void BM_PreadCeiling4k(benchmark::State& state) {
  char path[] = "/tmp/bench-ceiling.XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return state.SkipWithError("no temporary file");
  unlink(path);
  constexpr unsigned kBlocks = 1024;  // 4 MiB of 4 KiB blocks, walked sequentially
  std::vector<unsigned char> block(4096, 0x5a);
  for (unsigned i = 0; i < kBlocks; ++i)
    if (write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) {
      close(fd);
      return state.SkipWithError("cannot write the file");
    }
  FactorySetup setup;
  QXScsiTarget target;
  if (!target.initScsiTarget("bench", QXScsiDevice("bench"), -1, nullptr)) {
    close(fd);
    return state.SkipWithError("target did not open");
  }
  unsigned char cdb[10] = {0x28};
  unsigned a = 0, b = 0;
  auto readBlock = [&](unsigned& n) {
    n = (n + 1) % kBlocks;
    return pread(fd, block.data(), block.size(), static_cast<off_t>(n) * 4096) ==
           static_cast<ssize_t>(block.size());
  };
  qxscsi::bench::interleave(
      state, "pread_and_cmdCall",
      [&](int) {
        QXScsiAnyArgs args(cdb, sizeof cdb, block.data(), block.size(), QXScsi::dataIn_c);
        QXScsiCmd* cmd = target.cmdCall(args, 0);
        const bool ok = cmd != nullptr && readBlock(a);
        QXScsiFreeCmd(cmd);
        return ok;
      },
      "pread", [&](int) { return readBlock(b); });
  close(fd);
}
BENCHMARK(BM_PreadCeiling4k)->MinTime(2.0)->UseRealTime()->Repetitions(5);

}  // namespace
