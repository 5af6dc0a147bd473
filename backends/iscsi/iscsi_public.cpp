// The public face of the iSCSI back-end.
#include "iscsi_target_impl.h"
#include "qxscsi/backends/iscsi.h"

namespace qxscsi::backends {

const char* iscsiInitiatorNameParam() { return "iscsi_initiator_name"; }
const char* iscsiLoginTimeoutParam() { return "iscsi_login_timeout"; }
const char* iscsiDefaultInitiatorName() { return "iqn.2026-12.org.qxscsi:initiator"; }

bool isIscsiDeviceName(const char* name) { return name && iscsi::isIscsiName(name); }

std::unique_ptr<QXScsiTargetImpl> createIscsiTargetImpl() {
  return std::make_unique<iscsi::IscsiTargetImpl>();
}

bool iscsiLastResidual(const QXScsiTargetImpl* impl, unsigned long& residual, bool& overflow) {
  auto* i = dynamic_cast<const iscsi::IscsiTargetImpl*>(impl);
  if (!i) return false;
  residual = i->lastResidual();
  overflow = i->lastResidualOverflow();
  return true;
}

}  // namespace qxscsi::backends
