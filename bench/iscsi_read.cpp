// 4 KiB READ(10) against tgtd on loopback: cmdCall on an iSCSI target beside libiscsi's own
// iscsi_scsi_command_sync (interleaved in one run), and N targets on N threads beside iscsi-perf.
#include <benchmark/benchmark.h>
#include <iscsi/iscsi.h>
#include <iscsi/scsi-lowlevel.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "qxscsi/backends/install.h"
#include "qxscsi/commands.h"
#include "qxscsi/target.h"
#include "tgtd_harness.h"
#include "wire/bytes.h"

namespace {

using Clock = std::chrono::steady_clock;
using qxscsi::test::TgtdInstance;

constexpr const char* kIqn = "iqn.2026-12.org.example:bench";
constexpr unsigned kBlocks = 8;         // 4 KiB in 512-byte blocks
constexpr unsigned kSpanBlocks = 8192;  // 4 MiB walked sequentially, wrapping

// The tgtd instance and the installation, set up once for the whole run.
struct World {
  std::unique_ptr<TgtdInstance> tgtd;
  std::unique_ptr<qxscsi::backends::Installation> installation;
  std::string url;
  std::string error;

  World() {
    tgtd = TgtdInstance::start(&error);
    if (!tgtd) return;
    if (!tgtd->addDisk(1, kIqn, 64)) {
      error = "tgtadm failed";
      tgtd.reset();
      return;
    }
    url = tgtd->url(kIqn, 1);
    installation = qxscsi::backends::install();
  }
};

World& world() {
  static World w;
  return w;
}

// READ(10): the LBA in bytes 2 to 5, kBlocks in bytes 7 and 8.
void read10Cdb(unsigned char* cdb, unsigned lba) {
  std::fill(cdb, cdb + 10, 0);
  cdb[0] = 0x28;
  qxscsi::wire::putBe32(cdb + 2, lba);
  qxscsi::wire::putBe16(cdb + 7, kBlocks);
}

// One READ(10) through the library; false on any failure.
bool readThroughLibrary(QXScsiTarget& t, unsigned lba, unsigned char* buffer) {
  unsigned char cdb[10];
  read10Cdb(cdb, lba);
  QXScsiAnyArgs args(cdb, 10, buffer, kBlocks * 512, QXScsi::dataIn_c);
  QXScsiCmd* cmd = t.cmdCall(args, 0);
  bool ok = cmd && cmd->scsiStatus() == 0;
  QXScsiFreeCmd(cmd);
  return ok;
}

// libiscsi on its own: a context logged in to the same LUN, commands sent synchronously.
struct LibiscsiContext {
  iscsi_context* ctx = nullptr;
  int lun = 1;
  explicit LibiscsiContext(const std::string& url) {
    ctx = iscsi_create_context("iqn.2026-12.org.qxscsi:bench-libiscsi");
    iscsi_url* u = iscsi_parse_full_url(ctx, url.c_str());
    if (!u) return;
    iscsi_set_targetname(ctx, u->target);
    iscsi_set_session_type(ctx, ISCSI_SESSION_NORMAL);
    iscsi_set_header_digest(ctx, ISCSI_HEADER_DIGEST_NONE_CRC32C);
    lun = u->lun;
    if (iscsi_full_connect_sync(ctx, u->portal, u->lun) != 0) {
      iscsi_destroy_context(ctx);
      ctx = nullptr;
    }
    iscsi_destroy_url(u);
  }
  ~LibiscsiContext() {
    if (ctx) {
      iscsi_logout_sync(ctx);
      iscsi_destroy_context(ctx);
    }
  }
  bool read(unsigned lba, unsigned char* buffer) {
    unsigned char cdb[10];
    read10Cdb(cdb, lba);
    scsi_task* task = scsi_create_task(10, cdb, SCSI_XFER_READ, kBlocks * 512);
    scsi_task_add_data_in_buffer(task, kBlocks * 512, buffer);
    scsi_task* done = iscsi_scsi_command_sync(ctx, lun, task, nullptr);
    bool ok = done && task->status == SCSI_STATUS_GOOD;
    scsi_free_scsi_task(task);
    return ok;
  }
};

// Both paths in one loop, alternating in chunks so that drift of the machine hits both alike.
void BM_Read4kInterleaved(benchmark::State& state) {
  World& w = world();
  if (!w.tgtd || !w.installation) return state.SkipWithError(("no tgtd: " + w.error).c_str());
  QXScsiSPITarget target(w.url.c_str());
  LibiscsiContext lib(w.url);
  if (!target.valid() || !lib.ctx) return state.SkipWithError("cannot log in");
  std::vector<unsigned char> buffer(kBlocks * 512);
  readThroughLibrary(target, 0, buffer.data());  // the session's unit attention
  const int chunk = static_cast<int>(state.range(0));
  double oursSeconds = 0, libSeconds = 0;
  long long oursCommands = 0, libCommands = 0;
  unsigned lba = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    for (int i = 0; i < chunk; ++i, lba = (lba + kBlocks) % kSpanBlocks)
      if (!readThroughLibrary(target, lba, buffer.data())) return state.SkipWithError("cmdCall failed");
    auto t1 = Clock::now();
    for (int i = 0; i < chunk; ++i, lba = (lba + kBlocks) % kSpanBlocks)
      if (!lib.read(lba, buffer.data())) return state.SkipWithError("iscsi_scsi_command_sync failed");
    auto t2 = Clock::now();
    oursSeconds += std::chrono::duration<double>(t1 - t0).count();
    libSeconds += std::chrono::duration<double>(t2 - t1).count();
    oursCommands += chunk;
    libCommands += chunk;
  }
  double ours = oursCommands / oursSeconds, theirs = libCommands / libSeconds;
  state.counters["cmdCall_iops"] = ours;
  state.counters["libiscsi_sync_iops"] = theirs;
  state.counters["ratio"] = ours / theirs;
}
BENCHMARK(BM_Read4kInterleaved)
    ->Arg(64)
    ->MinTime(5.0)
    ->UseRealTime()
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);

