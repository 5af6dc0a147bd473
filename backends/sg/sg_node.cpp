// SCSI generic nodes: opening, finding them by SCSI address in sysfs, and one SG_IO command.
#include "sg_node.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "qxscsi/commands.h"
#include "qxscsiplatform/errors.h"
#include "wire/decimal.h"

namespace qxscsi::backends::sg {
namespace {

using namespace QXScsiPlatform;

// Host status values of the Linux SCSI midlayer (DID_*).
constexpr unsigned short hostNoConnect = 0x01;
constexpr unsigned short hostTimeOut = 0x03;
constexpr unsigned short hostBadTarget = 0x04;
// Driver status: the low three bits carry the error, 0x08 only says that sense data is present.
constexpr unsigned short driverErrorMask = 0x07;
constexpr unsigned short driverTimeout = 0x06;

bool readUnsigned(const std::string& text, size_t& pos, unsigned& value) {
  unsigned long long v;
  if (!wire::parseDecimalPrefix(text, pos, 0, UINT_MAX, v)) return false;
  value = static_cast<unsigned>(v);
  return true;
}

std::string baseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool operator==(const ScsiId& a, const ScsiId& b) {
  return a.host == b.host && a.channel == b.channel && a.id == b.id && a.lun == b.lun;
}

bool parseScsiId(const std::string& text, ScsiId& out) {
  ScsiId id;
  size_t pos = 0;
  if (!readUnsigned(text, pos, id.host) || pos >= text.size() || text[pos++] != ':') return false;
  if (!readUnsigned(text, pos, id.channel) || pos >= text.size() || text[pos++] != ':') return false;
  if (!readUnsigned(text, pos, id.id) || pos >= text.size() || text[pos++] != ':') return false;
  if (!wire::parseDecimalPrefix(text, pos, 0, ULLONG_MAX, id.lun) || pos != text.size()) return false;
  out = id;
  return true;
}

bool parseAdapterName(const std::string& name, unsigned& adapter) {
  static const char prefix[] = "//./scsi";
  const size_t prefixLength = sizeof prefix - 1;
  if (name.compare(0, prefixLength, prefix) != 0) return false;
  size_t pos = prefixLength;
  unsigned long long n;
  if (!wire::parseDecimalPrefix(name, pos, 0, 65535, n) || pos + 1 != name.size() || name[pos] != ':')
    return false;
  adapter = static_cast<unsigned>(n);
  return true;
}

long errorFromErrno(int negativeErrno) {
  switch (-negativeErrno) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return deviceNotFound_c;
    case EACCES:
    case EPERM:
    case EROFS:
      return accessDenied_c;
    case EBUSY:
      return deviceBusy_c;
    case EBADF:
      return notOpen_c;
    case EINVAL:
    case EFAULT:
    case EOVERFLOW:
    case ENOTTY:
      return invalidRequest_c;
    case ETIMEDOUT:
      return commandTimeout_c;
    case ENOMEM:
    case ENOBUFS:
    case EMFILE:
    case ENFILE:
      return outOfResources_c;
    default:
      return ioError_c;
  }
}

int openNode(System& system, const std::string& path, bool exclusive) {
  const int common = O_NONBLOCK | O_CLOEXEC | (exclusive ? O_EXCL : 0);
  int fd = system.open(path, O_RDWR | common);
  if (fd == -EACCES || fd == -EROFS || fd == -EPERM) fd = system.open(path, O_RDONLY | common);
  if (fd < 0) return static_cast<int>(errorFromErrno(fd));
  if (fd > 2) return fd;
  // Descriptors 0 to 2 are free only when the process started without standard streams; keep
  // clear of them, since the library reads 0 as "no handle".
  int moved = system.duplicate(fd, 3);
  system.close(fd);
  return moved >= 0 ? moved : static_cast<int>(errorFromErrno(moved));
}

bool nodeScsiId(System& system, int fd, ScsiId& out) {
  NodeNumber number;
  if (system.deviceNumber(fd, number) != 0) return false;
  std::string link =
      system.readLink(std::string(number.block ? "/sys/dev/block/" : "/sys/dev/char/") +
                      std::to_string(number.major) + ":" + std::to_string(number.minor) + "/device");
  return !link.empty() && parseScsiId(baseName(link), out);
}

std::string findSgNode(System& system, const ScsiId& id) {
  const std::string classDir = "/sys/class/scsi_generic/";
  for (const std::string& name : system.listDirectory(classDir)) {
    ScsiId candidate;
    if (parseScsiId(baseName(system.readLink(classDir + name + "/device")), candidate) && candidate == id)
      return "/dev/" + name;
  }
  return std::string();
}

std::vector<std::string> listSgNodes(System& system) {
  std::vector<std::pair<unsigned, std::string>> numbered;
  for (const std::string& name : system.listDirectory("/sys/class/scsi_generic/")) {
    size_t pos = 2;
    unsigned number;
    if (name.compare(0, 2, "sg") == 0 && readUnsigned(name, pos, number) && pos == name.size())
      numbered.emplace_back(number, "/dev/" + name);
  }
  std::sort(numbered.begin(), numbered.end());
  std::vector<std::string> paths;
  for (auto& entry : numbered) paths.push_back(std::move(entry.second));
  return paths;
}

bool adapterExists(System& system, unsigned host) {
  return system.exists("/sys/class/scsi_host/host" + std::to_string(host));
}

unsigned timeoutMilliseconds(unsigned long seconds) {
  return seconds > UINT_MAX / 1000 ? UINT_MAX : static_cast<unsigned>(seconds * 1000);
}

long execute(System& system, int fd, const Request& request, DriverReply& outcome) {
  outcome = DriverReply();
  if (request.cdb == nullptr || request.cdbLength == 0 || request.cdbLength > 16) return invalidRequest_c;
  if (request.length > UINT_MAX) return invalidRequest_c;

  sg_io_hdr_t header;
  std::memset(&header, 0, sizeof header);
  header.interface_id = 'S';
  switch (request.direction) {
    case QXScsi::dataIn_c:
    case QXScsi::dataOut_c:
      if (request.length > 0 && request.data == nullptr) return invalidRequest_c;
      if (request.length > 0) {
        header.dxfer_direction = request.direction == QXScsi::dataIn_c ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
        header.dxfer_len = static_cast<unsigned>(request.length);
        header.dxferp = request.data;
      } else {
        header.dxfer_direction = SG_DXFER_NONE;
      }
      break;
    case QXScsi::noData_c:
      header.dxfer_direction = SG_DXFER_NONE;
      break;
    default:
      return invalidRequest_c;
  }
  header.cmd_len = request.cdbLength;
  header.cmdp = const_cast<unsigned char*>(request.cdb);
  header.mx_sb_len = sizeof outcome.sense;
  header.sbp = outcome.sense;
  header.timeout = timeoutMilliseconds(request.timeoutSeconds);

  int rc;
  do {
    rc = system.sgIo(fd, header);
  } while (rc == -EINTR);
  if (rc != 0) return errorFromErrno(rc);

  outcome.status = header.status;
  outcome.senseLength = header.sb_len_wr < sizeof outcome.sense ? header.sb_len_wr : sizeof outcome.sense;
  outcome.residual = header.resid;
  outcome.hostStatus = header.host_status;
  outcome.driverStatus = header.driver_status;

  switch (header.host_status) {
    case 0:
      break;
    case hostTimeOut:
      return commandTimeout_c;
    case hostNoConnect:
    case hostBadTarget:
      return deviceNotFound_c;
    default:
      return hostAdapterError_c;
  }
  unsigned short driver = header.driver_status & driverErrorMask;
  if (driver == driverTimeout) return commandTimeout_c;
  if (driver != 0) return driverError_c;
  return 0;
}

}  // namespace qxscsi::backends::sg
