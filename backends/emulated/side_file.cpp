// Loading and atomically replacing checksummed state files.
#include "side_file.h"

#include <errno.h>
#include <fcntl.h>

#include <cstring>

#include "crc32.h"
#include "wire/bytes.h"

namespace qxscsi::backends::emulated {

using namespace wire;

SideFile::SideFile(std::string path) : SideFile(std::move(path), hostFileSystem(), diskMagic_c) {}

SideFile::SideFile(std::string path, FileSystem& fs, const char* magic)
    : path_(std::move(path)), fs_(&fs), magic_(magic, 8) {}

bool SideFile::load(std::vector<unsigned char>* payload, std::string* error) const {
  payload->clear();
  int fd = fs_->open(path_, O_RDONLY, 0);
  if (fd == -ENOENT) return true;
  auto failed = [&](const std::string& why) {
    if (fd >= 0) fs_->close(fd);
    if (error) *error = "\"" + path_ + "\": " + why;
    return false;
  };
  if (fd < 0) return failed("cannot open: " + errnoText(fd));
  uint64_t size = 0;
  int r = fs_->size(fd, size);
  if (r < 0) return failed(r == -EINVAL ? "not a regular file" : errnoText(r));
  unsigned char h[headerBytes_c];
  if (size < headerBytes_c)
    return failed("truncated: " + std::to_string(size) + " bytes, shorter than the " +
                  std::to_string(headerBytes_c) + "-byte header");
  if ((r = readFully(*fs_, fd, h, sizeof h, 0)) < 0) return failed("cannot read: " + errnoText(r));
  if (std::memcmp(h, magic_.data(), 8) != 0) return failed("not a state file of this kind (wrong magic)");
  if (getBe32(h + 8) != version_c)
    return failed("version " + std::to_string(getBe32(h + 8)) + " is not the known version " +
                  std::to_string(version_c));
  const uint64_t length = getBe64(h + 12);
  if (length != size - headerBytes_c)
    return failed("the header promises " + std::to_string(length) + " payload bytes, the file holds " +
                  std::to_string(size - headerBytes_c) +
                  (length > size - headerBytes_c ? " (truncated)" : ""));
  std::vector<unsigned char> bytes(static_cast<size_t>(length));
  if ((r = readFully(*fs_, fd, bytes.data(), bytes.size(), headerBytes_c)) < 0)
    return failed("cannot read: " + errnoText(r));
  if (crc32(bytes.data(), bytes.size()) != getBe32(h + 20))
    return failed("checksum mismatch: the payload is damaged");
  fs_->close(fd);
  *payload = std::move(bytes);
  return true;
}

bool SideFile::store(const std::vector<unsigned char>& payload, std::string* error) const {
  const std::string temp = path_ + ".tmp";
  std::vector<unsigned char> bytes(headerBytes_c);
  std::memcpy(bytes.data(), magic_.data(), 8);
  putBe32(&bytes[8], version_c);
  putBe64(&bytes[12], payload.size());
  putBe32(&bytes[20], crc32(payload.data(), payload.size()));
  bytes.insert(bytes.end(), payload.begin(), payload.end());

  auto failed = [&](const std::string& step, int code) {
    fs_->unlink(temp);
    if (error) *error = "cannot store \"" + path_ + "\": " + step + ": " + errnoText(code);
    return false;
  };
  int fd = fs_->open(temp, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return failed("open " + temp, fd);
  int r = writeFully(*fs_, fd, bytes.data(), bytes.size(), 0);
  if (r == 0) r = fs_->fsync(fd);
  int closed = fs_->close(fd);
  if (r < 0) return failed("write " + temp, r);
  if (closed < 0) return failed("close " + temp, closed);
  if ((r = fs_->rename(temp, path_)) < 0) return failed("rename", r);
  const std::string::size_type slash = path_.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path_.substr(0, slash);
  int dfd = fs_->open(dir, O_RDONLY | O_DIRECTORY, 0);
  if (dfd < 0) return failed("open directory " + dir, dfd);
  r = fs_->fsync(dfd);
  fs_->close(dfd);
  if (r < 0) {
    if (error) *error = "cannot store \"" + path_ + "\": sync directory " + dir + ": " + errnoText(r);
    return false;
  }
  return true;
}

}  // namespace qxscsi::backends::emulated
