// Disks kept in raw image files: opening, the lock, durability through the system-call seam,
// and the checksummed side file.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>

#include "disk.h"
#include "engine_helpers.h"
#include "file_fakes.h"
#include "qxscsiplatform/errors.h"
#include "side_file.h"
#include "store.h"
#include "target.h"

namespace qxscsi::backends::emulated {
namespace {

using namespace testing;
using namespace QXScsiPlatform;

Bytes rw10(unsigned char op, uint32_t lba, uint16_t blocks, unsigned char flags = 0) {
  Bytes c = {
      op, flags, 0, 0, 0, 0, 0, static_cast<unsigned char>(blocks >> 8), static_cast<unsigned char>(blocks),
      0};
  c[2] = static_cast<unsigned char>(lba >> 24), c[3] = static_cast<unsigned char>(lba >> 16);
  c[4] = static_cast<unsigned char>(lba >> 8), c[5] = static_cast<unsigned char>(lba);
  return c;
}

// Opens `name` through a target of a fresh store; the error value and message when it fails.
struct Opening {
  bool ok;
  long error;
  std::string message;
};
Opening openTarget(const std::string& name) {
  auto store = std::make_shared<DeviceStore>();
  EmulatedTarget t(store);
  Opening o{t.access(name.c_str(), 0), t.implementationError(), {}};
  t.implementationErrorMsg(o.message);
  return o;
}

TEST(FileDiskTest, OpeningChecksTheImageAgainstTheName) {
  TempDir dir;
  writeFile(dir.file("ten"), Bytes(10 * 512, 0));
  writeFile(dir.file("odd"), Bytes(10 * 512 + 7, 0));
  struct Case {
    std::string name;
    long error;           // 0: opens
    std::string message;  // part of the message
  } cases[] = {
      {"emulated:disk?file=" + dir.file("ten"), 0, ""},
      {"emulated:disk?file=" + dir.file("ten") + "&capacity=10", 0, ""},
      {"emulated:disk?file=" + dir.file("ten") + "&capacity=11", invalidRequest_c, "holds 10 blocks"},
      {"emulated:disk?file=" + dir.file("ten") + "&block=4096", invalidRequest_c,
       "whole number of 4096-byte"},
      {"emulated:disk?file=" + dir.file("odd"), invalidRequest_c, "5127 bytes is not a whole number"},
      {"emulated:disk?file=" + dir.file("no/such/dir"), deviceNotFound_c, "cannot open"},
      {"emulated:disk?file=" + dir.file(""), ioError_c, "cannot open"},  // a directory
      {"emulated:disk?file=" + dir.file("ten") + "&luns=2", invalidRequest_c, "one logical unit"},
      {"emulated:disk?file=", invalidRequest_c, "needs the path"},
  };
  for (const Case& c : cases) {
    Opening o = openTarget(c.name);
    EXPECT_EQ(o.ok, c.error == 0) << c.name;
    EXPECT_EQ(o.error, c.error) << c.name;
    EXPECT_NE(o.message.find(c.message), std::string::npos) << c.name << ": " << o.message;
  }
  EXPECT_EQ(readFile(dir.file("ten")).size(), 10u * 512);  // nothing opened changed the files
  EXPECT_EQ(readFile(dir.file("odd")).size(), 10u * 512 + 7);
}

TEST(FileDiskTest, AMissingOrEmptyFileIsMadeAtTheCapacityAsked) {
  TempDir dir;
  writeFile(dir.file("empty"), {});
  for (const char* name : {"new", "empty"}) {
    std::unique_ptr<Device> d = makeDevice("emulated:disk?capacity=33&block=4096&file=" + dir.file(name));
    ASSERT_TRUE(d) << name;
    EXPECT_EQ(static_cast<Disk&>(*d).capacity(), 33u);
    Bytes b;
    CommandResult r = in(*d, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, b, 8);
    EXPECT_EQ(b, (Bytes{0, 0, 0, 32, 0, 0, 0x10, 0}));
    EXPECT_EQ(readFile(dir.file(name)), Bytes(33 * 4096, 0));
  }
  // Without capacity= an existing file gives it, whatever the default.
  std::unique_ptr<Device> d = makeDevice("emulated:disk?block=4096&file=" + dir.file("new"));
  ASSERT_TRUE(d);
  EXPECT_EQ(static_cast<Disk&>(*d).capacity(), 33u);
  EXPECT_EQ(static_cast<Disk&>(*d).statePath(), dir.file("new") + ".state");
  EXPECT_EQ(static_cast<Disk&>(*makeDevice("emulated:disk")).statePath(), "");
}

TEST(FileDiskTest, AnImageOfMoreThan2To32BlocksAnswersReadCapacity10WithAllOnes) {
  TempDir dir;
  struct Case {
    uint64_t blocks;
    Bytes ten;  // READ CAPACITY(10) data
  } cases[] = {
      {0xffffffffull, {0xff, 0xff, 0xff, 0xfe, 0, 0, 2, 0}},
      {0x100000000ull, {0xff, 0xff, 0xff, 0xff, 0, 0, 2, 0}},
      {0x100000004ull, {0xff, 0xff, 0xff, 0xff, 0, 0, 2, 0}},
  };
  for (const Case& c : cases) {
    const std::string path = dir.file("big" + std::to_string(c.blocks));
    writeFile(path, {});
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(c.blocks * 512)), 0);  // sparse
    std::unique_ptr<Device> d = makeDevice("emulated:disk?file=" + path);
    ASSERT_TRUE(d);
    Bytes b;
    in(*d, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, b, 8);
    EXPECT_EQ(b, c.ten) << std::hex << c.blocks;
    in(*d, {0x9e, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}, b, 32);
    ASSERT_EQ(b.size(), 32u);
    Bytes last(b.begin(), b.begin() + 8), expected(8);
    for (int i = 0; i < 8; ++i) expected[i] = static_cast<unsigned char>((c.blocks - 1) >> (56 - 8 * i));
    EXPECT_EQ(last, expected);
  }
}

