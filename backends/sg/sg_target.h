// Target implementation over the Linux SCSI generic driver (SG_IO, sg v3 interface).
#pragma once

#include <map>
#include <string>
#include <tuple>

#include "implementation_base.h"

namespace qxscsi::backends::sg {

class System;

// Reaches local SCSI devices through SG_IO. Device names: a node under /dev that takes SG_IO (/dev/sgN,
// /dev/sdX, /dev/stN, /dev/nstN, /dev/schN, ...), or an adapter name "//./scsiN:" that sends each
// command to the sg node of host N whose channel:id:lun is the record's bus/target/LUN.
class SgTargetImpl : public ImplementationBase {
 public:
  // Uses the host's system calls.
  SgTargetImpl();
  // Uses system, which the caller keeps alive for the life of this object.
  explicit SgTargetImpl(System& system);
  ~SgTargetImpl() override;

  // Opens name (borrowed); accessMode is not used.
  bool access(const char* name, int accessMode) override;
  // As access, with O_EXCL on every node opened.
  bool accessExclusive(const char* name, int accessMode) override;
  // Adopts the caller's descriptor (stays the caller's: never closed here); -1 drops what is open.
  void access(void* handle) override;
  // Closes the descriptors this object opened; false (not open) when nothing was open.
  bool release() override;
  // The opened node's channel/id/LUN as a bus/target/LUN address; false with -7 for adapter names.
  bool getScsiAddress(QXScsiAddress& address, bool& flag) override;
  // Sends the record with SG_IO; the caller's CDB and buffer are used in place.
  bool executeCommand(QXScsiCmd& cmd, const QXScsiDevice& device) override;
  // Adapter names: opens the node at address. Nodes: checks that address is the node's own.
  bool accessScsiTarget(const QXScsiAddress& address) override;
  // Nodes: true. Adapter names: false with -8 (the adapter is no SCSI target).
  bool accessScsiTarget(const QXScsiDevice& device) override;
  long implementationVersion() const override;
  // The node's descriptor (always above 2 when opened here); for adapter names the descriptor of
  // the last LUN addressed; -1 when none.
  int handle() const override;
  // The host number of the node or adapter; -1 when unknown or not open.
  int adapter() const override;

  // Whether this back-end takes the device name: a path under /dev or an adapter name "//./scsiN:".
  static bool takesName(const std::string& name);
  // Factory destroyer (QXScsiFactory::registerScsiTargetImpl).
  static void destroy(QXAbstractProduct* product);

 private:
  enum class Mode { closed, node, adapter };
  using Lun = std::tuple<unsigned, unsigned, unsigned long long>;  // channel, id, LUN

  bool open(const char* name, bool exclusive);
  // Serves the node open on fd (closed on release when owned) and reads its address.
  void useNode(int fd, bool owned);
  // Closes what this object opened and forgets an adopted descriptor; the last error stays.
  void closeAll();
  // Descriptor of the sg node for address in adapter mode (opened on first use); -1 on failure.
  int lunDescriptor(const QXScsiAddress& address);

  System& system;
  Mode mode = Mode::closed;
  bool exclusive = false;
  int nodeFd = -1;
  bool ownsNode = false;
  bool nodeAddressKnown = false;
  unsigned nodeHost = 0;
  unsigned nodeChannel = 0;
  unsigned nodeId = 0;
  unsigned long long nodeLun = 0;
  unsigned adapterNumber = 0;
  std::map<Lun, int> lunFds;
  int lastLunFd = -1;
};

}  // namespace qxscsi::backends::sg
