// iSCSI back-end: LUNs of iSCSI targets opened by URL, iscsi://[user[%password]@]host[:port]/iqn/lun.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "qxscsi/backends/backend.h"
#include "qxscsi/backends/install.h"
#include "qxscsi/export.h"
#include "qxscsi/implementation.h"
#include "qxscsi/target.h"

namespace qxscsi::backends {

// Parameter names of our own (values: an IQN; seconds 1..3600).
QXSCSI_EXPORT const char* iscsiInitiatorNameParam();  // "iscsi_initiator_name"
QXSCSI_EXPORT const char* iscsiLoginTimeoutParam();   // "iscsi_login_timeout"
// The initiator name used when "iscsi_initiator_name" is not given.
QXSCSI_EXPORT const char* iscsiDefaultInitiatorName();

// True when name (borrowed; null allowed) is an iSCSI URL, that is, starts with "iscsi://".
QXSCSI_EXPORT bool isIscsiDeviceName(const char* name);
// The back-end that takes names starting with "iscsi://"; the caller (normally the installation) owns it.
QXSCSI_EXPORT std::unique_ptr<Backend> makeIscsiBackend();
// A new, closed iSCSI implementation; the caller owns it.
QXSCSI_EXPORT std::unique_ptr<QXScsiTargetImpl> createIscsiTargetImpl();

// Residual of the last command that impl (borrowed; null allowed) executed, if impl is an iSCSI
// implementation: residual receives the bytes not transferred, or with overflow true the bytes the
// device had beyond the buffer. False (outputs untouched) for any other implementation.
QXSCSI_EXPORT bool iscsiLastResidual(const QXScsiTargetImpl* impl, unsigned long& residual, bool& overflow);
// The same for the implementation behind target (borrowed), looked up through the router.
inline bool iscsiLastResidual(const QXScsiTarget& target, unsigned long& residual, bool& overflow) {
  return iscsiLastResidual(routedImplementation(target.getScsiTargetImpl()), residual, overflow);
}

// One target behind a portal: its name and portals as discovery (SendTargets) reports them, and
// its LUNs as REPORT LUNS on its LUN 0 reports them (error says why when they could not be had).
struct IscsiTargetListing {
  std::string name;
  std::vector<std::string> portals;  // "address:port,portal-group"
  std::vector<int> luns;
  std::string error;
};

// Lists the targets behind portal ("[iscsi://][user[%password]@]host[:port]", port 3260 by default)
// into the caller's targets, each network step bounded by timeoutSeconds. False when the portal
// cannot be parsed, reached or asked, with the reason (libiscsi's text where there is one) in error.
QXSCSI_EXPORT bool listIscsiTargets(const std::string& portal, std::vector<IscsiTargetListing>& targets,
                                    std::string& error, unsigned long timeoutSeconds = 10);

}  // namespace qxscsi::backends
