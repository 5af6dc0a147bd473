// Listing the targets and LUNs behind an iSCSI portal.
#pragma once

#include <cstddef>
#include <vector>

namespace qxscsi::iscsi {

// LUN numbers of REPORT LUNS parameter data of which `received` bytes arrived: whole 8-byte
// entries within both the announced list length and the received bytes. Entries in the
// peripheral (00b) or flat (01b) addressing method give ((byte 0 & 3Fh) << 8) | byte 1; entries
// of other methods are skipped.
std::vector<int> parseReportLuns(const unsigned char* data, std::size_t received);

}  // namespace qxscsi::iscsi