// IOPS that iscsi-perf reports for the LUN with inFlight commands in flight (-1 when it fails).
double iscsiPerf(const std::string& url, int inFlight, int seconds) {
  std::string out;
  qxscsi::test::runProgram(
      {"/usr/bin/timeout", std::to_string(seconds + 10), "/usr/bin/iscsi-perf", "-m",
       std::to_string(inFlight), "-b", std::to_string(kBlocks), "-t", std::to_string(seconds), url},
      &out);
  std::smatch m;
  std::string lastAverage;
  std::regex average("iops average ([0-9]+)");
  for (auto it = std::sregex_iterator(out.begin(), out.end(), average); it != std::sregex_iterator(); ++it)
    lastAverage = (*it)[1];
  return lastAverage.empty() ? -1 : std::stod(lastAverage);
}

// N targets, each its own session, opened before N threads read through them for a while.
void BM_Read4kThreads(benchmark::State& state) {
  World& w = world();
  if (!w.tgtd || !w.installation) return state.SkipWithError(("no tgtd: " + w.error).c_str());
  const int n = static_cast<int>(state.range(0));
  const double seconds = 3.0;
  std::vector<std::unique_ptr<QXScsiSPITarget>> targets;
  for (int i = 0; i < n; ++i) {
    targets.push_back(std::make_unique<QXScsiSPITarget>(w.url.c_str()));
    if (!targets.back()->valid()) return state.SkipWithError("cannot log in");
    std::vector<unsigned char> b(kBlocks * 512);
    readThroughLibrary(*targets.back(), 0, b.data());  // unit attention
  }
  double oursIops = 0;
  for (auto _ : state) {
    std::atomic<long long> total{0};
    std::atomic<bool> failed{false};
    auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i)
      threads.emplace_back([&, i] {
        std::vector<unsigned char> buffer(kBlocks * 512);
        unsigned lba = static_cast<unsigned>(i) * 1024 % kSpanBlocks;
        long long done = 0;
        auto end = start + std::chrono::duration<double>(seconds);
        while (Clock::now() < end) {
          if (!readThroughLibrary(*targets[i], lba, buffer.data())) {
            failed = true;
            break;
          }
          lba = (lba + kBlocks) % kSpanBlocks;
          ++done;
        }
        total += done;
      });
    for (auto& t : threads) t.join();
    if (failed) return state.SkipWithError("cmdCall failed");
    oursIops = total / std::chrono::duration<double>(Clock::now() - start).count();
  }
  double perf = iscsiPerf(w.url, n, static_cast<int>(seconds));
  state.counters["cmdCall_iops"] = oursIops;
  state.counters["iscsi_perf_iops"] = perf;
  state.counters["ratio"] = perf > 0 ? oursIops / perf : 0;
}
BENCHMARK(BM_Read4kThreads)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
