// Backend: the plug-in interface through which a kind of device joins the one registered implementation.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "qxscsi/export.h"
#include "qxscsi/implementation.h"

namespace qxscsi::backends {

// One kind of device that targets can open by name: emulated devices, Linux SCSI generic
// nodes, iSCSI targets. The installation owns its back-ends until tear-down; the routing
// implementation asks them, in order, which one takes a device name, and has that one
// create the implementation that then serves the target.
//
// A back-end answers device names only; it keeps no pointer to the implementations it
// created, which may outlive it (a target can outlive the installation).
class QXSCSI_EXPORT Backend {
 public:
  virtual ~Backend() = default;

  // Short lower-case name for messages and listings ("emulated").
  virtual const char* name() const = 0;

  // True when `deviceName` has this back-end's form (for instance the prefix "emulated:").
  // Only the form is judged: a missing device is reported later by access().
  virtual bool takes(const std::string& deviceName) const = 0;

  // A new implementation for `deviceName` (borrowed), not yet open. The caller owns it and
  // opens it with access() or accessExclusive() and that same name.
  virtual std::unique_ptr<QXScsiTargetImpl> create(const std::string& deviceName) = 0;

  // A new implementation that adopts the caller's operating-system handle (which stays the
  // caller's), or null when this back-end does not work with handles.
  virtual std::unique_ptr<QXScsiTargetImpl> adopt(int) { return nullptr; }

  // Device names that this back-end can open now, for listings; may be empty.
  virtual std::vector<std::string> devices() const { return {}; }
};

}  // namespace qxscsi::backends
