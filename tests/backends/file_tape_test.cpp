// Tapes and changers kept in files: the tape file's bytes, what survives reopening, and damaged
// or mismatching files refused at opening.
#include <fstream>

#include "changer.h"
#include "engine_helpers.h"
#include "file_fakes.h"
#include "qxscsiplatform/errors.h"
#include "store.h"
#include "tape.h"
#include "target.h"

namespace qxscsi::backends::emulated {
namespace {

using namespace testing;
using QXScsiPlatform::deviceBusy_c;
using QXScsiPlatform::invalidRequest_c;

std::string openError(const std::string& name, long* code = nullptr) {
  auto store = std::make_shared<DeviceStore>();
  EmulatedTarget t(store);
  if (t.access(name.c_str(), 0)) return "";
  if (code) *code = t.implementationError();
  std::string m;
  t.implementationErrorMsg(m);
  return m;
}

// A tape holding a record "AB" and a filemark: header, two entries and the end entry.
const Bytes tapeFile_c = {'Q', 'X', 'T', 'A', 'P', 'E',  0,    0,    0,    0,   0,   1,  // header
                          0,   0,   0,   2,   0,   0x46, 0xD5, 0x49, 0x0D, 'A', 'B',     // data record
                          0,   0,   0,   0,   1,   0xB1, 0x25, 0xC7, 0x8B,               // filemark
                          0,   0,   0,   0,   2,   0x28, 0x2C, 0x96, 0x31};              // end of data

TEST(FileTapeTest, RecordsAndFilemarksAreWrittenInTheDocumentedLayout) {
  TempDir dir;
  const std::string name = "emulated:tape?file=" + dir.file("t");
  {
    std::unique_ptr<Device> tape = makeDevice(name);
    ASSERT_TRUE(tape);
    Bytes empty(tapeFile_c.begin(), tapeFile_c.begin() + 12);
    empty.insert(empty.end(), tapeFile_c.end() - 9, tapeFile_c.end());
    EXPECT_EQ(readFile(dir.file("t")), empty);  // a new, empty tape
    Bytes ab = {'A', 'B'};
    ASSERT_EQ(out(*tape, cdb6(0x0A, 0, 2), ab).status, 0);
    ASSERT_EQ(none(*tape, cdb6(0x10, 0, 1)).status, 0);
  }
  EXPECT_EQ(readFile(dir.file("t")), tapeFile_c);
  std::unique_ptr<Device> again = makeDevice(name);
  Bytes b;
  CommandResult r = in(*again, cdb6(0x08, 0, 2), b, 2);  // reopened at the beginning
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(b, (Bytes{'A', 'B'}));
  r = in(*again, cdb6(0x08, 0, 2), b, 2);
  EXPECT_EQ(r.sense[2], 0x80);  // FILEMARK
  r = in(*again, cdb6(0x08, 0, 2), b, 2);
  EXPECT_EQ(r.sense[2] & 0x0F, 0x08);  // BLANK CHECK: end of data
  // Writing after the rewound first record ends the data there, in the file too.
  ASSERT_EQ(none(*again, cdb6(0x01, 0, 0)).status, 0);
  ASSERT_EQ(none(*again, cdb6(0x10, 0, 1)).status, 0);
  Bytes expected(tapeFile_c.begin(), tapeFile_c.begin() + 12);
  expected.insert(expected.end(), tapeFile_c.begin() + 23, tapeFile_c.end());
  EXPECT_EQ(readFile(dir.file("t")), expected);
}

TEST(FileTapeTest, DamagedTapeFilesAreRefusedAtOpening) {
  TempDir dir;
  const std::string path = dir.file("t");
  auto with = [](size_t at, unsigned char v) {
    Bytes b = tapeFile_c;
    b[at] = v;
    return b;
  };
  struct Case {
    Bytes file;
    const char* message;
  } cases[] = {
      {Bytes(tapeFile_c.begin(), tapeFile_c.begin() + 5), "shorter than its 12-byte header"},
      {with(2, 'x'), "wrong magic"},
      {with(11, 9), "version 9"},
      {Bytes(tapeFile_c.begin(), tapeFile_c.end() - 9), "no end-of-data entry at byte 32"},
      {Bytes(tapeFile_c.begin(), tapeFile_c.begin() + 22), "a record of 2 bytes at byte 12"},
      {with(22, 'C'), "checksum mismatch: the entry at byte 12"},
      {with(16, 1), "a filemark or end entry with a length of 2 at byte 12"},
      {with(16, 7), "unknown entry kind 7 at byte 12"},
      {with(15, 0xFF), "truncated: a record of 255 bytes"},
  };
  for (const Case& c : cases) {
    writeFile(path, c.file);
    long code = 0;
    const std::string error = openError("emulated:tape?file=" + path, &code);
    EXPECT_EQ(code, invalidRequest_c) << c.message;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
  Bytes tail = tapeFile_c;
  tail.insert(tail.end(), {1, 2, 3});  // left over from a longer tape
  writeFile(path, tail);
  EXPECT_EQ(openError("emulated:tape?file=" + path), "");
}

TEST(FileTapeTest, WritesGoToTheFileAndFilemarksAndRewindSyncIt) {
  TempDir dir;
  FaultyFileSystem fs;
  std::vector<TapeObject> objects;
  OpenFailure failure;
  std::unique_ptr<TapeFile> file = TapeFile::open(fs, dir.file("t"), objects, failure);
  ASSERT_TRUE(file) << failure.text;
  const Options options = parsedOptions("emulated:tape?file=" + dir.file("t"));
  Tape tape(options, std::move(file), objects);
  Bytes ab = {'A', 'B'};
  struct Step {
    const char* what;
    Bytes cdb;
    std::vector<std::string> calls;
  } steps[] = {
      {"WRITE", cdb6(0x0A, 0, 2), {"pwrite", "truncate"}},
      {"WRITE FILEMARKS", cdb6(0x10, 0, 1), {"pwrite", "truncate", "fdatasync"}},
      {"WRITE FILEMARKS 0", cdb6(0x10, 0, 0), {"pwrite", "truncate", "fdatasync"}},
      {"REWIND", cdb6(0x01, 0, 0), {"pwrite", "truncate", "fdatasync"}},
  };
  for (const Step& s : steps) {
    fs.calls.clear();
    CommandResult r = s.cdb[0] == 0x0A ? out(tape, s.cdb, ab) : none(tape, s.cdb);
    EXPECT_EQ(r.status, 0) << s.what;
    EXPECT_EQ(fs.calls, s.calls) << s.what;
  }
  for (const char* failing : {"pwrite", "truncate", "fdatasync"}) {
    fs.failing = {{failing, EIO}};
    CommandResult r = none(tape, cdb6(0x10, 0, 1));
    EXPECT_EQ(r.sense, sense(0x03, 0x0C, 0x00)) << failing;
  }
}

TEST(FileChangerTest, MovesSurviveReopeningAndMismatchingFilesAreRefused) {
  TempDir dir;
  const std::string path = dir.file("c");
  const std::string name = "emulated:changer?slots=3&file=" + path;
  const Bytes move = {0xA5, 0, 0, 0, 0x10, 0x01, 0x01, 0x00, 0, 0, 0, 0};  // slot 2 to the drive
  {
    std::unique_ptr<Device> changer = makeDevice(name);
    ASSERT_TRUE(changer);
    ASSERT_EQ(none(*changer, move).status, 0);
    EXPECT_NE(openError(name).find("is in use by another process or device"), std::string::npos);
  }
  {
    std::unique_ptr<Device> changer = makeDevice(name);
    ASSERT_TRUE(changer);
    // The drive is full now: the same move finds slot 2 empty.
    EXPECT_EQ(none(*changer, move).sense, sense(0x05, 0x3B, 0x0E));
    Bytes b;
    ASSERT_EQ(in(*changer, {0xB8, 0x14, 0x01, 0x00, 0, 1, 0, 0, 0, 255, 0, 0}, b, 255).status, 0);
    EXPECT_EQ(b[16 + 2] & 0x01, 0x01);  // the drive is full
    EXPECT_EQ(Bytes(b.begin() + 16 + 12, b.begin() + 16 + 20),
              (Bytes{'Q', 'X', '0', '0', '0', '0', '0', '2'}));
    EXPECT_EQ(b[16 + 9], 0x80);  // SVALID, from slot 1001h
    EXPECT_EQ(Bytes(b.begin() + 16 + 10, b.begin() + 16 + 12), (Bytes{0x10, 0x01}));
  }
  long code = 0;
  std::string error = openError("emulated:changer?slots=4&file=" + path, &code);
  EXPECT_EQ(code, invalidRequest_c);
  EXPECT_NE(error.find("holds 5 elements, the name asks for 6"), std::string::npos) << error;
  Bytes damaged = readFile(path);
  damaged.back() ^= 1;
  writeFile(path, damaged);
  EXPECT_NE(openError(name).find("checksum mismatch"), std::string::npos);
}

TEST(FileChangerTest, AMoveThatCannotBeRecordedDoesNotHappen) {
  TempDir dir;
  FaultyFileSystem fs;
  const Options options = parsedOptions("emulated:changer?slots=2&file=" + dir.file("c"));
  OpenFailure failure;
  std::unique_ptr<Changer> changer = Changer::open(options, fs, dir.file("c"), failure);
  ASSERT_TRUE(changer) << failure.text;
  const Bytes move = {0xA5, 0, 0, 0, 0x10, 0x00, 0x01, 0x00, 0, 0, 0, 0};
  fs.failing = {{"rename", EIO}};
  EXPECT_EQ(none(*changer, move).sense, sense(0x04, 0x44, 0x00));
  fs.failing.clear();
  EXPECT_EQ(none(*changer, move).status, 0);  // slot 1 was still full
  fs.failing = {{"flock", EWOULDBLOCK}};
  EXPECT_FALSE(Changer::open(options, fs, dir.file("c"), failure));
  EXPECT_EQ(failure.code, deviceBusy_c);
}

}  // namespace
}  // namespace qxscsi::backends::emulated
