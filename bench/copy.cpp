// The tool's copy (runCopy, the code the subcommand runs) moving 64 MiB: from a file-backed emulated
// disk to a file beside a read/write loop doing what dd does with the same block size, and from a
// tgtd LUN beside a libiscsi READ(16) loop with the same transfer size. Every iteration is one ABBA
// round (ours, theirs, theirs, ours); a repetition reports the median of its rounds' ratios
// (theirs' time over ours: 1.0 is as fast) and "load1", the load average at its end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "cli/copy.h"
#include "cli/device.h"

#ifdef QXSCSI_BENCH_ISCSI
#include <iscsi/iscsi.h>
#include <iscsi/scsi-lowlevel.h>

#include "tgtd_harness.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using qxscsi::bench::median;
using qxscsi::bench::recordLoad;

constexpr uint64_t kBytes = 64ull << 20;
constexpr unsigned kBlock = 512;
constexpr int kRepetitions = 5;

// A private directory, removed with its contents when the benchmark ends.
struct Scratch {
  std::string dir;
  Scratch() {
    char tmpl[] = "/tmp/bench-copy.XXXXXX";
    if (mkdtemp(tmpl)) dir = tmpl;
  }
  ~Scratch() {
    if (dir.empty()) return;
    std::string command = "/bin/rm -rf '" + dir + "'";
    if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir.c_str());
  }
};

// One whole copy through the tool's code: the back-ends set up, the device opened, its capacity
// read, every block moved. Seconds, or negative when it failed.
double toolCopy(const std::string& input, const std::string& output, uint64_t blocksPerTransfer) {
  qxscsi::cli::Options options;
  options.json = true;  // nothing printed: the document is never finished
  qxscsi::cli::Output out(options);
  qxscsi::cli::CopyOptions o;
  o.input = input;
  o.output = output;
  o.blocksPerTransfer = blocksPerTransfer;
  std::vector<QXScsi::ParameterData> params;
  const Clock::time_point t0 = Clock::now();
  qxscsi::cli::DeviceSession session;
  const int status = qxscsi::cli::runCopy(session, params, o, out);
  const double s = std::chrono::duration<double>(Clock::now() - t0).count();
  return status == 0 && out.doc().value("bytes_copied", uint64_t(0)) == kBytes ? s : -1;
}

// ABBA rounds of ours and theirs; counters for each rate and the median ratio.
void interleave(benchmark::State& state, const char* ourName, const std::function<double()>& ours,
                const char* theirName, const std::function<double()>& theirs) {
  std::vector<double> ratios;
  double oursSeconds = 0, theirSeconds = 0;
  if (ours() < 0 || theirs() < 0) return state.SkipWithError("the warm-up copy failed");
  for (auto _ : state) {
    const double a1 = ours(), b1 = theirs(), b2 = theirs(), a2 = ours();
    if (a1 < 0 || a2 < 0) return state.SkipWithError("the tool's copy failed");
    if (b1 < 0 || b2 < 0) return state.SkipWithError((std::string(theirName) + " failed").c_str());
    ratios.push_back((b1 + b2) / (a1 + a2));
    oursSeconds += a1 + a2;
    theirSeconds += b1 + b2;
  }
  const double mebibytes = 2.0 * static_cast<double>(state.iterations()) * kBytes / (1 << 20);
  state.counters[std::string(ourName) + "_MiBps"] = mebibytes / oursSeconds;
  state.counters[std::string(theirName) + "_MiBps"] = mebibytes / theirSeconds;
  state.counters["ratio"] = median(ratios);
  recordLoad(state);
}

