// Set-up and tear-down of the back-ends: the factory singleton and the one implementation that opens every
// name.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "qxscsi/backends/backend.h"
#include "qxscsi/backends/export.h"
#include "qxscsi/target.h"

namespace qxscsi::backends {

// The back-ends' installation. While it lives, the companion registry knows the factory
// singleton "13QXScsiFactory", and the factory creates, for every target, one routing
// implementation that opens any device name a back-end takes: "emulated:..." and those
// of the real back-ends. Device state (the media of emulated devices) lives as long as
// the installation. Destroying it tears everything down: the implementation is
// unregistered, the factory singleton removed if install() registered it, the back-ends
// destroyed. Targets opened before keep their open devices; they open no new names.
//
// One installation at a time per process; set up and tear down on one thread while no
// target is in use on another.
class QXSCSI_BACKENDS_EXPORT Installation {
 public:
  ~Installation();
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  // The back-end that takes `deviceName`, or null. The installation keeps ownership.
  Backend* backendFor(const std::string& deviceName) const;
  // The back-ends in the order they are asked.
  const std::vector<std::unique_ptr<Backend>>& backends() const { return backends_; }
  // Appends to `groups` the devices the back-ends can open now: with an empty `scope` those each
  // back-end finds by itself, back-end by back-end; else those within `scope`, from the first
  // back-end that takes it, every network step bounded by `timeoutSeconds`. False, with the
  // reason in `error`, when no back-end takes the scope or it cannot be listed.
  bool list(const std::string& scope, unsigned long timeoutSeconds, std::vector<DeviceGroup>& groups,
            std::string& error) const;
  // The device-name forms of all back-ends, in the order they are asked.
  std::vector<std::string> nameSyntax() const;

  // The live installation, or null. Used by the routing implementation; owned by whoever
  // called install().
  static Installation* current();

 private:
  friend std::unique_ptr<Installation> install(std::vector<std::unique_ptr<Backend>> backends);
  explicit Installation(std::vector<std::unique_ptr<Backend>> backends);
  bool setUp();

  std::vector<std::unique_ptr<Backend>> backends_;
  bool ownsFactory_ = false;
  bool linked_ = false;
};

// The built-in back-ends in the order they are asked: emulated first, then the real ones.
QXSCSI_BACKENDS_EXPORT std::vector<std::unique_ptr<Backend>> builtinBackends();

// Installs the built-in back-ends. The caller owns the result, whose destruction tears down;
// null when another installation is alive.
QXSCSI_BACKENDS_EXPORT std::unique_ptr<Installation> install();

// Installs exactly `backends` (ownership passes to the installation), for embedders and tests.
// Null when another installation is alive.
QXSCSI_BACKENDS_EXPORT std::unique_ptr<Installation> install(std::vector<std::unique_ptr<Backend>> backends);

// The facts of the last command that `target` (borrowed) executed through the back-end its device
// name was routed to: bytes asked for and transferred, residual, overflow, duration. False,
// leaving `facts` alone, when nothing is routed, no command was executed or the back-end keeps none.
QXSCSI_BACKENDS_EXPORT bool lastCommand(const QXScsiTarget& target, CommandFacts& facts);

// The implementation that a target's implementation `impl` (borrowed) routed its device name to,
// for queries of one back-end's own (for instance a residual count): null while nothing is routed,
// `impl` itself when it is not the routing implementation, null for null.
QXSCSI_BACKENDS_EXPORT QXScsiTargetImpl* routedImplementation(QXScsiTargetImpl* impl);

}  // namespace qxscsi::backends
