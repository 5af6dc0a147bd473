// CHAP credentials from parameters, the URL and the environment; masking of passwords.
#include "credentials.h"

#include <cstdlib>

namespace qxscsi::backends::iscsi {
namespace {

// The first non-empty of a given field, the URL's and the environment's.
std::string pick(const std::string& given, const std::string& fromUrl, const Environment& env,
                 const char* variable) {
  if (!given.empty()) return given;
  if (!fromUrl.empty()) return fromUrl;
  const char* v = env ? env(variable) : nullptr;
  return v ? std::string(v) : std::string();
}

}  // namespace

Environment processEnvironment() {
  return [](const char* name) -> const char* { return std::getenv(name); };
}

bool resolveChap(const Chap& given, const Url& url, const Environment& env, Chap* out, std::string* error) {
  Chap c;
  c.user = pick(given.user, url.user, env, kEnvUser);
  c.password = pick(given.password, url.password, env, kEnvPassword);
  c.targetUser = pick(given.targetUser, std::string(), env, kEnvTargetUser);
  c.targetPassword = pick(given.targetPassword, std::string(), env, kEnvTargetPassword);
  const char* why = nullptr;
  if (c.user.empty() && !c.password.empty())
    why = "a CHAP password without a CHAP user";
  else if (c.targetUser.empty() != c.targetPassword.empty())
    why = "mutual CHAP needs both the target's user and its password";
  else if (!c.targetUser.empty() && c.user.empty())
    why = "mutual CHAP needs the initiator's CHAP user as well";
  if (why) {
    if (error) *error = std::string("unusable iSCSI credentials: ") + why;
    return false;
  }
  *out = std::move(c);
  return true;
}

std::string maskPassword(const std::string& text) {
  std::size_t start = text.rfind(kUrlScheme, 0) == 0 ? std::string(kUrlScheme).size() : 0;
  std::size_t slash = text.find('/', start);
  std::size_t at = text.rfind('@', slash == std::string::npos ? std::string::npos : slash);
  if (at == std::string::npos || at < start) return text;
  std::size_t pct = text.find('%', start);
  if (pct == std::string::npos || pct > at) return text;
  return text.substr(0, pct + 1) + "***" + text.substr(at);
}

}  // namespace qxscsi::backends::iscsi
