// Parsing of iSCSI device names.
#include "url.h"

#include <cstring>

#include "credentials.h"
#include "wire/decimal.h"

namespace qxscsi::backends::iscsi {
namespace {

// Decimal digits only, at most nine of them, value in [min, max].
bool parseNumber(const std::string& s, long min, long max, long* out) {
  return s.size() <= 9 && wire::parseDecimal(s, min, max, *out);
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes %XX escapes; false on a broken escape or an escaped zero byte.
bool percentDecode(const std::string& in, std::string* out) {
  out->clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '%') {
      out->push_back(in[i]);
      continue;
    }
    if (i + 2 >= in.size()) return false;
    int hi = hexValue(in[i + 1]), lo = hexValue(in[i + 2]);
    if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  return true;
}

bool fail(std::string* error, const std::string& why) {
  if (error)
    *error = "bad iSCSI URL: " + why + " (expected iscsi://[user[%password]@]host[:port]/target-iqn/lun)";
  return false;
}

}  // namespace

// Largest LUN that a single-level flat LUN address can carry.
constexpr long kMaxLun = 16383;

std::string Url::portal() const {
  std::string h = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  return h + ":" + std::to_string(port);
}

bool isIscsiName(const std::string& text) {
  return text.compare(0, std::strlen(kUrlScheme), kUrlScheme) == 0;
}

bool parseUrl(const std::string& text, Url* out, std::string* error) {
  if (!isIscsiName(text)) return fail(error, "no iscsi:// prefix");
  if (text.find('\0') != std::string::npos) return fail(error, "embedded zero byte");
  std::string rest = text.substr(std::strlen(kUrlScheme));
  size_t slash = rest.find('/');
  if (slash == std::string::npos) return fail(error, "no target");
  std::string authority = rest.substr(0, slash);
  std::string path = rest.substr(slash + 1);
  *out = Url();

  size_t at = authority.rfind('@');
  std::string hostport = authority;
  if (at != std::string::npos) {
    std::string userinfo = authority.substr(0, at);
    hostport = authority.substr(at + 1);
    size_t pct = userinfo.find('%');
    out->user = userinfo.substr(0, pct);
    if (pct != std::string::npos) out->password = userinfo.substr(pct + 1);
    // A listed name shows its password as "***": copied back, it gives none of its own.
    if (out->password == "***") out->password.clear();
    if (out->user.empty()) return fail(error, "empty user name before '@'");
  }

  std::string portText;
  if (!hostport.empty() && hostport[0] == '[') {
    size_t close = hostport.find(']');
    if (close == std::string::npos) return fail(error, "unclosed '[' in host");
    out->host = hostport.substr(1, close - 1);
    std::string after = hostport.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':') return fail(error, "junk after ']'");
      portText = after.substr(1);
      if (portText.empty()) return fail(error, "empty port");
    }
  } else {
    size_t colon = hostport.find(':');
    if (colon != std::string::npos && hostport.find(':', colon + 1) != std::string::npos)
      return fail(error, "IPv6 address without brackets");
    out->host = hostport.substr(0, colon);
    if (colon != std::string::npos) {
      portText = hostport.substr(colon + 1);
      if (portText.empty()) return fail(error, "empty port");
    }
  }
  if (out->host.empty()) return fail(error, "no host");
  if (!portText.empty()) {
    long port = 0;
    if (!parseNumber(portText, 1, 65535, &port)) return fail(error, "bad port '" + portText + "'");
    out->port = static_cast<int>(port);
  }

  size_t lunSlash = path.rfind('/');
  if (lunSlash == std::string::npos) return fail(error, "no LUN after the target");
  std::string target = path.substr(0, lunSlash);
  std::string lunText = path.substr(lunSlash + 1);
  if (target.empty()) return fail(error, "empty target name");
  if (target.find('/') != std::string::npos) return fail(error, "'/' inside the target name");
  if (!percentDecode(target, &out->target)) return fail(error, "bad % escape in the target name");
  long lun = 0;
  if (!parseNumber(lunText, 0, kMaxLun, &lun)) return fail(error, "bad LUN '" + lunText + "' (0 to 16383)");
  out->lun = static_cast<int>(lun);
  return true;
}

bool parsePortal(const std::string& text, Url* out, std::string* error) {
  std::string rest = isIscsiName(text) ? text.substr(std::strlen(kUrlScheme)) : text;
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  std::string why = "bad iSCSI portal: '" + maskPassword(text) +
                    "' (expected [iscsi://][user[%password]@]host[:port])";
  if (rest.find('/') != std::string::npos) {
    if (error) *error = why;
    return false;
  }
  // A portal is a URL without target and LUN: borrow the URL parser with a stand-in for both.
  if (!parseUrl(std::string(kUrlScheme) + rest + "/-/0", out, error)) {
    if (error) *error = why;
    return false;
  }
  out->target.clear();
  return true;
}

}  // namespace qxscsi::backends::iscsi
