// The built-in back-ends, in the order the routing implementation asks them.
#include "qxscsi/backends/emulated.h"
#include "qxscsi/backends/install.h"

namespace qxscsi::backends {

// Each real back-end library defines its maker; CMake defines the macro when it is built.
#ifdef QXSCSI_HAVE_ISCSI
QXSCSI_EXPORT std::unique_ptr<Backend> makeIscsiBackend();
#endif
#ifdef QXSCSI_HAVE_SG
QXSCSI_EXPORT std::unique_ptr<Backend> makeSgBackend();
#endif

std::vector<std::unique_ptr<Backend>> builtinBackends() {
  std::vector<std::unique_ptr<Backend>> list;
  list.push_back(makeEmulatedBackend());  // "emulated:..."
#ifdef QXSCSI_HAVE_ISCSI
  list.push_back(makeIscsiBackend());  // "iscsi://..."
#endif
#ifdef QXSCSI_HAVE_SG
  list.push_back(makeSgBackend());  // "/dev/...", "//./scsiN:"
#endif
  return list;
}

}  // namespace qxscsi::backends
