// copy: its CDBs byte for byte, its loop against ends that fail or read back wrong, and the built
// program moving blocks between files and file-backed emulated disks.
#include <gtest/gtest.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "cli/copy.h"
#include "tool_run.h"

namespace {

using namespace qxscsi::cli;
using qxscsi::test::runTool;

using Bytes = std::vector<unsigned char>;

TEST(CopyCdb, ReadAndWriteChooseTheirFormByAddressAndCount) {
  struct Case {
    bool write;
    uint64_t lba;
    uint32_t blocks;
    bool fua;
    Bytes cdb;
  };
  const Case cases[] = {
      {false, 0, 128, false, {0x28, 0, 0, 0, 0, 0, 0, 0x00, 0x80, 0}},
      {true, 0x01020304, 1, true, {0x2a, 0x08, 1, 2, 3, 4, 0, 0, 1, 0}},
      {false, 0xffffffffu, 0xffff, false, {0x28, 0, 0xff, 0xff, 0xff, 0xff, 0, 0xff, 0xff, 0}},
      {false, 0x100000000u, 1, false, {0x88, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}},
      {true, 0x100000000u, 2, true, {0x8a, 0x08, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0}},
      {true, 5, 0x10000, false, {0x8a, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 1, 0, 0, 0, 0}},
      {false, 0x0102030405060708u, 0x0a0b0c0d, false,
       {0x88, 0, 1, 2, 3, 4, 5, 6, 7, 8, 0x0a, 0x0b, 0x0c, 0x0d, 0, 0}},
  };
  for (const Case& c : cases) {
    unsigned char cdb[16];
    std::memset(cdb, 0xee, sizeof cdb);
    const unsigned char n = readWriteCdb(c.write, c.lba, c.blocks, c.fua, cdb);
    EXPECT_EQ(Bytes(cdb, cdb + n), c.cdb) << std::hex << c.lba << " " << c.blocks;
  }
}

TEST(CopyNames, FilesAndDevicesAreToldApart) {
  struct Case {
    const char* name;
    bool taken;  // a back-end takes the name
    bool file;
    const char* path;
  };
  const Case cases[] = {{"emulated:disk", true, false, ""},      {"/dev/sg3", true, false, ""},
                        {"/dev/null", true, true, "/dev/null"},  {"file:/dev/zero", true, true, "/dev/zero"},
                        {"file:emulated:disk", true, true, "emulated:disk"},
                        {"out.img", false, true, "out.img"},     {"file:", false, true, ""}};
  for (const Case& c : cases) {
    std::string path = "untouched";
    EXPECT_EQ(copyEndIsFile(c.name, c.taken, path), c.file) << c.name;
    if (c.file) {
      EXPECT_EQ(path, c.path) << c.name;
    }
  }
}

TEST(CopyArgumentsParse, NumbersOutsideTheirRangeAreRefused) {
  struct Case {
    const char* option;
    std::string CopyArguments::*field;
    const char* text;
  };
  const Case bad[] = {{"--bs", &CopyArguments::blocksPerTransfer, "0"},
                      {"--bs", &CopyArguments::blocksPerTransfer, "1048577"},
                      {"--count", &CopyArguments::count, "-1"},
                      {"--skip", &CopyArguments::skip, "1x"},
                      {"--seek", &CopyArguments::seek, "18446744073709551616"}};
  for (const Case& b : bad) {
    CopyArguments a;
    a.input = "in";
    a.output = "out";
    a.*b.field = b.text;
    CopyOptions o;
    std::string error;
    EXPECT_FALSE(parseCopyArguments(a, o, error)) << b.option << " " << b.text;
    EXPECT_NE(error.find(b.option), std::string::npos) << error;
  }
  CopyArguments a;
  a.input = "in";
  a.output = "out";
  a.count = "0x10";
  a.blocksPerTransfer = "1048576";
  CopyOptions o;
  std::string error;
  ASSERT_TRUE(parseCopyArguments(a, o, error)) << error;
  EXPECT_TRUE(o.countGiven);
  EXPECT_EQ(o.count, 16u);
  EXPECT_EQ(o.blocksPerTransfer, 1048576u);
  a.output.clear();
  EXPECT_FALSE(parseCopyArguments(a, o, error));
}

// An end in memory that records its calls; it fails a chosen read or write, or hands back a
// chosen byte changed when read a second time (as a medium that did not keep it).
struct MemoryEnd : CopyEnd {
  Bytes blocks;
  uint32_t length;
  std::vector<std::pair<uint64_t, uint32_t>> reads, writes;
  int failRead = -1, failWrite = -1;  // the call number that fails
  long corruptByte = -1;              // changed on read-back of a written range
  MemoryEnd(uint64_t count, uint32_t blockLength) : blocks(count * blockLength), length(blockLength) {}
  int read(uint64_t lba, uint32_t n, unsigned char* buffer) override {
    if (int(reads.size()) == failRead) return 42;
    reads.emplace_back(lba, n);
    std::memcpy(buffer, &blocks[lba * length], size_t(n) * length);
    const long first = long(lba * length), end = first + long(n * length);
    if (corruptByte >= first && corruptByte < end && !writes.empty()) buffer[corruptByte - first] ^= 0x01;
    return exitOk;
  }
  int write(uint64_t lba, uint32_t n, const unsigned char* buffer) override {
    if (int(writes.size()) == failWrite) return 24;
    writes.emplace_back(lba, n);
    std::memcpy(&blocks[lba * length], buffer, size_t(n) * length);
    return exitOk;
  }
};

Output& quietOutput() {
  static Options options = [] {
    Options o;
    o.json = true;
    return o;
  }();
  static Output out(options);
  return out;
}

TEST(CopyLoop, TransfersAreSplitAndPlacedAtSkipAndSeek) {
  MemoryEnd in(20, 4), out(30, 4);
  for (size_t i = 0; i < in.blocks.size(); ++i) in.blocks[i] = static_cast<unsigned char>(i + 1);
  Bytes buffer(3 * 4);
  CopyTally tally;
  std::vector<uint64_t> progress;
  ASSERT_EQ(copyBlocks(in, 10, out, 2, 7, 4, 3, buffer.data(), nullptr, quietOutput(), tally,
                       [&](uint64_t done) { progress.push_back(done); }),
            exitOk);
  using Calls = std::vector<std::pair<uint64_t, uint32_t>>;
  EXPECT_EQ(in.reads, (Calls{{10, 3}, {13, 3}, {16, 1}}));
  EXPECT_EQ(out.writes, (Calls{{2, 3}, {5, 3}, {8, 1}}));
  EXPECT_EQ(progress, (std::vector<uint64_t>{3, 6, 7}));
  EXPECT_EQ(tally.blocks, 7u);
  EXPECT_FALSE(tally.failed);
  EXPECT_EQ(Bytes(out.blocks.begin() + 8, out.blocks.begin() + 36), Bytes(in.blocks.begin() + 40, in.blocks.begin() + 68));
  EXPECT_EQ(out.blocks[7], 0);
  EXPECT_EQ(out.blocks[36], 0);
}

TEST(CopyLoop, AFailureStopsTheCopyWhereItHappened) {
  struct Case {
    int failRead, failWrite;
    int status;
    uint64_t copied;
    size_t writes;
  };
  const Case cases[] = {{0, -1, 42, 0, 0}, {2, -1, 42, 4, 2}, {-1, 0, 24, 0, 0}, {-1, 1, 24, 2, 1}};
  for (const Case& c : cases) {
    MemoryEnd in(10, 2), out(10, 2);
    in.failRead = c.failRead;
    out.failWrite = c.failWrite;
    Bytes buffer(2 * 2);
    CopyTally tally;
    EXPECT_EQ(copyBlocks(in, 0, out, 0, 10, 2, 2, buffer.data(), nullptr, quietOutput(), tally), c.status);
    EXPECT_TRUE(tally.failed);
    EXPECT_EQ(tally.blocks, c.copied) << c.failRead << " " << c.failWrite;
    EXPECT_EQ(tally.failedBlock, c.copied);
    EXPECT_EQ(out.writes.size(), c.writes);
  }
}

TEST(CopyLoop, VerifyNamesTheFirstBlockThatReadsBackDifferent) {
  // Byte 1 of block 5 (blocks of 4 bytes: byte 21) changes on the read-back.
  MemoryEnd in(8, 4), out(8, 4);
  for (size_t i = 0; i < in.blocks.size(); ++i) in.blocks[i] = static_cast<unsigned char>(0x40 + i);
  out.corruptByte = 21;
  Bytes buffer(3 * 4), check(3 * 4);
  CopyTally tally;
  Options options;
  options.json = true;
  Output report(options);
  EXPECT_EQ(copyBlocks(in, 0, out, 0, 8, 4, 3, buffer.data(), check.data(), report, tally), exitMiscompare);
  EXPECT_TRUE(tally.failed);
  EXPECT_EQ(tally.failedBlock, 5u);
  EXPECT_EQ(tally.blocks, 3u);  // the first transfer read back the same
  const std::string message = report.doc()["error"]["message"];
  EXPECT_NE(message.find("block 5 of the copy (output LBA 5, input LBA 5)"), std::string::npos) << message;
  EXPECT_NE(message.find("at byte 1"), std::string::npos) << message;
}

TEST(CopyProgress, BarShareAndRate) {
  const std::pair<std::vector<uint64_t>, std::string> cases[] = {
      {{0, 0, 10}, "[##########] 100% 0.0 of 0.0 MiB, 0.0 MiB/s"},
      {{0, 1 << 20, 10}, "[..........]   0% 0.0 of 1.0 MiB, 0.0 MiB/s"},
      {{1 << 19, 1 << 20, 10}, "[#####.....]  50% 0.5 of 1.0 MiB, 0.5 MiB/s"},
      {{1 << 20, 1 << 20, 4}, "[####] 100% 1.0 of 1.0 MiB, 1.0 MiB/s"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(progressLine(c.first[0], c.first[1], 1.0, static_cast<unsigned>(c.first[2])), c.second);
}

// A private directory with files in it, removed with them at the end.
struct Scratch {
  std::string dir;
  Scratch() {
    char tmpl[] = "/tmp/qxscsi-copy-test.XXXXXX";
    if (mkdtemp(tmpl)) dir = tmpl;
  }
  ~Scratch() {
    if (!dir.empty()) {
      EXPECT_EQ(system(("/bin/rm -rf '" + dir + "'").c_str()), 0);
    }
  }
  std::string path(const std::string& name) const { return dir + "/" + name; }
  // A file of `size` bytes: a pattern unique to each 512-byte block, or sparse zeros.
  std::string make(const std::string& name, uint64_t size, bool pattern = true) const {
    const std::string p = path(name);
    if (pattern) {
      std::ofstream f(p, std::ios::binary);
      for (uint64_t i = 0; i < size; ++i) f.put(static_cast<char>((i / 512 * 7 + i) & 0xff));
    } else {
      { std::ofstream create(p); }
      EXPECT_EQ(truncate(p.c_str(), static_cast<off_t>(size)), 0);
    }
    return p;
  }
};

Bytes contents(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string disk(const std::string& image) { return "'emulated:disk?file=" + image + "'"; }

TEST(CopyTool, FileToDiskToFileRoundTrip) {
  Scratch s;
  const std::string in = s.make("in.bin", 300 * 512), image = s.make("disk.img", 2048 * 512, false);
  auto r = runTool("copy --if " + in + " --of " + disk(image), true);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("copied: 300 blocks of 512 bytes (153600 bytes)"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find('\r'), std::string::npos) << "no progress bar when stderr is not a terminal";
  r = runTool("copy --if " + disk(image) + " --of " + s.path("out.bin") + " --count 300 --bs 7", true);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(contents(s.path("out.bin")), contents(in));
  // A disk to a disk, and the output file cut at --seek (an old, longer file loses its tail).
  const std::string second = s.make("second.img", 2048 * 512, false);
  ASSERT_EQ(runTool("copy --if " + disk(image) + " --of " + disk(second) + " --count 300 --verify", true).status, 0);
  s.make("out.bin", 4096 * 512);
  ASSERT_EQ(runTool("copy --if " + disk(second) + " --of " + s.path("out.bin") + " --count 300", true).status, 0);
  EXPECT_EQ(contents(s.path("out.bin")), contents(in));
}

TEST(CopyTool, SkipSeekAndCountPlaceTheBlocks) {
  Scratch s;
  const std::string in = s.make("in.bin", 64 * 512), image = s.make("disk.img", 2048 * 512, false);
  ASSERT_EQ(runTool("copy --if " + in + " --of " + disk(image) + " --skip 3 --seek 0x10 --count 7 --bs 4", true).status,
            0);
  const Bytes source = contents(in), medium = contents(image);
  ASSERT_EQ(medium.size(), 2048u * 512);
  EXPECT_EQ(Bytes(medium.begin() + 16 * 512, medium.begin() + 23 * 512),
            Bytes(source.begin() + 3 * 512, source.begin() + 10 * 512));
  EXPECT_EQ(Bytes(medium.begin() + 15 * 512, medium.begin() + 16 * 512), Bytes(512, 0));
  EXPECT_EQ(Bytes(medium.begin() + 23 * 512, medium.begin() + 24 * 512), Bytes(512, 0));
  // From the disk to a new file at --seek 2: two zero blocks, then the seven.
  ASSERT_EQ(runTool("copy --if " + disk(image) + " --of " + s.path("out.bin") + " --skip 16 --seek 2 --count 7", true)
                .status,
            0);
  const Bytes out = contents(s.path("out.bin"));
  ASSERT_EQ(out.size(), 9u * 512);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 1024), Bytes(1024, 0));
  EXPECT_EQ(Bytes(out.begin() + 1024, out.end()), Bytes(source.begin() + 3 * 512, source.begin() + 10 * 512));
}

TEST(CopyTool, TheEndsOfTheMedium) {
  Scratch s;
  const std::string image = s.make("disk.img", 2048 * 512), in = s.make("in.bin", 1000 * 512 + 100);
  struct Case {
    std::string args;
    int status;
    std::string says;
  };
  const Case cases[] = {
      {"--if " + disk(image) + " --of " + s.path("a") + " --skip 2040 --count 5000", 0,
       "stopping at the end of 'emulated:disk?file=" + image + "' (2048 blocks) after 8 blocks"},
      {"--if " + disk(image) + " --of " + s.path("a") + " --skip 2048", 0, "copied: 0 blocks"},
      {"--if " + disk(image) + " --of " + s.path("a") + " --skip 2049", 1, "--skip 2049 is past the end"},
      {"--if " + in + " --of " + disk(image) + " --seek 2040", 0, "after 8 blocks"},
      {"--if " + in + " --of " + disk(image) + " --seek 2049", 1, "--seek 2049 is past the end"},
      // The last partial block of a file goes out padded with zeros.
      {"--if " + in + " --of " + disk(image), 0, "copied: 1001 blocks"},
      {"--if " + in + " --of " + s.path("b"), 31, "both files"},
      {"--of " + s.path("b"), 1, "both --if and --of"},
      {"--if " + disk(image) + " --of " + s.path("a") + " --bs 131073", 1, "more than 64 MiB"},
      {"--if " + s.path("missing") + " --of " + disk(image), 52, "cannot open"},
  };
  for (const Case& c : cases) {
    auto r = runTool("copy " + c.args, true);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << "\n" << r.out;
  }
  const Bytes medium = contents(image), source = contents(in);
  EXPECT_EQ(Bytes(medium.begin() + 1000 * 512, medium.begin() + 1000 * 512 + 100),
            Bytes(source.begin() + 1000 * 512, source.end()));
  EXPECT_EQ(Bytes(medium.begin() + 1000 * 512 + 100, medium.begin() + 1001 * 512), Bytes(412, 0));
}

TEST(CopyTool, AddressesAbove32BitsSwitchToSixteenByteCommands) {
  Scratch s;
  // 2^32 + 4 blocks of 512 bytes, sparse: the disk takes the size of the file.
  const std::string image = s.make("big.img", ((1ull << 32) + 4) * 512, false);
  const std::string in = s.make("in.bin", 6 * 512);
  auto r = runTool("-v copy --if " + in + " --of " + disk(image) + " --seek 0xfffffffe --bs 2", true);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("cdb: 2a 00 ff ff ff fe 00 00 02 00\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("cdb: 8a 00 00 00 00 01 00 00 00 00 00 00 00 02 00 00\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("cdb: 8a 00 00 00 00 01 00 00 00 02 00 00 00 02 00 00\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("cdb: 9e 10"), std::string::npos) << "READ CAPACITY(10) cannot tell the end: " << r.out;
  r = runTool("copy --if " + disk(image) + " --of " + s.path("out.bin") + " --skip 0xfffffffe", true);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(contents(s.path("out.bin")), contents(in));
}

TEST(CopyTool, VerifyMismatchExits14AndNamesTheBlock) {
  Scratch s;
  const std::string image = s.make("disk.img", 2048 * 512, false), in = s.make("in.bin", 8 * 512);
  ASSERT_EQ(runTool("copy --if " + in + " --of " + disk(image) + " --seek 4", true).status, 0);
  // /dev/zero takes every write and reads back zeros: blocks 0 to 3 of the copy agree, block 4 not.
  auto r = runTool("copy --if " + disk(image) + " --of file:/dev/zero --count 12 --bs 3 --verify", true);
  EXPECT_EQ(r.status, 14) << r.out;
  EXPECT_NE(r.out.find("verify: block 4 of the copy (output LBA 4, input LBA 4)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("copied before the failure: 3 blocks"), std::string::npos) << r.out;
  r = runTool("--json copy --if " + disk(image) + " --of file:/dev/zero --count 12 --verify", false);
  EXPECT_EQ(r.status, 14);
  const nlohmann::json d = nlohmann::json::parse(r.out);
  EXPECT_EQ(d["failed_logical_block_address"], 4);
  EXPECT_EQ(d["error"]["exit_status"], 14);
}

TEST(CopyTool, AWriteTheDeviceRefusesNamesItsLba) {
  Scratch s;
  const std::string image = s.make("disk.img", 2048 * 512, false), in = s.make("in.bin", 8 * 512);
  // Another initiator holds a write-exclusive reservation kept in the image's state.
  const std::string other = "'emulated:disk?file=" + image + "&initiator=other'";
  ASSERT_EQ(runTool("persist --out --register-ignore --param-sark 0x7 --param-aptpl " + other, true).status, 0);
  ASSERT_EQ(runTool("persist --out --reserve --param-rk 0x7 --prout-type 1 " + other, true).status, 0);
  auto r = runTool("copy --if " + in + " --of " + disk(image) + " --seek 100", true);
  EXPECT_EQ(r.status, 24) << r.out;
  EXPECT_NE(r.out.find("WRITE(10) of 8 blocks at LBA 100 of 'emulated:disk?file=" + image + "' failed"),
            std::string::npos)
      << r.out;
  // -t bounds each command; without it each goes with the library's 10 s.
  for (const auto& t : {std::make_pair("", 10), std::make_pair("-t 7 ", 7)}) {
    r = runTool(std::string("--json ") + t.first + "copy --if " + in + " --of " + disk(image) + " --seek 100", false);
    const nlohmann::json d = nlohmann::json::parse(r.out);
    EXPECT_EQ(d["exit_status"], 24);
    EXPECT_EQ(d["command"]["cdb_hex"], "2a000000006400000800");
    EXPECT_EQ(d["command"]["timeout_seconds"], t.second);
    EXPECT_EQ(d["blocks_copied"], 0);
    EXPECT_EQ(d["failed_logical_block_address"], 0);  // the input's LBA
  }
  // Reading is still allowed under that reservation.
  EXPECT_EQ(runTool("copy --if " + disk(image) + " --of " + s.path("out.bin") + " --count 8", true).status, 0);
}

TEST(CopyTool, JsonSummary) {
  Scratch s;
  const std::string image = s.make("disk.img", 2048 * 512, false), in = s.make("in.bin", 20 * 512);
  auto r = runTool("--json copy --if " + in + " --of " + disk(image) + " --seek 2040 --fua", false);
  ASSERT_EQ(r.status, 0) << r.out;
  const nlohmann::json d = nlohmann::json::parse(r.out);
  EXPECT_EQ(d["subcommand"], "copy");
  EXPECT_FALSE(d.contains("device"));
  EXPECT_EQ(d["input"]["name"], in);
  EXPECT_TRUE(d["input"]["file"]);
  EXPECT_FALSE(d["output"]["file"]);
  EXPECT_EQ(d["output"]["logical_block_address_hex"], "0x7f8");
  EXPECT_EQ(d["output"]["logical_block_count"], 2048);
  EXPECT_EQ(d["blocks_copied"], 8);
  EXPECT_EQ(d["bytes_copied"], 4096);
  EXPECT_EQ(d["bytes_copied_hex"], "0x1000");
  EXPECT_TRUE(d["stopped_at_end_of_medium"]);
  EXPECT_TRUE(d["force_unit_access"]);
  EXPECT_GE(d["seconds"].get<double>(), 0.0);
}

TEST(CopyTool, AProgressBarOnlyOnATerminal) {
  Scratch s;
  const std::string image = s.make("disk.img", 2048 * 512, false);
  int fd = -1;
  const pid_t pid = forkpty(&fd, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const std::string of = s.path("out.bin"), in = "emulated:disk?file=" + image;
    execl(QXSCSI_TOOL_PATH, "qxscsi", "copy", "--if", in.c_str(), "--of", of.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string seen;
  char buf[512];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) seen.append(buf, static_cast<size_t>(n));
  close(fd);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_EQ(WEXITSTATUS(status), 0) << seen;
  EXPECT_NE(seen.find("\r[##############################] 100% 1.0 of 1.0 MiB"), std::string::npos) << seen;
}

}  // namespace