TEST(FileDiskTest, BlocksWrittenAreInTheFileAndReadBackAfterReopening) {
  TempDir dir;
  const std::string name = "emulated:disk?capacity=16&file=" + dir.file("img");
  Bytes data(2 * 512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7);
  {
    std::unique_ptr<Device> d = makeDevice(name);
    ASSERT_EQ(out(*d, rw10(0x2A, 5, 2), data).status, 0);
    // A second opening of the file, even in this process, is refused while the first lives.
    EXPECT_FALSE(Device::create(parsedOptions(name)));
  }
  Bytes image = readFile(dir.file("img"));
  ASSERT_EQ(image.size(), 16u * 512);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), image.begin() + 5 * 512));
  EXPECT_EQ(Bytes(image.begin(), image.begin() + 5 * 512), Bytes(5 * 512, 0));
  std::unique_ptr<Device> again = makeDevice(name);
  Bytes b;
  ASSERT_EQ(in(*again, rw10(0x28, 5, 2), b, 1024).status, 0);
  EXPECT_EQ(b, data);
}

TEST(FileDiskTest, AFileLockedElsewhereIsRefusedAsBusyAndFreedWhenTheTargetCloses) {
  TempDir dir;
  const std::string path = dir.file("img");
  writeFile(path, Bytes(8 * 512, 0));
  int other = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  Opening o = openTarget("emulated:disk?file=" + path);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.error, deviceBusy_c);
  EXPECT_NE(o.message.find("in use by another process or device"), std::string::npos) << o.message;
  ::close(other);

  auto store = std::make_shared<DeviceStore>();
  {
    EmulatedTarget t(store), u(store);
    ASSERT_TRUE(t.access(("emulated:disk?file=" + path).c_str(), 0));
    ASSERT_TRUE(u.access(("emulated:disk?file=" + path).c_str(), 0));  // the same device, shared
    EXPECT_EQ(store->size(), 1u);
    other = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);
  }
  EXPECT_EQ(store->size(), 0u);  // the last close let the file go
  other = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  ::close(other);
}

// A file-backed disk of 16 blocks on a file system whose calls the test chooses to fail.
class SeamDiskTest : public ::testing::Test {
 protected:
  TempDir dir;
  FaultyFileSystem fs;
  std::unique_ptr<Device> disk;
  Bytes data = Bytes(512, 0x5A);
  Bytes buffer;

  void SetUp() override {
    const Options options = parsedOptions("emulated:disk?capacity=16&file=" + dir.file("img"));
    OpenFailure failure;
    std::vector<std::unique_ptr<Medium>> media;
    media.push_back(FileMedium::open(fs, dir.file("img"), 512, 16, true, failure));
    ASSERT_TRUE(media[0]) << failure.text;
    disk = std::make_unique<Disk>(options, std::move(media));
    fs.calls.clear();
  }
};

