// Login failure classification.
#include "login_status.h"

#include "wire/decimal.h"

namespace qxscsi::backends::iscsi {

SessionResult classifyLoginFailure(const std::string& message) {
  size_t at = message.find("Status:");
  if (at == std::string::npos) return SessionResult::loginFailed;
  size_t open = message.find('(', at);
  if (open == std::string::npos) return SessionResult::loginFailed;
  // One to six digits, then ')'.
  size_t i = open + 1;
  unsigned long long code = 0;
  if (!wire::parseDecimalPrefix(message, i, 0, 999999, code) || i - open - 1 > 6 || i >= message.size() ||
      message[i] != ')')
    return SessionResult::loginFailed;
  switch (code) {
    case 0x0201:  // authentication failure
    case 0x0202:  // authorisation failure
      return SessionResult::loginDenied;
    case 0x0203:  // target not found
    case 0x0204:  // target removed
      return SessionResult::notFound;
    default:
      return SessionResult::loginFailed;
  }
}

}  // namespace qxscsi::backends::iscsi
