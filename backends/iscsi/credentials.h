// CHAP credentials of a login: where they come from, and how a name that holds a password is shown.
#pragma once

#include <functional>
#include <string>

#include "url.h"

namespace qxscsi::backends::iscsi {

// CHAP credentials; no CHAP while user is empty, mutual CHAP while targetUser is not.
struct Chap {
  std::string user;            // the initiator's CHAP name
  std::string password;        // its secret
  std::string targetUser;      // the name the target must answer with (mutual CHAP)
  std::string targetPassword;  // the target's secret
};

// Looks up an environment variable: its value, or null when unset. The text stays the caller's.
using Environment = std::function<const char*(const char*)>;
// The process's own environment (getenv). A lambda, not &getenv: the type information of a plain
// function pointer would be exported from the library.
Environment processEnvironment();

// The environment variables read, as libiscsi's own URL parser reads them.
constexpr const char* kEnvUser = "LIBISCSI_CHAP_USERNAME";
constexpr const char* kEnvPassword = "LIBISCSI_CHAP_PASSWORD";
constexpr const char* kEnvTargetUser = "LIBISCSI_CHAP_TARGET_USERNAME";
constexpr const char* kEnvTargetPassword = "LIBISCSI_CHAP_TARGET_PASSWORD";

// Fills *out field by field from the first source that gives the field: the parameters
// (`given`), then the URL (user and password only), then the environment (env may be empty:
// no environment). False, with a reason that never holds a secret in *error, when the result is
// unusable: a password without a user, a target user without the initiator's, or one of
// targetUser and targetPassword without the other.
bool resolveChap(const Chap& given, const Url& url, const Environment& env, Chap* out, std::string* error);

// text with the password of its "user%password@" part written as "***"; anything else unchanged.
std::string maskPassword(const std::string& text);

}  // namespace qxscsi::backends::iscsi
