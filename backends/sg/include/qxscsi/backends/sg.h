// The SG back-end: local SCSI devices through the Linux SCSI generic driver (SG_IO, sg v3).
#pragma once

#include <memory>

#include "qxscsi/backends/backend.h"
#include "qxscsi/backends/sg_export.h"

namespace qxscsi::backends {

// A new SG back-end, owned by the caller (normally the installation). It takes device nodes
// under /dev that answer SG_IO (/dev/sgN, /dev/sdX, /dev/stN, ...) and adapter names
// "//./scsiN:", which reach the LUN at the target's bus/target/LUN address on host N.
QXSCSI_SG_EXPORT std::unique_ptr<Backend> makeSgBackend();

}  // namespace qxscsi::backends
