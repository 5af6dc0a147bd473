// A file-backed disk killed (SIGKILL) in the middle of a stream of writes keeps every write it
// acknowledged, and a write it did not acknowledge never damages another block.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "engine_helpers.h"
#include "file_fakes.h"

namespace qxscsi::backends::emulated {
namespace {

using namespace testing;

constexpr unsigned blocks_c = 64, block_c = 4096;

// Block contents written by the stream: its LBA, a sequence number and bytes derived from both.
Bytes pattern(uint32_t lba, uint64_t seq) {
  Bytes b(block_c);
  std::memcpy(&b[0], &lba, 4);
  std::memcpy(&b[8], &seq, 8);
  for (unsigned i = 16; i < block_c; ++i) b[i] = static_cast<unsigned char>((lba * 131 + seq * 7 + i) & 0xFF);
  return b;
}

// The sequence number a block holds: 0 for a block never written, -1 for contents that are no
// complete pattern of this LBA (damage).
int64_t sequenceOf(const unsigned char* block, uint32_t lba) {
  if (std::all_of(block, block + block_c, [](unsigned char c) { return c == 0; })) return 0;
  uint64_t seq;
  std::memcpy(&seq, block + 8, 8);
  return Bytes(block, block + block_c) == pattern(lba, seq) ? static_cast<int64_t>(seq) : -1;
}

// One acknowledged write, as the child reports it through the pipe.
struct Ack {
  uint32_t lba;
  uint32_t count;
  uint64_t seq;
};

// The child: writes forever from sequence number `seq` on (FUA writes of one or two blocks, or
// plain writes followed by SYNCHRONIZE CACHE), reporting each write once it is acknowledged.
[[noreturn]] void writeStream(const std::string& path, uint64_t seq, unsigned seed, int report) {
  std::unique_ptr<Device> disk = Device::create(parsedOptions("emulated:disk?block=4096&file=" + path));
  if (!disk) _exit(3);
  std::mt19937 random(seed);
  std::vector<Ack> pending;
  for (;;) {
    const uint32_t lba = random() % (blocks_c - 2);  // the last block is never written
    const uint32_t count = 1 + random() % 2;
    const bool fua = random() % 2;
    Bytes data;
    for (uint32_t i = 0; i < count; ++i) {
      Bytes b = pattern(lba + i, seq);
      data.insert(data.end(), b.begin(), b.end());
    }
    Bytes cdb = {
        0x2A, static_cast<unsigned char>(fua ? 0x08 : 0), 0, 0, 0, static_cast<unsigned char>(lba), 0,
        0,    static_cast<unsigned char>(count),          0};
    if (out(*disk, cdb, data).status != 0) _exit(4);
    pending.push_back({lba, count, seq++});
    if (!fua) {
      if (random() % 3 != 0) continue;  // a few plain writes gather before the sync
      if (none(*disk, {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}).status != 0) _exit(5);
    }
    for (const Ack& a : pending)
      if (write(report, &a, sizeof a) != sizeof a) _exit(6);
    pending.clear();
  }
}

TEST(FileKillTest, AcknowledgedWritesSurviveSigkillAndNoOtherBlockIsDamaged) {
  TempDir dir;
  const std::string path = dir.file("img");
  std::ofstream(path, std::ios::binary)
      .write(std::string(blocks_c * block_c, '\0').data(), blocks_c * block_c);
  std::mt19937 random(20261208);
  std::map<uint32_t, uint64_t> acked;  // per LBA, the newest acknowledged sequence number
  unsigned kills = 0, total = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(12);
  for (unsigned round = 0; round < 40 && std::chrono::steady_clock::now() < deadline; ++round) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const uint64_t first = (uint64_t(round) + 1) << 32;  // later rounds write later numbers
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(fds[0]);
      writeStream(path, first, random(), fds[1]);
    }
    close(fds[1]);
    std::this_thread::sleep_for(std::chrono::microseconds(2000 + random() % 60000));
    ASSERT_EQ(kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself with " << WEXITSTATUS(status);
    kills++;
    Ack a;
    ssize_t n;
    while ((n = read(fds[0], &a, sizeof a)) == sizeof a) {
      for (uint32_t i = 0; i < a.count; ++i) acked[a.lba + i] = std::max(acked[a.lba + i], a.seq);
      total++;
    }
    close(fds[0]);

    std::ifstream f(path, std::ios::binary);
    Bytes image((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    ASSERT_EQ(image.size(), size_t(blocks_c) * block_c) << "round " << round;
    for (uint32_t lba = 0; lba < blocks_c; ++lba) {
      const int64_t held = sequenceOf(&image[size_t(lba) * block_c], lba);
      ASSERT_GE(held, 0) << "block " << lba << " damaged after round " << round;
      const uint64_t newest = acked.count(lba) ? acked[lba] : 0;
      // Old contents or newer ones, never older than the last acknowledged write.
      ASSERT_GE(uint64_t(held), newest)
          << "block " << lba << " lost an acknowledged write in round " << round;
      ASSERT_LT(uint64_t(held), first + (uint64_t(1) << 32)) << "block " << lba;
    }
    ASSERT_EQ(sequenceOf(&image[size_t(blocks_c - 1) * block_c], blocks_c - 1), 0) << "never written";
  }
  RecordProperty("kills", static_cast<int>(kills));
  RecordProperty("acknowledged", static_cast<int>(total));
  EXPECT_GE(kills, 10u);
  EXPECT_GT(total, 100u) << "too few acknowledged writes to prove anything";
}

}  // namespace
}  // namespace qxscsi::backends::emulated
