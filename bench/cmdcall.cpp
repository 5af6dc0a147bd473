// cmdCall + QXScsiFreeCmd round trip on an open target whose implementation completes every command
// at once, beside the floor no round trip can beat: allocating, zero-filling and freeing a record and
// its 255-byte sense buffer.
#include <benchmark/benchmark.h>

#include <typeinfo>

#include "qxpattern/singleton.h"
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

}  // namespace
