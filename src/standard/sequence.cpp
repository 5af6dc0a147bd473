// The sequence that every ready-made command of a target runs once its CDB is built:
// raw-CDB record, the target's current address, a fixed timeout, direct execution by the
// implementation, and release of the record when the implementation did not carry it out.
//
// Unlike cmdCall, the sequence runs no precondition, checks no address, asks no device for a
// timeout and neither clears nor sets the target's local error. Each command checks valid()
// itself before it builds anything, so a target that is not open sends nothing and is not
// re-opened.
#include <memory>

#include "qxscsi/commands.h"
#include "qxscsi/devices.h"
#include "qxscsi/implementation.h"
#include "qxscsi/target.h"

QXScsiCmd* QXScsiTarget::executeStandardCommand(const unsigned char* cdb, unsigned char cdbLength,
                                                unsigned char* data, unsigned long dataLength, int direction,
                                                unsigned long timeout) {
  QXScsiTargetImpl* impl = getScsiTargetImpl();
  if (impl == nullptr) return nullptr;  // valid() was true, so this only guards a misuse
  const QXScsiDevice device;            // the default descriptor, for this call only
  // Released by QXScsiFreeCmd on every path but the one that hands it to the caller,
  // including an exception thrown out of executeCommand.
  std::unique_ptr<QXScsiCmd, void (*)(QXScsiCmd*)> cmd(
      new QXScsiCmd(cdb, cdbLength, data, dataLength, direction), &QXScsiFreeCmd);
  cmd->setScsiAddress(currentAddress);
  cmd->setTimeout(timeout);
  if (!impl->executeCommand(*cmd, device)) return nullptr;
  return cmd.release();
}
