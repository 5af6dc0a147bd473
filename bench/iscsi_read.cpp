// READ(10) against tgtd on loopback: cmdCall on an iSCSI target beside libiscsi's own
// iscsi_scsi_command_sync (4 KiB and 1 MiB, interleaved in one run), and N targets on N threads
// beside N concurrent iscsi-perf processes.
//
// The machine running this is usually shared, so every figure is a ratio measured in alternation:
// each round runs ours, theirs, theirs, ours (ABBA, so that a drift within the round hits both
// alike), and a repetition reports the median of its rounds' ratios. Run with
// --benchmark_repetitions=5 or more (the default here) and read the medians; "load1" is the load
// average at the end of the repetition.
#include <benchmark/benchmark.h>
#include <iscsi/iscsi.h>
#include <iscsi/scsi-lowlevel.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "qxscsi/backends/install.h"
#include "qxscsi/commands.h"
#include "qxscsi/target.h"
#include "tgtd_harness.h"
#include "wire/bytes.h"

namespace {

using Clock = std::chrono::steady_clock;
using qxscsi::test::TgtdInstance;

constexpr const char* kIqn = "iqn.2026-12.org.example:bench";
constexpr unsigned kLunMegabytes = 64;
constexpr unsigned kSpanBlocks = 32 * 2048;  // 32 MiB walked sequentially, wrapping
constexpr int kRepetitions = 5;

// The tgtd instance and the installation, set up once for the whole run.
struct World {
  std::unique_ptr<TgtdInstance> tgtd;
  std::unique_ptr<qxscsi::backends::Installation> installation;
  std::string url;
  std::string error;

