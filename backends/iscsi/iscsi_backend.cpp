// The iSCSI back-end as the router sees it: names that start with "iscsi://", portals as scopes.
#include "iscsi_target_impl.h"
#include "listing.h"
#include "qxscsi/backends/iscsi.h"

namespace qxscsi::backends {

const char* iscsiInitiatorNameParam() { return "iscsi_initiator_name"; }
const char* iscsiLoginTimeoutParam() { return "iscsi_login_timeout"; }
const char* iscsiUnitAttentionParam() { return "iscsi_unit_attention"; }
const char* iscsiUserParam() { return "iscsi_user"; }
const char* iscsiPasswordParam() { return "iscsi_password"; }
const char* iscsiTargetUserParam() { return "iscsi_target_user"; }
const char* iscsiTargetPasswordParam() { return "iscsi_target_password"; }
const char* iscsiHeaderDigestParam() { return "iscsi_header_digest"; }
const char* iscsiDataDigestParam() { return "iscsi_data_digest"; }
const char* iscsiDefaultInitiatorName() { return "iqn.2026-12.org.qxscsi:initiator"; }

namespace {

class IscsiBackend final : public BackendBase {
 public:
  const char* name() const override { return "iscsi"; }
  std::vector<std::string> nameSyntax() const override {
    return {"iscsi://[USER[%PASSWORD]@]HOST[:PORT]/TARGET-IQN/LUN"};
  }
  bool takes(const std::string& deviceName) const override { return iscsi::isIscsiName(deviceName); }
  std::unique_ptr<QXScsiTargetImpl> create(const std::string&) override {
    return std::make_unique<iscsi::IscsiTargetImpl>();
  }
  // Any scope is taken for a portal, "[iscsi://][USER[%PASSWORD]@]HOST[:PORT]"; a malformed one
  // is refused by list() with the reason.
  bool takesScope(const std::string& scope) const override { return !scope.empty(); }
  bool list(const std::string& scope, unsigned long timeoutSeconds, std::vector<DeviceGroup>& groups,
            std::string& error) const override {
    // Without a portal there is nothing to discover.
    return scope.empty() || iscsi::listPortal(scope, timeoutSeconds, groups, error);
  }
};

}  // namespace

std::unique_ptr<Backend> makeIscsiBackend() { return std::make_unique<IscsiBackend>(); }

}  // namespace qxscsi::backends
