// Target implementation over the Linux SCSI generic driver (SG_IO, sg v3 interface).
#include "sg_target.h"

#include <string>

#include "sg_node.h"
#include "sg_system.h"

namespace qxscsi::backends::sg {
namespace {

using namespace QXScsiPlatform;

std::string addressText(unsigned bus, unsigned target, unsigned long long lun) {
  return "bus " + std::to_string(bus) + " target " + std::to_string(target) + " lun " + std::to_string(lun);
}

// Why a node could not be opened, in words.
std::string openFailure(long error) {
  switch (error) {
    case deviceNotFound_c:
      return "no such device";
    case accessDenied_c:
      return "permission denied";
    case deviceBusy_c:
      return "busy (open for exclusive use)";
    case outOfResources_c:
      return "out of descriptors or memory";
    default:
      return "operating-system error";
  }
}

}  // namespace

SgTargetImpl::SgTargetImpl() : system(hostSystem()) {}

SgTargetImpl::SgTargetImpl(System& s) : system(s) {}

SgTargetImpl::~SgTargetImpl() { closeAll(); }

bool SgTargetImpl::takesName(const std::string& name) {
  unsigned adapter;
  return name.compare(0, 5, "/dev/") == 0 || parseAdapterName(name, adapter);
}

void SgTargetImpl::destroy(QXAbstractProduct* product) { delete product; }

bool SgTargetImpl::access(const char* name, int) { return open(name, false); }

bool SgTargetImpl::accessExclusive(const char* name, int) { return open(name, true); }

bool SgTargetImpl::open(const char* name, bool wantExclusive) {
  closeAll();
  const std::string text = name ? name : "";
  unsigned number = 0;
  if (parseAdapterName(text, number)) {
    if (!adapterExists(system, number))
      return fail(deviceNotFound_c, "no SCSI adapter " + std::to_string(number));
    mode = Mode::adapter;
    adapterNumber = number;
    exclusive = wantExclusive;
    succeed();
    return true;
  }
  if (!takesName(text)) return fail(unknownDeviceName_c, "not a /dev path or adapter name: \"" + text + "\"");
  int fd = openNode(system, text, wantExclusive);
  if (fd < 0) return fail(fd, "cannot open " + text + ": " + openFailure(fd));
  exclusive = wantExclusive;
  useNode(fd, true);
  return true;
}

void SgTargetImpl::useNode(int fd, bool owned) {
  mode = Mode::node;
  nodeFd = fd;
  ownsNode = owned;
  ScsiId id;
  nodeAddressKnown = nodeScsiId(system, fd, id);
  nodeHost = id.host;
  nodeChannel = id.channel;
  nodeId = id.id;
  nodeLun = id.lun;
  succeed();
}

void SgTargetImpl::access(void* handle) {
  if (handle == nullptr) return;
  int fd = *static_cast<int*>(handle);
  // Dropping keeps the last error: it tells why an opening that is being abandoned failed.
  closeAll();
  if (fd >= 0) useNode(fd, false);
}

bool SgTargetImpl::release() {
  if (mode == Mode::closed) return fail(notOpen_c, "not open");
  closeAll();
  succeed();
  return true;
}

void SgTargetImpl::closeAll() {
  if (mode == Mode::node && ownsNode) system.close(nodeFd);
  for (const auto& lun : lunFds) system.close(lun.second);
  lunFds.clear();
  lastLunFd = -1;
  nodeFd = -1;
  ownsNode = false;
  nodeAddressKnown = false;
  mode = Mode::closed;
}

bool SgTargetImpl::getScsiAddress(QXScsiAddress& address, bool& flag) {
  flag = false;
  if (mode == Mode::closed) return fail(notOpen_c, "not open");
  if (mode == Mode::adapter) return fail(noScsiAddress_c, "an adapter name has no SCSI address of its own");
  if (!nodeAddressKnown || nodeChannel > 255 || nodeId > 255 || nodeLun > 255)
    return fail(noScsiAddress_c, "no bus/target/LUN address known for this node");
  address = QXScsiLunAddress(static_cast<unsigned char>(nodeChannel), static_cast<unsigned char>(nodeId),
                             static_cast<unsigned char>(nodeLun));
  flag = true;
  succeed();
  return true;
}

int SgTargetImpl::lunDescriptor(const QXScsiAddress& address) {
  QXScsiLunAddress lun;
  if (!address.defined() || !address.toLunAddress(lun)) {
    fail(invalidRequest_c, "an adapter name needs a bus/target/LUN address");
    return -1;
  }
  const Lun key(lun.bus(), lun.target(), lun.lun());
  auto known = lunFds.find(key);
  if (known != lunFds.end()) return lastLunFd = known->second;
  ScsiId id;
  id.host = adapterNumber;
  id.channel = lun.bus();
  id.id = lun.target();
  id.lun = lun.lun();
  const std::string where =
      "adapter " + std::to_string(adapterNumber) + " " + addressText(id.channel, id.id, id.lun);
  const std::string path = findSgNode(system, id);
  if (path.empty()) {
    fail(deviceNotFound_c, "no SCSI device at " + where);
    return -1;
  }
  int fd = openNode(system, path, exclusive);
  if (fd < 0) {
    fail(fd, "cannot open " + path + " (" + where + "): " + openFailure(fd));
    return -1;
  }
  lunFds[key] = fd;
  return lastLunFd = fd;
}

bool SgTargetImpl::executeCommand(QXScsiCmd& cmd, const QXScsiDevice&) {
  int fd = nodeFd;
  if (mode == Mode::closed) return fail(notOpen_c, "not open");
  if (mode == Mode::adapter) {
    QXScsiAddress address;
    cmd.getScsiAddress(address);
    fd = lunDescriptor(address);
    if (fd < 0) return false;
  }
  Request request;
  if (!view(cmd, request)) return false;

  DriverReply outcome;
  commandStarted(request);
  const long result = execute(system, fd, request, outcome);
  // The driver counts what did not arrive; a negative count (never seen) is taken as none.
  commandFinished(outcome.residual > 0 ? static_cast<unsigned long>(outcome.residual) : 0, false);
  if (result != 0) {
    return fail(result, "SG_IO failed (host status " + std::to_string(outcome.hostStatus) +
                            ", driver status " + std::to_string(outcome.driverStatus) + ")");
  }
  setCmdScsiStatus(cmd, outcome.status);
  if (outcome.senseLength > 0) setCmdSenseData(cmd, outcome.sense, outcome.senseLength);
  succeed();
  return true;
}

bool SgTargetImpl::accessScsiTarget(const QXScsiAddress& address) {
  if (mode == Mode::closed) return fail(notOpen_c, "not open");
  if (mode == Mode::adapter) {
    if (lunDescriptor(address) < 0) return false;
    succeed();
    return true;
  }
  QXScsiLunAddress lun;
  if (!nodeAddressKnown || !address.toLunAddress(lun))
    return fail(targetAccessNotApplicable_c, "the node's address cannot be compared");
  if (lun.bus() != nodeChannel || lun.target() != nodeId || lun.lun() != nodeLun)
    return fail(deviceNotFound_c, "the node is " + addressText(nodeChannel, nodeId, nodeLun) + ", not " +
                                      addressText(lun.bus(), lun.target(), lun.lun()));
  succeed();
  return true;
}

bool SgTargetImpl::accessScsiTarget(const QXScsiDevice&) {
  if (mode == Mode::closed) return fail(notOpen_c, "not open");
  if (mode == Mode::adapter) return fail(targetAccessNotApplicable_c, "an adapter name is no SCSI target");
  succeed();
  return true;
}

long SgTargetImpl::implementationVersion() const { return 1; }

int SgTargetImpl::handle() const {
  if (mode == Mode::node) return nodeFd;
  if (mode == Mode::adapter) return lastLunFd;
  return -1;
}

int SgTargetImpl::adapter() const {
  if (mode == Mode::adapter) return static_cast<int>(adapterNumber);
  if (mode == Mode::node && nodeAddressKnown) return static_cast<int>(nodeHost);
  return -1;
}

}  // namespace qxscsi::backends::sg
