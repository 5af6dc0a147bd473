// The SG back-end's entry in the routing installation: device paths and adapter names.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "qxscsi/backends/sg.h"
#include "sg_node.h"
#include "sg_system.h"
#include "sg_target.h"

namespace qxscsi::backends {
namespace {

class SgBackend final : public BackendBase {
 public:
  const char* name() const override { return "sg"; }
  std::vector<std::string> nameSyntax() const override {
    return {"/dev/NODE (a node that takes SG_IO: /dev/sgN, /dev/sdX, /dev/stN, ...)",
            "//./scsiN: with a BUS:TARGET:LUN address (host adapter N)"};
  }

  bool takes(const std::string& deviceName) const override { return sg::SgTargetImpl::takesName(deviceName); }

  bool needsAddress(const std::string& deviceName) const override {
    unsigned adapter = 0;
    return sg::parseAdapterName(deviceName, adapter);
  }

  std::unique_ptr<QXScsiTargetImpl> create(const std::string&) override {
    return std::make_unique<sg::SgTargetImpl>();
  }

  // Takes any descriptor of a device node; SG_IO itself tells later whether the node speaks it.
  std::unique_ptr<QXScsiTargetImpl> adopt(int handle) override {
    sg::NodeNumber number;
    if (handle < 0 || sg::hostSystem().deviceNumber(handle, number) != 0) return nullptr;
    return std::make_unique<sg::SgTargetImpl>();
  }

  // The sg nodes present now, in numeric order (/dev/sg2 before /dev/sg10).
  bool list(const std::string& scope, unsigned long, std::vector<DeviceGroup>& groups,
            std::string&) const override {
    if (!scope.empty()) return true;
    DeviceGroup nodes;
    nodes.devices = sg::listSgNodes(sg::hostSystem());
    if (!nodes.devices.empty()) groups.push_back(std::move(nodes));
    return true;
  }
};

}  // namespace

std::unique_ptr<Backend> makeSgBackend() { return std::make_unique<SgBackend>(); }

}  // namespace qxscsi::backends
