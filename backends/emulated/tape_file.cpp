// Reading and writing tape files.
#include "tape_file.h"

#include <errno.h>

#include <cstring>

#include "crc32.h"
#include "medium.h"
#include "qxscsiplatform/errors.h"
#include "wire/bytes.h"

namespace qxscsi::backends::emulated {

using namespace wire;
using namespace QXScsiPlatform;

namespace {

const unsigned char magic_c[8] = {'Q', 'X', 'T', 'A', 'P', 'E', 0, 0};
constexpr uint32_t version_c = 1;
constexpr unsigned char data_c = 0, fileMark_c = 1, end_c = 2;

void appendEntry(std::vector<unsigned char>& out, unsigned char kind,
                 const std::vector<unsigned char>& bytes) {
  const size_t at = out.size();
  out.resize(at + TapeFile::entryBytes_c);
  putBe32(&out[at], static_cast<uint32_t>(bytes.size()));
  out[at + 4] = kind;
  putBe32(&out[at + 5], crc32(bytes.data(), bytes.size(), crc32(&out[at], 5)));
  out.insert(out.end(), bytes.begin(), bytes.end());
}

}  // namespace

std::unique_ptr<TapeFile> TapeFile::open(FileSystem& fs, const std::string& path,
                                         std::vector<TapeObject>& objects, OpenFailure& failure) {
  objects.clear();
  int fd = openLocked(fs, path, failure);
  if (fd < 0) return nullptr;
  std::unique_ptr<TapeFile> file(new TapeFile(fs, fd));
  auto give = [&](long code, const std::string& text) {
    failure.code = code;
    failure.text = "\"" + path + "\": " + text;
    return nullptr;
  };
  uint64_t size = 0;
  int r = fs.size(fd, size);
  if (r < 0) return give(ioError_c, r == -EINVAL ? "not a regular file" : errnoText(r));
  if (size == 0) {
    std::vector<unsigned char> header(magic_c, magic_c + 8);
    header.resize(headerBytes_c);
    putBe32(&header[8], version_c);
    if ((r = writeFully(fs, fd, header.data(), header.size(), 0)) < 0) return give(ioError_c, errnoText(r));
    file->offsets_ = {headerBytes_c};
    if (!file->store(objects, 0) || !file->sync()) return give(ioError_c, "cannot write a new tape");
    return file;
  }
  unsigned char h[headerBytes_c];
  if (size < headerBytes_c || readFully(fs, fd, h, sizeof h, 0) < 0)
    return give(invalidRequest_c,
                "not a tape file: shorter than its " + std::to_string(headerBytes_c) + "-byte header");
  if (std::memcmp(h, magic_c, 8) != 0) return give(invalidRequest_c, "not a tape file (wrong magic)");
  if (getBe32(h + 8) != version_c)
    return give(invalidRequest_c,
                "tape file version " + std::to_string(getBe32(h + 8)) + " is not the known 1");
  uint64_t at = headerBytes_c;
  for (;;) {
    const std::string where = " at byte " + std::to_string(at);
    unsigned char e[entryBytes_c];
    if (size - at < entryBytes_c || readFully(fs, fd, e, sizeof e, at) < 0)
      return give(invalidRequest_c, "truncated: no end-of-data entry" + where);
    const uint32_t length = getBe32(e);
    const unsigned char kind = e[4];
    if (kind > end_c) return give(invalidRequest_c, "unknown entry kind " + std::to_string(kind) + where);
    if (kind != data_c && length != 0)
      return give(invalidRequest_c,
                  "a filemark or end entry with a length of " + std::to_string(length) + where);
    if (length > size - at - entryBytes_c)
      return give(invalidRequest_c, "truncated: a record of " + std::to_string(length) + " bytes" + where);
    TapeObject o{kind == fileMark_c, std::vector<unsigned char>(length)};
    if (length && (r = readFully(fs, fd, o.bytes.data(), length, at + entryBytes_c)) < 0)
      return give(ioError_c, errnoText(r));
    if (crc32(o.bytes.data(), length, crc32(e, 5)) != getBe32(e + 5))
      return give(invalidRequest_c, "checksum mismatch: the entry" + where + " is damaged");
    file->offsets_.push_back(at);
    if (kind == end_c) break;
    objects.push_back(std::move(o));
    at += entryBytes_c + length;
  }
  return file;
}

TapeFile::~TapeFile() { fs_.close(fd_); }

bool TapeFile::store(const std::vector<TapeObject>& objects, size_t from) {
  offsets_.resize(from + 1);
  std::vector<unsigned char> bytes;
  for (size_t i = from; i < objects.size(); ++i) {
    appendEntry(bytes, objects[i].fileMark ? fileMark_c : data_c, objects[i].bytes);
    offsets_.push_back(offsets_[from] + bytes.size());
  }
  appendEntry(bytes, end_c, {});
  return writeFully(fs_, fd_, bytes.data(), bytes.size(), offsets_[from]) == 0 &&
         fs_.truncate(fd_, offsets_.back() + entryBytes_c) == 0;
}

bool TapeFile::sync() { return fs_.fdatasync(fd_) == 0; }

}  // namespace qxscsi::backends::emulated