TEST_F(SeamDiskTest, FuaWritesAndSynchronizeCacheSyncBeforeGoodAndPlainWritesDoNot) {
  struct Case {
    const char* what;
    Bytes cdb;
    bool dataOut;
    std::vector<std::string> calls;
  } cases[] = {
      {"WRITE(10)", rw10(0x2A, 1, 1), true, {"pwrite"}},
      {"WRITE(6)", {0x0A, 0, 0, 1, 1, 0}, true, {"pwrite"}},
      {"WRITE(10) FUA", rw10(0x2A, 1, 1, 0x08), true, {"pwrite", "fdatasync"}},
      {"WRITE(16) FUA",
       {0x8A, 0x08, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0},
       true,
       {"pwrite", "fdatasync"}},
      {"WRITE(12) FUA", {0xAA, 0x08, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0}, true, {"pwrite", "fdatasync"}},
      {"READ(10) FUA", rw10(0x28, 1, 1, 0x08), false, {"pread"}},
      {"SYNCHRONIZE CACHE(10)", rw10(0x35, 0, 0), false, {"fdatasync"}},
      {"SYNCHRONIZE CACHE(10) IMMED", rw10(0x35, 0, 0, 0x02), false, {"fdatasync"}},
      {"SYNCHRONIZE CACHE(16)", {0x91, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0}, false, {"fdatasync"}},
      {"SYNCHRONIZE CACHE out of range", rw10(0x35, 16, 0), false, {}},
  };
  for (const Case& c : cases) {
    fs.calls.clear();
    CommandResult r = c.dataOut          ? out(*disk, c.cdb, data)
                      : c.cdb[0] == 0x28 ? in(*disk, c.cdb, buffer, 512)
                                         : none(*disk, c.cdb);
    EXPECT_EQ(r.status, c.calls.empty() ? 2 : 0) << c.what;
    EXPECT_EQ(fs.calls, c.calls) << c.what;
  }
}

TEST_F(SeamDiskTest, FailingCallsAnswerMediumError) {
  struct Case {
    const char* what;
    const char* failing;
    Bytes cdb;
    int kind;  // 0 data out, 1 data in, 2 none, 3 data in to a buffer shorter than the transfer
    Bytes sense;
  } cases[] = {
      {"pwrite fails", "pwrite", rw10(0x2A, 1, 1), 0, sense(0x03, 0x0C, 0x00)},
      {"FUA sync fails", "fdatasync", rw10(0x2A, 1, 1, 0x08), 0, sense(0x03, 0x0C, 0x00)},
      {"SYNCHRONIZE CACHE fails", "fdatasync", rw10(0x35, 0, 0), 2, sense(0x03, 0x0C, 0x00)},
      {"pread fails", "pread", rw10(0x28, 1, 1), 1, sense(0x03, 0x11, 0x00)},
      {"pread fails, short buffer", "pread", rw10(0x28, 1, 1), 3, sense(0x03, 0x11, 0x00)},
      {"VERIFY reads", "pread", {0x2F, 0x02, 0, 0, 0, 1, 0, 0, 1, 0}, 0, sense(0x03, 0x11, 0x00)},
  };
  for (const Case& c : cases) {
    fs.failing = {{c.failing, EIO}};
    CommandResult r = c.kind == 0   ? out(*disk, c.cdb, data)
                      : c.kind == 1 ? in(*disk, c.cdb, buffer, 512)
                      : c.kind == 3 ? in(*disk, c.cdb, buffer, 256)
                                    : none(*disk, c.cdb);
    EXPECT_EQ(r.status, 2) << c.what;
    if (c.kind == 1 || c.kind == 3) {
      EXPECT_EQ(r.transferred, 0u) << c.what;  // nothing counts as sent, even when read in place
    }
    EXPECT_EQ(r.sense, c.sense) << c.what;
  }
  fs.failing.clear();
  EXPECT_EQ(none(*disk, rw10(0x35, 0, 0)).status, 0);  // a later sync that works answers GOOD
}

TEST(FileMediumTest, OpeningFailuresOfTheSeamAreClearErrors) {
  TempDir dir;
  struct Case {
    const char* failing;
    int error;
    long code;
    const char* message;
  } cases[] = {
      {"open", EACCES, accessDenied_c, "cannot open"},
      {"flock", EWOULDBLOCK, deviceBusy_c, "in use by another process or device"},
      {"flock", ENOLCK, ioError_c, "cannot lock"},
      {"size", EIO, ioError_c, "Input/output error"},
      {"truncate", ENOSPC, ioError_c, "cannot size to 8192 bytes"},
  };
  for (const Case& c : cases) {
    FaultyFileSystem fs;
    fs.failing = {{c.failing, c.error}};
    OpenFailure failure;
    EXPECT_FALSE(FileMedium::open(fs, dir.file("img"), 512, 16, false, failure)) << c.failing;
    EXPECT_EQ(failure.code, c.code) << c.failing;
    EXPECT_NE(failure.text.find(c.message), std::string::npos) << failure.text;
    const size_t opened = fs.count("open") - (std::string(c.failing) == "open");
    EXPECT_EQ(opened, fs.count("close")) << c.failing << ": the descriptor is not leaked";
  }
}

