// Login failure classification.
#include "login_status.h"

#include <cctype>

namespace qxscsi::backends::iscsi {

SessionResult classifyLoginFailure(const std::string& message) {
  size_t at = message.find("Status:");
  if (at == std::string::npos) return SessionResult::loginFailed;
  size_t open = message.find('(', at);
  if (open == std::string::npos) return SessionResult::loginFailed;
  size_t i = open + 1;
  long code = 0;
  int digits = 0;
  for (; i < message.size() && std::isdigit(static_cast<unsigned char>(message[i])) && digits < 6;
       ++i, ++digits)
    code = code * 10 + (message[i] - '0');
  if (digits == 0 || i >= message.size() || message[i] != ')') return SessionResult::loginFailed;
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
