// The iSCSI back-end as the router sees it: it takes every name that starts with "iscsi://".
#include "iscsi_target_impl.h"
#include "qxscsi/backends/backend.h"
#include "qxscsi/backends/iscsi.h"

namespace qxscsi::backends {
namespace {

class IscsiBackend final : public Backend {
 public:
  const char* name() const override { return "iscsi"; }
  bool takes(const std::string& deviceName) const override { return iscsi::isIscsiName(deviceName); }
  std::unique_ptr<QXScsiTargetImpl> create(const std::string&) override {
    return std::make_unique<iscsi::IscsiTargetImpl>();
  }
};

}  // namespace

std::unique_ptr<Backend> makeIscsiBackend() { return std::make_unique<IscsiBackend>(); }

}  // namespace qxscsi::backends
