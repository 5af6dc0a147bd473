// The emulated back-end: in-process disks, tapes and medium changers opened as "emulated:<type>[?options]".
#pragma once

#include <memory>

#include "qxscsi/backends/backend.h"
#include "qxscsi/backends/emulated_export.h"

namespace qxscsi::backends {

// A new emulated back-end, owned by the caller (normally the installation). It owns the
// emulated devices: a device comes into being when a target first opens its name and lives
// as long as the back-end, so every target opened on the same name sees the same media.
QXSCSI_EMULATED_EXPORT std::unique_ptr<Backend> makeEmulatedBackend();

}  // namespace qxscsi::backends
