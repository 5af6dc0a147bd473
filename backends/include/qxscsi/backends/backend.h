// Backend: the plug-in interface through which a kind of device joins the one registered implementation.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "qxscsi/implementation.h"

namespace qxscsi::backends {

// What the last command executed through an implementation moved, as its back-end saw it.
struct CommandFacts {
  unsigned long requested = 0;    // bytes of the record's data buffer (0 without data)
  unsigned long transferred = 0;  // bytes that crossed: requested less an underflow residual
  unsigned long residual = 0;     // bytes not transferred, or with overflow those beyond the buffer
  bool overflow = false;          // the device had more data than the buffer held
  std::chrono::nanoseconds duration{0};  // wall time from sending the command to its answer
};

// Devices that a back-end lists together: its own devices, or those behind one target of a
// scope (an iSCSI target behind a portal).
struct DeviceGroup {
  std::string name;                    // what holds the devices (a target's name); empty for none
  std::vector<std::string> addresses;  // where it answers, as the back-end reports it
  std::vector<std::string> devices;    // device names that open its devices, in order
  std::vector<unsigned long> luns;     // the LUN of each device, where the back-end knows it
  std::string error;                   // why its devices could not be listed (devices then empty)
};

// One kind of device that targets can open by name: emulated devices, Linux SCSI generic
// nodes, iSCSI targets. The installation owns its back-ends until tear-down; the routing
// implementation asks them, in order, which one takes a device name, and has that one
// create the implementation that then serves the target.
//
// A back-end answers device names only; it keeps no pointer to the implementations it
// created, which may outlive it (a target can outlive the installation).
class Backend {
 public:
  virtual ~Backend() = default;

  // Short lower-case name for messages and listings ("emulated").
  virtual const char* name() const = 0;

  // The forms of device name this back-end takes, one text each, for hints and help
  // ("emulated:disk|tape|changer[?OPTION=VALUE&...]").
  virtual std::vector<std::string> nameSyntax() const { return {}; }

  // True when `deviceName` has this back-end's form (for instance the prefix "emulated:").
  // Only the form is judged: a missing device is reported later by access().
  virtual bool takes(const std::string& deviceName) const = 0;

  // True when `deviceName` (one this back-end takes) reaches a device only together with a
  // bus/target/LUN address, as an adapter name does.
  virtual bool needsAddress(const std::string&) const { return false; }

  // A new implementation for `deviceName` (borrowed), not yet open. The caller owns it and
  // opens it with access() or accessExclusive() and that same name.
  virtual std::unique_ptr<QXScsiTargetImpl> create(const std::string& deviceName) = 0;

  // A new implementation that adopts the caller's operating-system handle (which stays the
  // caller's), or null when this back-end does not work with handles.
  virtual std::unique_ptr<QXScsiTargetImpl> adopt(int) { return nullptr; }

  // True when this back-end lists the devices within `scope` (not empty; an iSCSI portal).
  virtual bool takesScope(const std::string&) const { return false; }

  // Appends to `groups` the devices this back-end can open now: with an empty `scope` those it
  // finds by itself (possibly none), else those within `scope`, every network step bounded by
  // `timeoutSeconds`. False, with the reason in `error`, when the scope cannot be listed.
  virtual bool list(const std::string& /*scope*/, unsigned long /*timeoutSeconds*/,
                    std::vector<DeviceGroup>& /*groups*/, std::string& /*error*/) const {
    return true;
  }

  // The facts of the last command that `impl` (made by this back-end) executed; false, leaving
  // `facts` alone, when it executed none or does not keep them.
  virtual bool lastCommand(const QXScsiTargetImpl&, CommandFacts&) const { return false; }
};

}  // namespace qxscsi::backends
