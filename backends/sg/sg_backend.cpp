// The SG back-end's entry in the routing installation: device paths and adapter names.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "qxscsi/backends/backend.h"
#include "qxscsi/backends/sg_target.h"
#include "sg_node.h"
#include "sg_system.h"

namespace qxscsi::backends {
namespace {

class SgBackend final : public Backend {
 public:
  const char* name() const override { return "sg"; }

  bool takes(const std::string& deviceName) const override { return sg::SgTargetImpl::takesName(deviceName); }

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
  std::vector<std::string> devices() const override { return sg::listSgNodes(sg::hostSystem()); }
};

}  // namespace

QXSCSI_EXPORT std::unique_ptr<Backend> makeSgBackend() { return std::make_unique<SgBackend>(); }

}  // namespace qxscsi::backends
