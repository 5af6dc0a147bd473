// TEST UNIT READY at queue depth 1: through the library and the SG back-end, beside a bare SG_IO loop
// on the same node. Needs an sg node: QXSCSI_BENCH_SG names it, else the one at 0:0:1:0 is used.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "qxscsi/backends/install.h"
#include "qxscsi/qxscsi.h"

namespace {

std::string benchNode() {
  if (const char* name = std::getenv("QXSCSI_BENCH_SG")) return name;
  const std::string classDir = "/sys/class/scsi_generic/";
  std::string found;
  if (DIR* dir = ::opendir(classDir.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      char link[512];
      ssize_t n = ::readlink((classDir + entry->d_name + "/device").c_str(), link, sizeof link - 1);
      if (n > 8 &&
          std::string(link, static_cast<size_t>(n)).rfind("/0:0:1:0") == static_cast<size_t>(n) - 8) {
        found = std::string("/dev/") + entry->d_name;
        break;
      }
    }
    ::closedir(dir);
  }
  return found;
}

void BM_TurLibrary(benchmark::State& state) {
  const std::string node = benchNode();
  if (node.empty()) return state.SkipWithError("no sg node (set QXSCSI_BENCH_SG)");
  std::unique_ptr<qxscsi::backends::Installation> installation = qxscsi::backends::install();
  if (!installation) return state.SkipWithError("cannot install the back-ends");
  QXScsiSPITarget target(node.c_str(), nullptr);
  if (!target.valid()) return state.SkipWithError("cannot open the sg node");
  const unsigned char tur[6] = {0, 0, 0, 0, 0, 0};
  QXScsiAnyArgs args(tur, 6);
  QXScsiFreeCmd(target.cmdCall(args, 10));  // takes any unit attention
  for (auto _ : state) {
    QXScsiCmd* cmd = target.cmdCall(args, 10);
    if (!cmd) return state.SkipWithError("TEST UNIT READY failed");
    benchmark::DoNotOptimize(cmd->scsiStatus());
    QXScsiFreeCmd(cmd);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_TurBareSgIo(benchmark::State& state) {
  const std::string node = benchNode();
  if (node.empty()) return state.SkipWithError("no sg node (set QXSCSI_BENCH_SG)");
  int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK);
  if (fd < 0) return state.SkipWithError("cannot open the sg node");
  unsigned char tur[6] = {0, 0, 0, 0, 0, 0};
  unsigned char sense[255];
  for (auto _ : state) {
    sg_io_hdr_t h;
    std::memset(&h, 0, sizeof h);
    h.interface_id = 'S';
    h.dxfer_direction = SG_DXFER_NONE;
    h.cmd_len = sizeof tur;
    h.cmdp = tur;
    h.mx_sb_len = sizeof sense;
    h.sbp = sense;
    h.timeout = 10000;
    if (::ioctl(fd, SG_IO, &h) != 0) {
      state.SkipWithError("SG_IO failed");
      break;
    }
    benchmark::DoNotOptimize(h.status);
  }
  ::close(fd);
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_TurLibrary)->UseRealTime();
BENCHMARK(BM_TurBareSgIo)->UseRealTime();
