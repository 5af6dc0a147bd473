// iSCSI device names: iscsi://[user[%password]@]host[:port]/target-iqn/lun
#pragma once

#include <string>

namespace qxscsi::backends::iscsi {

// The parts of an iSCSI device name.
struct Url {
  std::string user;      // CHAP user; empty for none
  std::string password;  // CHAP password; "***" (a masked one) reads as none
  std::string host;      // name, IPv4 address or IPv6 address without brackets
  int port = 3260;
  std::string target;  // the target's IQN, percent escapes decoded
  int lun = 0;

  // "host:port", with brackets around an IPv6 address: what a TCP connect takes.
  std::string portal() const;
};

// The LUN field libiscsi takes for a URL's LUN (0-16383): libiscsi 1.19 puts its int into bytes
// 0-1 of the PDU's LUN field as is, so 0-255 go as peripheral addressing (bus 0) and 256-16383
// get flat space addressing (01b in the top two bits) here; as is, 300 would be bus 1, LUN 44.
constexpr int wireLun(int lun) { return lun <= 255 ? lun : 0x4000 | lun; }

// The prefix that marks a device name as an iSCSI URL.
constexpr const char* kUrlScheme = "iscsi://";

// True when text starts with the iSCSI scheme (the name belongs to this back-end).
bool isIscsiName(const std::string& text);

// Parses text into *out. On failure returns false and says why in *error; *out is unspecified.
bool parseUrl(const std::string& text, Url* out, std::string* error);

// Parses a portal, "iscsi://[user[%password]@]host[:port]" or just "host[:port]", into the user,
// password, host and port of *out (target empty, LUN 0). False with the reason in *error.
bool parsePortal(const std::string& text, Url* out, std::string* error);

}  // namespace qxscsi::backends::iscsi