// What dd if=IMAGE of=OUTPUT bs=N does: the output opened truncated, read(2) and write(2) of N
// bytes until the end. Seconds, or negative when it failed.
double ddLoop(const std::string& image, const std::string& output, size_t bytesPerTransfer,
              std::vector<unsigned char>& buffer) {
  const Clock::time_point t0 = Clock::now();
  const int in = open(image.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  uint64_t moved = 0;
  if (in >= 0 && out >= 0) {
    ssize_t n;
    while ((n = read(in, buffer.data(), bytesPerTransfer)) > 0) {
      if (write(out, buffer.data(), static_cast<size_t>(n)) != n) break;
      moved += static_cast<uint64_t>(n);
    }
  }
  if (in >= 0) close(in);
  if (out >= 0) close(out);
  const double s = std::chrono::duration<double>(Clock::now() - t0).count();
  return moved == kBytes ? s : -1;
}

// 64 MiB from emulated:disk?file=IMAGE to a file, beside the dd loop on the same image; the image
// and both outputs stay in the page cache. state.range(0): blocks per transfer.
void BM_CopyFileDiskToFile(benchmark::State& state) {
  Scratch scratch;
  if (scratch.dir.empty()) return state.SkipWithError("no temporary directory");
  const std::string image = scratch.dir + "/disk.img";
  {
    std::vector<unsigned char> bytes(1 << 20, 0x5a);
    const int fd = open(image.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool written = fd >= 0;
    for (uint64_t i = 0; written && i < kBytes / bytes.size(); ++i)
      written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    if (fd >= 0) close(fd);
    if (!written) return state.SkipWithError("cannot write the image");
  }
  const auto blocks = static_cast<uint64_t>(state.range(0));
  std::vector<unsigned char> buffer(blocks * kBlock);
  const std::string device = "emulated:disk?file=" + image;
  interleave(
      state, "copy", [&] { return toolCopy(device, scratch.dir + "/ours.bin", blocks); }, "dd",
      [&] { return ddLoop(image, scratch.dir + "/theirs.bin", blocks * kBlock, buffer); });
}
// 128 blocks: the default, 64 KiB a transfer; 2048: 1 MiB.
BENCHMARK(BM_CopyFileDiskToFile)
    ->ArgName("blocks")
    ->Arg(128)
    ->Arg(2048)
    ->MinTime(3.0)
    ->UseRealTime()
    ->Repetitions(kRepetitions)
    ->Unit(benchmark::kMillisecond);

// The method's own bias: the dd loop on both sides, to two outputs as above. On an idle machine the
// ratio is 1.00; its distance from 1 bounds what the ratios above can tell.
void BM_CopyControl(benchmark::State& state) {
  Scratch scratch;
  if (scratch.dir.empty()) return state.SkipWithError("no temporary directory");
  const std::string image = scratch.dir + "/disk.img";
  std::vector<unsigned char> buffer(128 * kBlock, 0x5a);
  {
    const int fd = open(image.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool written = fd >= 0;
    for (uint64_t i = 0; written && i < kBytes / buffer.size(); ++i)
      written = write(fd, buffer.data(), buffer.size()) == static_cast<ssize_t>(buffer.size());
    if (fd >= 0) close(fd);
    if (!written) return state.SkipWithError("cannot write the image");
  }
  interleave(
      state, "first", [&] { return ddLoop(image, scratch.dir + "/first.bin", buffer.size(), buffer); }, "second",
      [&] { return ddLoop(image, scratch.dir + "/second.bin", buffer.size(), buffer); });
}
BENCHMARK(BM_CopyControl)->MinTime(3.0)->UseRealTime()->Repetitions(kRepetitions)->Unit(benchmark::kMillisecond);

#ifdef QXSCSI_BENCH_ISCSI
using qxscsi::test::TgtdInstance;

constexpr const char* kIqn = "iqn.2026-12.org.example:bench-copy";

struct Tgtd {
  std::unique_ptr<TgtdInstance> tgtd;
  std::string url, error;
  Tgtd() {
    tgtd = TgtdInstance::start(&error);
    if (tgtd && !tgtd->addDisk(1, kIqn, kBytes >> 20)) {
      error = "tgtadm failed";
      tgtd.reset();
    }
    if (tgtd) url = tgtd->url(kIqn, 1);
  }
};

Tgtd& tgtd() {
  static Tgtd t;
  return t;
}

// libiscsi alone doing the same work: log in, READ CAPACITY(16), READ(16) of every block,
// log out. Seconds, or negative when it failed.
double libiscsiLoop(const std::string& url, uint32_t blocks, std::vector<unsigned char>& buffer) {
  const Clock::time_point t0 = Clock::now();
  iscsi_context* ctx = iscsi_create_context("iqn.2026-12.org.qxscsi:bench-copy-libiscsi");
  iscsi_url* u = ctx ? iscsi_parse_full_url(ctx, url.c_str()) : nullptr;
  bool ok = u != nullptr;
  if (ok) {
    iscsi_set_targetname(ctx, u->target);
    iscsi_set_session_type(ctx, ISCSI_SESSION_NORMAL);
    iscsi_set_header_digest(ctx, ISCSI_HEADER_DIGEST_NONE_CRC32C);
    ok = iscsi_full_connect_sync(ctx, u->portal, u->lun) == 0;
  }
  const int lun = u ? u->lun : 0;
  uint64_t end = 0;
  if (ok) {
    scsi_task* t = iscsi_readcapacity16_sync(ctx, lun);
    ok = t && t->status == SCSI_STATUS_GOOD;
    if (ok) {
      auto* rc = static_cast<scsi_readcapacity16*>(scsi_datain_unmarshall(t));
      ok = rc != nullptr;
      if (ok) end = rc->returned_lba + 1;
    }
    if (t) scsi_free_scsi_task(t);
  }
  uint64_t moved = 0;
  for (uint64_t lba = 0; ok && lba < end; lba += blocks) {
    const uint32_t n = static_cast<uint32_t>(end - lba < blocks ? end - lba : blocks);
    unsigned char cdb[16] = {0x88};
    for (int i = 0; i < 8; ++i) cdb[2 + i] = static_cast<unsigned char>(lba >> (56 - 8 * i));
    for (int i = 0; i < 4; ++i) cdb[10 + i] = static_cast<unsigned char>(n >> (24 - 8 * i));
    scsi_task* t = scsi_create_task(16, cdb, SCSI_XFER_READ, static_cast<int>(n * kBlock));
    scsi_task_add_data_in_buffer(t, static_cast<int>(n * kBlock), buffer.data());
    scsi_task* done = iscsi_scsi_command_sync(ctx, lun, t, nullptr);
    ok = done && t->status == SCSI_STATUS_GOOD;
    scsi_free_scsi_task(t);
    if (ok) moved += uint64_t(n) * kBlock;
  }
  if (u) iscsi_destroy_url(u);
  if (ctx) {
    iscsi_logout_sync(ctx);
    iscsi_destroy_context(ctx);
  }
  const double s = std::chrono::duration<double>(Clock::now() - t0).count();
  return ok && moved == kBytes ? s : -1;
}

// The whole 64 MiB LUN to /dev/null through the tool's copy, beside the libiscsi loop.
void BM_CopyIscsiToNull(benchmark::State& state) {
  Tgtd& t = tgtd();
  if (!t.tgtd) return state.SkipWithError(("no tgtd: " + t.error).c_str());
  const auto blocks = static_cast<uint32_t>(state.range(0));
  std::vector<unsigned char> buffer(size_t(blocks) * kBlock);
  interleave(
      state, "copy", [&] { return toolCopy(t.url, "/dev/null", blocks); }, "libiscsi",
      [&] { return libiscsiLoop(t.url, blocks, buffer); });
}
BENCHMARK(BM_CopyIscsiToNull)
    ->ArgName("blocks")
    ->Arg(128)
    ->Arg(2048)
    ->MinTime(3.0)
    ->UseRealTime()
    ->Repetitions(kRepetitions)
    ->Unit(benchmark::kMillisecond);
#endif

}  // namespace
