// Listing the targets behind a portal (SendTargets) and the LUNs of each (REPORT LUNS on LUN 0).
#include "listing.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "qxscsi/backends/iscsi.h"
#include "session.h"
#include "url.h"
#include "wire/bytes.h"
#include "wire/cdb.h"
#include "wire/status.h"

namespace qxscsi::backends::iscsi {

std::vector<int> parseReportLuns(const unsigned char* data, std::size_t received) {
  std::vector<int> luns;
  if (!data || received < 8) return luns;
  std::uint32_t listLength = wire::getBe32(data);
  std::size_t end = std::min<std::size_t>(received, 8 + std::size_t(listLength));
  for (std::size_t at = 8; at + 8 <= end; at += 8) {
    const unsigned char* e = data + at;
    // Single-level LUNs only: a second level (bytes 2-7) is not reachable through a URL's LUN.
    if (std::any_of(e + 2, e + 8, [](unsigned char b) { return b != 0; })) continue;
    unsigned method = e[0] >> 6;
    if (method == 0 && e[0] == 0)
      luns.push_back(e[1]);  // peripheral, bus 0: LUN 0-255 (another bus is no LUN of ours)
    else if (method == 1)
      luns.push_back(((e[0] & 0x3F) << 8) | e[1]);  // flat space: LUN 0-16383
  }
  return luns;
}

bool listPortal(const std::string& portal, unsigned long timeoutSeconds, std::vector<DeviceGroup>& groups,
                std::string& error) {
  LoginRequest request;
  if (!parsePortal(portal, &request.url, &error) ||
      !resolveChap(Chap(), request.url, processEnvironment(), &request.chap, &error))
    return false;
  request.initiatorName = backends::iscsiDefaultInitiatorName();
  request.timeoutSeconds = std::max<unsigned long>(timeoutSeconds, 1);
  std::vector<DiscoveredTarget> found;
  if (discoverTargets(request, &found, &error) != SessionResult::ok) return false;

  // The listed names show the portal as given, its password masked.
  std::string base = maskPassword(portal.rfind("iscsi://", 0) == 0 ? portal.substr(8) : portal);
  while (!base.empty() && base.back() == '/') base.pop_back();
  for (const DiscoveredTarget& d : found) {
    DeviceGroup t;
    t.name = d.name;
    t.addresses = d.portals;
    // LUN 0 answers REPORT LUNS for the whole target.
    LoginRequest lunZero = request;
    lunZero.url.target = d.name;
    lunZero.url.lun = 0;
    std::unique_ptr<Session> s = makeLibiscsiSession();
    if (s->login(lunZero) != SessionResult::ok) {
      t.error = s->message();
      groups.push_back(std::move(t));
      continue;
    }
    std::vector<unsigned char> data(8 + 8 * 512, 0);
    unsigned char cdb[12];
    wire::reportLunsCdb(cdb, static_cast<std::uint32_t>(data.size()));
    Completion done;
    Command c{cdb, sizeof cdb, QXScsi::dataIn_c, data.data(), data.size(), request.timeoutSeconds};
    if (s->execute(c, &done) != SessionResult::ok) {
      t.error = s->message();
    } else if (done.status != wire::statusGood) {
      t.error = "REPORT LUNS ended with status " + std::to_string(done.status);
    } else {
      std::size_t received = done.overflow ? data.size() : data.size() - std::min(done.residual, data.size());
      for (int lun : parseReportLuns(data.data(), received)) {
        t.luns.push_back(static_cast<unsigned long>(lun));
        t.devices.push_back("iscsi://" + base + "/" + d.name + "/" + std::to_string(lun));
      }
    }
    s->logout(request.timeoutSeconds);
    groups.push_back(std::move(t));
  }
  return true;
}

}  // namespace qxscsi::backends::iscsi
