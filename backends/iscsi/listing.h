// Listing the targets and LUNs behind an iSCSI portal.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "qxscsi/backends/backend.h"

namespace qxscsi::backends::iscsi {

// LUN numbers of REPORT LUNS parameter data of which `received` bytes arrived: whole 8-byte
// entries within both the announced list length and the received bytes. Entries in the
// peripheral (00b) or flat (01b) addressing method give ((byte 0 & 3Fh) << 8) | byte 1; entries
// of other methods are skipped.
std::vector<int> parseReportLuns(const unsigned char* data, std::size_t received);

// Appends to `groups` a group per target behind `portal` ("[iscsi://][user[%password]@]host[:port]",
// port 3260 by default), found by SendTargets discovery, with the URL of every LUN that REPORT LUNS
// on its LUN 0 reports; every network step bounded by timeoutSeconds. False when the portal cannot
// be parsed, reached or asked, with the reason (libiscsi's text where there is one) in `error`.
bool listPortal(const std::string& portal, unsigned long timeoutSeconds, std::vector<DeviceGroup>& groups,
                std::string& error);

}  // namespace qxscsi::backends::iscsi
