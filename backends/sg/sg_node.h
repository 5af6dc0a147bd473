// SCSI generic nodes: opening, finding them by SCSI address in sysfs, and one SG_IO command.
#pragma once

#include <string>

#include <vector>
#include "implementation_base.h"

#include "sg_system.h"

namespace qxscsi::backends::sg {

// A Linux SCSI device address host:channel:id:lun, as sysfs names it.
struct ScsiId {
  unsigned host = 0;
  unsigned channel = 0;
  unsigned id = 0;
  unsigned long long lun = 0;
};

bool operator==(const ScsiId& a, const ScsiId& b);

// Reads "h:c:t:l" (the whole text); false leaves out alone.
bool parseScsiId(const std::string& text, ScsiId& out);

// Reads an adapter name "//./scsiN:" (decimal N, nothing after the colon); false leaves adapter alone.
bool parseAdapterName(const std::string& name, unsigned& adapter);

// The back-end's implementation error for a negative errno value from System.
long errorFromErrno(int negativeErrno);

// Opens a node for SG_IO: read-write, or read-only where the node refuses writing; exclusive
// adds O_EXCL. Never blocks on open, closes on exec, and the descriptor is above 2. Answers the
// descriptor (owned by the caller) or a negative implementation error.
int openNode(System& system, const std::string& path, bool exclusive);

// The SCSI address of the node open on fd, read through its sysfs "device" link.
bool nodeScsiId(System& system, int fd, ScsiId& out);

// The /dev path of the sg node with the address id; "" when there is none.
std::string findSgNode(System& system, const ScsiId& id);

// The /dev paths of all sg nodes, in numeric order.
std::vector<std::string> listSgNodes(System& system);

// Whether host adapter number host exists.
bool adapterExists(System& system, unsigned host);

// One command as the caller states it; the buffers stay the caller's and are not copied. A
// timeoutSeconds of 0 leaves the timeout to the driver.
using Request = CommandView;

// What the device and the host adapter answered.
struct DriverReply {
  unsigned char status = 0;
  unsigned char sense[255] = {};
  unsigned senseLength = 0;  // bytes the driver wrote into sense
  int residual = 0;          // requested minus transferred bytes, as the driver reports it
  unsigned short hostStatus = 0;
  unsigned short driverStatus = 0;
};

// Milliseconds for SG_IO from a timeout in seconds, saturated at the field's width.
unsigned timeoutMilliseconds(unsigned long seconds);

// Sends the request with SG_IO on fd, retrying an interrupted call. Answers 0 when the device
// answered (status, sense and residual in outcome; any SCSI status), else a negative
// implementation error (outcome then holds what the driver reported, if anything).
long execute(System& system, int fd, const Request& request, DriverReply& outcome);

}  // namespace qxscsi::backends::sg
