// Listing the targets behind a portal (SendTargets) and the LUNs of each (REPORT LUNS on LUN 0).
#include "listing.h"

#include <algorithm>
#include <cstdint>

#include "qxscsi/backends/iscsi.h"
#include "session.h"
#include "url.h"

namespace qxscsi::iscsi {

std::vector<int> parseReportLuns(const unsigned char* data, std::size_t received) {
  std::vector<int> luns;
  if (!data || received < 8) return luns;
  std::uint32_t listLength = (std::uint32_t(data[0]) << 24) | (data[1] << 16) | (data[2] << 8) | data[3];
  std::size_t end = std::min<std::size_t>(received, 8 + std::size_t(listLength));
  for (std::size_t at = 8; at + 8 <= end; at += 8) {
    unsigned method = data[at] >> 6;
    if (method == 0 || method == 1) luns.push_back(((data[at] & 0x3F) << 8) | data[at + 1]);
  }
  return luns;
}

}  // namespace qxscsi::iscsi

namespace qxscsi::backends {

bool listIscsiTargets(const std::string& portal, std::vector<IscsiTargetListing>& targets, std::string& error,
                      unsigned long timeoutSeconds) {
  using namespace iscsi;
  targets.clear();
  error.clear();
  LoginRequest request;
  if (!parsePortal(portal, &request.url, &error)) return false;
  request.initiatorName = iscsiDefaultInitiatorName();
  request.timeoutSeconds = std::max<unsigned long>(timeoutSeconds, 1);
  std::vector<DiscoveredTarget> found;
  if (discoverTargets(request, &found, &error) != Outcome::ok) return false;

  for (const DiscoveredTarget& d : found) {
    IscsiTargetListing t;
    t.name = d.name;
    t.portals = d.portals;
    // LUN 0 answers REPORT LUNS for the whole target.
    LoginRequest lunZero = request;
    lunZero.url.target = d.name;
    lunZero.url.lun = 0;
    std::unique_ptr<Session> s = makeLibiscsiSession();
    if (s->login(lunZero) != Outcome::ok) {
      t.error = s->message();
      targets.push_back(std::move(t));
      continue;
    }
    std::vector<unsigned char> data(8 + 8 * 512, 0);
    const std::uint32_t n = static_cast<std::uint32_t>(data.size());
    const unsigned char cdb[12] = {0xA0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   static_cast<unsigned char>(n >> 24),
                                   static_cast<unsigned char>(n >> 16),
                                   static_cast<unsigned char>(n >> 8),
                                   static_cast<unsigned char>(n),
                                   0,
                                   0};
    Completion done;
    Command c{cdb, sizeof cdb, 0, data.data(), data.size(), request.timeoutSeconds};
    if (s->execute(c, &done) != Outcome::ok) {
      t.error = s->message();
    } else if (done.status != 0) {
      t.error = "REPORT LUNS ended with status " + std::to_string(done.status);
    } else {
      std::size_t received = done.overflow ? data.size() : data.size() - std::min(done.residual, data.size());
      t.luns = parseReportLuns(data.data(), received);
    }
    s->logout(request.timeoutSeconds);
    targets.push_back(std::move(t));
  }
  return true;
}

}  // namespace qxscsi::backends
