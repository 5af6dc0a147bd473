// Reads of file-backed disks from a memory mapping: they see every write at once, a file cut short
// behind the lock's back answers MEDIUM ERROR instead of ending the process, and a SIGBUS that is
// not ours still reaches the disposition that was there before.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <fstream>

#include "engine_helpers.h"
#include "file_fakes.h"
#include "mapped_copy.h"
#include "medium.h"

namespace qxscsi::backends::emulated {
namespace {

using namespace testing;

Bytes read10(uint32_t lba, uint16_t blocks) {
  return {0x28, 0, static_cast<unsigned char>(lba >> 24), static_cast<unsigned char>(lba >> 16),
          static_cast<unsigned char>(lba >> 8), static_cast<unsigned char>(lba), 0,
          static_cast<unsigned char>(blocks >> 8), static_cast<unsigned char>(blocks), 0};
}

Bytes pattern(size_t n, unsigned seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(i * 13 + seed);
  return b;
}

// Whether this process maps `path` (a line of /proc/self/maps names it).
bool mapsFile(const std::string& path) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.size() >= path.size() && line.compare(line.size() - path.size(), path.size(), path) == 0) return true;
  return false;
}

void truncateBehindTheLock(const std::string& path, off_t bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, bytes), 0);  // flock is advisory: nothing stops this
  ::close(fd);
}

TEST(MappedReadTest, ReadsSeeEachWriteAtOnceAndMmap0ReadsWithPread) {
  TempDir dir;
  OpenFailure failure;
  std::unique_ptr<FileMedium> m = FileMedium::open(hostFileSystem(), dir.file("img"), 512, 16, true, failure);
  ASSERT_TRUE(m) << failure.text;
  EXPECT_TRUE(m->mapped());
  EXPECT_TRUE(mapsFile(dir.file("img")));
  for (unsigned round = 0; round < 3; ++round) {
    const Bytes data = pattern(3 * 512, round);
    ASSERT_TRUE(m->write(5 * 512, data.data(), data.size()));
    Bytes back(data.size());
    ASSERT_TRUE(m->read(5 * 512, back.data(), back.size()));
    EXPECT_EQ(back, data) << "round " << round;
  }
  m.reset();
  EXPECT_FALSE(mapsFile(dir.file("img")));  // closing unmaps

  std::unique_ptr<Device> d = makeDevice("emulated:disk?capacity=16&mmap=0&file=" + dir.file("img"));
  ASSERT_TRUE(d);
  EXPECT_FALSE(mapsFile(dir.file("img")));
  Bytes b;
  ASSERT_EQ(in(*d, read10(5, 3), b, 3 * 512).status, 0);
  EXPECT_EQ(b, pattern(3 * 512, 2));
}

TEST(MappedReadTest, AFileCutShortBehindTheLockAnswersMediumErrorAndLaterReadsUsePread) {
  TempDir dir;
  writeFile(dir.file("img"), pattern(16 * 512, 1));
  std::unique_ptr<Device> d = makeDevice("emulated:disk?file=" + dir.file("img"));
  ASSERT_TRUE(d);
  Bytes b;
  ASSERT_EQ(in(*d, read10(12, 1), b, 512).status, 0);  // the page is mapped and read once
  truncateBehindTheLock(dir.file("img"), 8 * 512);

  struct Case {
    uint32_t lba;
    uint16_t blocks;
    bool readable;
  } cases[] = {
      {12, 1, false},  // beyond the new end: SIGBUS under the mapping
      {2, 1, true},    // before it: read through pread now, same bytes
      {7, 2, false},   // across it
      {12, 1, false},  // and again, through pread
      {7, 1, true},
  };
  const Bytes all = pattern(16 * 512, 1);
  for (const Case& c : cases) {
    SCOPED_TRACE("LBA " + std::to_string(c.lba));
    CommandResult r = in(*d, read10(c.lba, c.blocks), b, c.blocks * 512u);
    if (c.readable) {
      ASSERT_EQ(r.status, 0);
      EXPECT_EQ(b, Bytes(all.begin() + c.lba * 512, all.begin() + (c.lba + c.blocks) * 512));
    } else {
      ASSERT_EQ(r.status, 2);
      ASSERT_GE(r.sense.size(), 14u);
      EXPECT_EQ(r.sense[2] & 0x0F, 0x03);  // MEDIUM ERROR
      EXPECT_EQ(r.sense[12], 0x11);        // UNRECOVERED READ ERROR
    }
  }
  EXPECT_FALSE(mapsFile(dir.file("img")));  // the damaged mapping was dropped
}

// A SIGBUS outside our copies goes where it went before the handler was installed. Each case
// runs in a fresh process, so that the disposition before ours is the one the case sets.
class MappedReadDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

[[noreturn]] void touchTruncatedMapping() {
  char path[] = "/tmp/qxscsi-sigbus.XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0 || ftruncate(fd, 8192) != 0) _exit(3);
  auto* p = static_cast<volatile unsigned char*>(mmap(nullptr, 8192, PROT_READ, MAP_SHARED, fd, 0));
  unlink(path);
  if (p == MAP_FAILED || ftruncate(fd, 0) != 0) _exit(4);
  (void)p[4096];
  _exit(0);
}

TEST_F(MappedReadDeathTest, ForeignFaultsAndSentSigbusStillEndTheProcessByDefault) {
#ifdef __SANITIZE_ADDRESS__
  // The sanitizer's own handler is the disposition before ours: it reports the fault and exits.
  EXPECT_DEATH((guardMappedCopies(), touchTruncatedMapping()), "AddressSanitizer: BUS");
  EXPECT_DEATH((guardMappedCopies(), raise(SIGBUS), _exit(0)), "AddressSanitizer");
#else
  EXPECT_EXIT((guardMappedCopies(), touchTruncatedMapping()), ::testing::KilledBySignal(SIGBUS), "");
  EXPECT_EXIT((guardMappedCopies(), raise(SIGBUS), _exit(0)), ::testing::KilledBySignal(SIGBUS), "");
#endif
}

TEST_F(MappedReadDeathTest, ForeignFaultsReachTheApplicationsEarlierHandler) {
  auto withEarlierHandler = [] {
    struct sigaction a {};
    a.sa_handler = [](int) { _exit(42); };
    sigaction(SIGBUS, &a, nullptr);
    guardMappedCopies();
    touchTruncatedMapping();
  };
  EXPECT_EXIT(withEarlierHandler(), ::testing::ExitedWithCode(42), "");
}

}  // namespace
}  // namespace qxscsi::backends::emulated