  World() {
    tgtd = TgtdInstance::start(&error);
    if (!tgtd) return;
    if (!tgtd->addDisk(1, kIqn, kLunMegabytes)) {
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

using qxscsi::bench::median;
using qxscsi::bench::recordLoad;

double seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// READ(10): the LBA in bytes 2 to 5, the block count in bytes 7 and 8.
void read10Cdb(unsigned char* cdb, unsigned lba, unsigned blocks) {
  std::fill(cdb, cdb + 10, 0);
  cdb[0] = 0x28;
  qxscsi::wire::putBe32(cdb + 2, lba);
  qxscsi::wire::putBe16(cdb + 7, static_cast<std::uint16_t>(blocks));
}

// One READ(10) through the library; false on any failure.
bool readThroughLibrary(QXScsiTarget& t, unsigned lba, unsigned blocks, unsigned char* buffer) {
  unsigned char cdb[10];
  read10Cdb(cdb, lba, blocks);
  QXScsiAnyArgs args(cdb, 10, buffer, blocks * 512, QXScsi::dataIn_c);
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
  bool read(unsigned lba, unsigned blocks, unsigned char* buffer) {
    unsigned char cdb[10];
    read10Cdb(cdb, lba, blocks);
    scsi_task* task = scsi_create_task(10, cdb, SCSI_XFER_READ, static_cast<int>(blocks * 512));
    scsi_task_add_data_in_buffer(task, static_cast<int>(blocks * 512), buffer);
    scsi_task* done = iscsi_scsi_command_sync(ctx, lun, task, nullptr);
    bool ok = done && task->status == SCSI_STATUS_GOOD;
    scsi_free_scsi_task(task);
    return ok;
  }
};

// Two ways of reading, each on its own session to the same LUN, alternating ABBA in chunks of
// state.range(1) commands of state.range(0) blocks each. Reports commands (and bytes) per second
// of each and the median of the rounds' ratios a/b.
template <class ReadA, class ReadB>
void interleave(benchmark::State& state, const char* nameA, ReadA readA, const char* nameB, ReadB readB) {
  const auto blocks = static_cast<unsigned>(state.range(0));
  const auto chunk = static_cast<int>(state.range(1));
  std::vector<unsigned char> buffer(blocks * 512);
  unsigned lba = 0;
  auto run = [&](auto& read) {
    auto t0 = Clock::now();
    for (int i = 0; i < chunk; ++i, lba = (lba + blocks) % kSpanBlocks)
      if (!read(lba, blocks, buffer.data())) return -1.0;
    return seconds(t0, Clock::now());
  };
  // Warm both sessions (and take a unit attention, should the target raise one).
  readA(0, blocks, buffer.data());
  readB(0, blocks, buffer.data());
  std::vector<double> ratios;
  double secondsA = 0, secondsB = 0;
  for (auto _ : state) {
    double a1 = run(readA), b1 = run(readB), b2 = run(readB), a2 = run(readA);
    if (a1 < 0 || a2 < 0) return state.SkipWithError((std::string(nameA) + " failed").c_str());
    if (b1 < 0 || b2 < 0) return state.SkipWithError((std::string(nameB) + " failed").c_str());
    ratios.push_back((b1 + b2) / (a1 + a2));  // equal command counts: the rate ratio is b's time over a's
    secondsA += a1 + a2;
    secondsB += b1 + b2;
  }
  const double commands = 2.0 * chunk * static_cast<double>(state.iterations());
  const double mebibytes = commands * 512.0 * blocks / (1 << 20);
  state.counters[std::string(nameA) + "_iops"] = commands / secondsA;
  state.counters[std::string(nameB) + "_iops"] = commands / secondsB;
  state.counters[std::string(nameA) + "_MiBps"] = mebibytes / secondsA;
  state.counters[std::string(nameB) + "_MiBps"] = mebibytes / secondsB;
  state.counters["ratio"] = median(ratios);
  recordLoad(state);
}

// cmdCall beside iscsi_scsi_command_sync.
void BM_ReadInterleaved(benchmark::State& state) {
  World& w = world();
  if (!w.tgtd || !w.installation) return state.SkipWithError(("no tgtd: " + w.error).c_str());
  QXScsiSPITarget target(w.url.c_str());
  LibiscsiContext lib(w.url);
  if (!target.valid() || !lib.ctx) return state.SkipWithError("cannot log in");
  interleave(
      state, "cmdCall",
      [&](unsigned lba, unsigned blocks, unsigned char* b) { return readThroughLibrary(target, lba, blocks, b); },
      "libiscsi_sync", [&](unsigned lba, unsigned blocks, unsigned char* b) { return lib.read(lba, blocks, b); });
}
// 4 KiB: 32 commands a chunk; 1 MiB: 4 commands a chunk.
BENCHMARK(BM_ReadInterleaved)
    ->ArgNames({"blocks", "chunk"})
    ->Args({8, 32})
    ->Args({2048, 4})
    ->MinTime(3.0)
    ->UseRealTime()
    ->Repetitions(kRepetitions)
    ->Unit(benchmark::kMillisecond);

// The method's own bias: iscsi_scsi_command_sync on two sessions, the first opened first as
// cmdCall's is above. On an idle machine the ratio is 1.00; its distance from 1 bounds what the
// ratios above can tell.
void BM_ReadControl(benchmark::State& state) {
  World& w = world();
  if (!w.tgtd || !w.installation) return state.SkipWithError(("no tgtd: " + w.error).c_str());
  LibiscsiContext first(w.url);
  LibiscsiContext second(w.url);
  if (!first.ctx || !second.ctx) return state.SkipWithError("cannot log in");
  interleave(
      state, "first", [&](unsigned lba, unsigned blocks, unsigned char* b) { return first.read(lba, blocks, b); },
      "second", [&](unsigned lba, unsigned blocks, unsigned char* b) { return second.read(lba, blocks, b); });
}
BENCHMARK(BM_ReadControl)
    ->ArgNames({"blocks", "chunk"})
    ->Args({8, 32})
    ->MinTime(3.0)
    ->UseRealTime()
    ->Repetitions(kRepetitions)
    ->Unit(benchmark::kMillisecond);

// The sum of the IOPS that n concurrent `iscsi-perf -m 1` processes report for the LUN, each on
// its own session (own initiator name); -1 when one of them fails.
double iscsiPerfProcesses(const std::string& url, int n, unsigned blocks, int runSeconds) {
  std::string script;
  for (int i = 0; i < n; ++i)
    script += "(/usr/bin/timeout " + std::to_string(runSeconds + 20) +
              " /usr/bin/iscsi-perf -i iqn.2026-12.org.example:perf" + std::to_string(i) + " -m 1 -b " +
              std::to_string(blocks) + " -t " + std::to_string(runSeconds) + " " + url +
              " 2>&1 | /usr/bin/tail -n 3 | /usr/bin/sed 's/^/" + std::to_string(i) + ": /') &\n";
  script += "wait\n";
  std::string out;
  qxscsi::test::runProgram({"/bin/sh", "-c", script}, &out);
  std::replace(out.begin(), out.end(), '\r', ' ');  // its progress line is redrawn in place
  std::vector<double> last(static_cast<std::size_t>(n), -1);
  // The last average on a process's lines is its figure for the whole run.
  std::regex line("^([0-9]+): .*iops average ([0-9.]+)");
  std::size_t start = 0;
  while (start < out.size()) {
    std::size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    std::smatch m;
    std::string l = out.substr(start, end - start);
    if (std::regex_search(l, m, line)) {
      std::size_t i = std::stoul(m[1]);
      if (i < last.size()) last[i] = std::stod(m[2]);
    }
    start = end + 1;
  }
  double sum = 0;
  for (double v : last) {
    if (v < 0) {
      fprintf(stderr, "iscsi-perf gave no average:\n%s\n", out.c_str());
      return -1;
    }
    sum += v;
  }
  return sum;
}

// N targets, each its own session, opened once; each round runs N threads reading 4 KiB at queue
// depth 1 through them for a while, and N iscsi-perf processes for as long, in alternating order.
void BM_Read4kThreads(benchmark::State& state) {
  World& w = world();
  if (!w.tgtd || !w.installation) return state.SkipWithError(("no tgtd: " + w.error).c_str());
  const int n = static_cast<int>(state.range(0));
  constexpr unsigned kBlocks = 8;
  constexpr int kRunSeconds = 1;
  std::vector<std::unique_ptr<QXScsiSPITarget>> targets;
  for (int i = 0; i < n; ++i) {
    targets.push_back(std::make_unique<QXScsiSPITarget>(w.url.c_str()));
    if (!targets.back()->valid()) return state.SkipWithError("cannot log in");
    std::vector<unsigned char> b(kBlocks * 512);
    readThroughLibrary(*targets.back(), 0, kBlocks, b.data());
  }
  auto ours = [&]() -> double {
    std::atomic<long long> total{0};
    std::atomic<bool> failed{false};
    auto start = Clock::now();
    auto end = start + std::chrono::seconds(kRunSeconds);
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i)
      threads.emplace_back([&, i] {
        std::vector<unsigned char> buffer(kBlocks * 512);
        unsigned lba = static_cast<unsigned>(i) * 1024 % kSpanBlocks;
        long long done = 0;
        while (Clock::now() < end) {
          if (!readThroughLibrary(*targets[i], lba, kBlocks, buffer.data())) {
            failed = true;
            break;
          }
          lba = (lba + kBlocks) % kSpanBlocks;
          ++done;
        }
        total += done;
      });
    for (auto& t : threads) t.join();
    return failed ? -1.0 : static_cast<double>(total) / seconds(start, Clock::now());
  };
  std::vector<double> ratios, oursIops, perfIops;
  bool oursFirst = true;
  for (auto _ : state) {
    double a = -1, b = -1;
    if (oursFirst) {
      a = ours();
      b = iscsiPerfProcesses(w.url, n, kBlocks, kRunSeconds);
    } else {
      b = iscsiPerfProcesses(w.url, n, kBlocks, kRunSeconds);
      a = ours();
    }
    oursFirst = !oursFirst;
    if (a < 0) return state.SkipWithError("cmdCall failed");
    if (b <= 0) return state.SkipWithError("iscsi-perf failed");
    ratios.push_back(a / b);
    oursIops.push_back(a);
    perfIops.push_back(b);
  }
  state.counters["cmdCall_iops"] = median(oursIops);
  state.counters["iscsi_perf_iops"] = median(perfIops);
  state.counters["ratio"] = median(ratios);
  recordLoad(state);
}
// Each iteration is one round (two runs of kRunSeconds); short runs and nine rounds, as the
// processes' figures swing widely on a loaded machine.
BENCHMARK(BM_Read4kThreads)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->Iterations(9)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
