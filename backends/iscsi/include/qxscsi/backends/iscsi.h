// iSCSI back-end: LUNs of iSCSI targets opened by URL, iscsi://[user[%password]@]host[:port]/iqn/lun.
#pragma once

#include <memory>

#include "qxscsi/backends/backend.h"
#include "qxscsi/backends/iscsi_export.h"

namespace qxscsi::backends {

// Parameter names of our own (values: an IQN; seconds 1..3600). The texts are static.
QXSCSI_ISCSI_EXPORT const char* iscsiInitiatorNameParam();  // "iscsi_initiator_name"
QXSCSI_ISCSI_EXPORT const char* iscsiLoginTimeoutParam();   // "iscsi_login_timeout"
// "iscsi_unit_attention": "clear" (default) takes the unit attentions a new session starts with
// before the caller's first command; "report" leaves them for the caller.
QXSCSI_ISCSI_EXPORT const char* iscsiUnitAttentionParam();
// CHAP: "iscsi_user" and "iscsi_password" (one-way), "iscsi_target_user" and
// "iscsi_target_password" (mutual: the target proves itself too). Each one given here wins over
// the URL's user%password@, which wins over LIBISCSI_CHAP_USERNAME, LIBISCSI_CHAP_PASSWORD,
// LIBISCSI_CHAP_TARGET_USERNAME and LIBISCSI_CHAP_TARGET_PASSWORD in the environment. The names
// returned here and below are static texts.
QXSCSI_ISCSI_EXPORT const char* iscsiUserParam();
QXSCSI_ISCSI_EXPORT const char* iscsiPasswordParam();
QXSCSI_ISCSI_EXPORT const char* iscsiTargetUserParam();
QXSCSI_ISCSI_EXPORT const char* iscsiTargetPasswordParam();
// "iscsi_header_digest": "none", "crc32c", "prefer-crc32c" or "prefer-none" (the default): what
// the login offers for HeaderDigest. "iscsi_data_digest": only "none" (libiscsi 1.19 offers no
// data digest; any other value fails the opening with -15).
QXSCSI_ISCSI_EXPORT const char* iscsiHeaderDigestParam();
QXSCSI_ISCSI_EXPORT const char* iscsiDataDigestParam();
// The initiator name used when "iscsi_initiator_name" is not given (a static text).
QXSCSI_ISCSI_EXPORT const char* iscsiDefaultInitiatorName();

// A new iSCSI back-end, owned by the caller (normally the installation). It takes names that
// start with "iscsi://" and lists the targets and LUNs behind a portal ("[iscsi://]host[:port]").
QXSCSI_ISCSI_EXPORT std::unique_ptr<Backend> makeIscsiBackend();

}  // namespace qxscsi::backends