TEST(SideFileTest, StoresAndLoadsThePayloadWithItsHeader) {
  TempDir dir;
  SideFile side(dir.file("img.state"));
  Bytes payload;
  std::string error;
  payload = {9};
  EXPECT_TRUE(side.load(&payload, &error));  // absent: empty
  EXPECT_TRUE(payload.empty());
  ASSERT_TRUE(side.store({1, 2, 3}, &error)) << error;
  Bytes file = readFile(dir.file("img.state"));
  // Magic, version 1, length 3, CRC-32 of 01 02 03 (55BC801Dh), the payload.
  EXPECT_EQ(file, (Bytes{'Q', 'X', 'S', 'T', 'A', 'T', 'E',  0,    0,    0,    0, 1, 0, 0,
                         0,   0,   0,   0,   0,   3,   0x55, 0xBC, 0x80, 0x1D, 1, 2, 3}));
  ASSERT_TRUE(side.load(&payload, &error)) << error;
  EXPECT_EQ(payload, (Bytes{1, 2, 3}));
  EXPECT_TRUE(side.store({}, &error));
  EXPECT_TRUE(side.load(&payload, &error));
  EXPECT_TRUE(payload.empty());
  EXPECT_FALSE(std::ifstream(dir.file("img.state.tmp")).good());
}

TEST(SideFileTest, DamagedFilesAreClearErrors) {
  TempDir dir;
  const std::string path = dir.file("s");
  ASSERT_TRUE(SideFile(path).store({1, 2, 3, 4}, nullptr));
  const Bytes good = readFile(path);
  auto with = [&](size_t at, unsigned char v) {
    Bytes b = good;
    b[at] = v;
    return b;
  };
  struct Case {
    Bytes file;
    const char* message;
  } cases[] = {
      {Bytes(good.begin(), good.begin() + 10), "truncated: 10 bytes"},
      {Bytes(good.begin(), good.end() - 1), "promises 4 payload bytes, the file holds 3 (truncated)"},
      {[&] {
         Bytes b = good;
         b.push_back(0);
         return b;
       }(),
       "promises 4 payload bytes, the file holds 5"},
      {with(0, 'q'), "wrong magic"},
      {with(11, 2), "version 2"},
      {with(13, 0xFF), "promises"},
      {with(25, 0xFF), "checksum mismatch"},
      {with(21, 0x00), "checksum mismatch"},
  };
  for (const Case& c : cases) {
    writeFile(path, c.file);
    Bytes payload = {7};
    std::string error;
    EXPECT_FALSE(SideFile(path).load(&payload, &error)) << c.message;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}

TEST(SideFileTest, AFailedStoreLeavesTheOldFile) {
  TempDir dir;
  const std::string path = dir.file("s");
  ASSERT_TRUE(SideFile(path).store({1}, nullptr));
  for (const char* failing : {"open", "pwrite", "fsync", "rename"}) {
    FaultyFileSystem fs;
    fs.failing = {{failing, ENOSPC}};
    std::string error;
    EXPECT_FALSE(SideFile(path, fs, SideFile::diskMagic_c).store({2, 2}, &error)) << failing;
    EXPECT_NE(error.find("No space left"), std::string::npos) << error;
    Bytes payload;
    EXPECT_TRUE(SideFile(path).load(&payload, &error));
    EXPECT_EQ(payload, Bytes{1}) << failing;
    EXPECT_FALSE(std::ifstream(path + ".tmp").good()) << failing;
  }
  FaultyFileSystem fs;
  ASSERT_TRUE(SideFile(path, fs, SideFile::diskMagic_c).store({2, 2}, nullptr));
  // The order that makes the replacement atomic and durable.
  EXPECT_EQ(fs.calls, (std::vector<std::string>{"open", "pwrite", "fsync", "close", "rename", "open", "fsync",
                                                "close"}));
}

}  // namespace
}  // namespace qxscsi::backends::emulated
