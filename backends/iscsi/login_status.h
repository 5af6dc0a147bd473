// What a failed iSCSI login means, read from the initiator library's message.
#pragma once

#include <string>

#include "session.h"

namespace qxscsi::backends::iscsi {

// Maps the text libiscsi leaves after a refused login ("... Status: <text>(<code>)", the code
// being the login response's status class * 256 + detail) to an result: class 2 details 1 and
// 2 (authentication, authorisation) are loginDenied, details 3 and 4 (not found, removed) are
// notFound; everything else is loginFailed.
SessionResult classifyLoginFailure(const std::string& message);

}  // namespace qxscsi::backends::iscsi
