// Targets: QXScsiTarget (dispatch, opening, closing, standard commands) and the parallel-SCSI target.
#pragma once

#include <string>
#include <vector>

#include "qxscsi/commands.h"
#include "qxscsi/devices.h"
#include "qxscsi/export.h"
#include "qxscsi/implementation.h"
#include "qxscsi/ownership.h"
#include "qxscsi/parameters.h"

// One SCSI target as a caller reaches it. Works through an implementation that it obtains on first need
// (from getClientScsiTargetImpl, else from the factory singleton) and shares with copies of itself.
// Used from one thread at a time, together with every target sharing its implementation.
//
// Local errors: 0 none, -1 no record could be created, -2 the implementation did not carry out the
// command and gave no reason, -3 address required but undefined (flag 3), -4 no implementation (or a
// reference count below 1 at close), -6 the precondition refused the command, -9 close refused because
// other targets share the implementation.
// Behaviour flags: 1 access the SCSI target after opening, 2 a failed target access fails the opening,
// 3 refuse commands while the address is undefined, 6 open with exclusive access.
class QXSCSI_EXPORT QXScsiTarget {
 public:
  using Parameters = std::vector<QXScsi::ParameterData>;

  // Not open, no implementation yet, address undefined.
  QXScsiTarget();
  // As above, with the current address a copy of address.
  QXScsiTarget(const QXScsiAddress& address);
  // Shares other's implementation (if it has one) and copies its state.
  QXScsiTarget(const QXScsiTarget& other);
  // Copies other's state and shares its implementation; drops the own share.
  QXScsiTarget& operator=(const QXScsiTarget& other);

  // The virtual operations, in this order.
  // Hook for subclasses: a new implementation that the target takes over (kept or deleted), or null.
  virtual QXScsiTargetImpl* getClientScsiTargetImpl() const;
  // Writes the hint for the factory into the caller's string. Default: empty.
  virtual void implementationHint(std::string& hint) const;
  // Switches flags 1, 2 and 6 on from "access_target" / "exclusive_access" = "y" (params borrowed).
  virtual void overrideDefaultBehavior(const Parameters& params);
  // Drops the share of the implementation; the last share releases and deletes it.
  virtual ~QXScsiTarget();

  // Implementation access.
  // The shared implementation, borrowed; obtained here on first need; null when none can be had.
  QXScsiTargetImpl* getScsiTargetImpl() const;
  // True when marked open and an implementation is at hand.
  bool valid() const;
  // Sets the open mark only.
  void valid(bool v) { validMark = v; }

  // Dispatch. Each returns a record owned by the caller (free it with QXScsiFreeCmd), or null.
  // args and device are borrowed; timeout in seconds, 0 for the device's default.
  QXScsiCmd* cmdCall(QXScsiArgs& args, unsigned long timeout);
  QXScsiCmd* cmdCall(QXScsiArgs& args, const QXScsiDevice& device, unsigned long timeout);
  QXScsiCmd* doCall(QXScsiArgs& args, const QXScsiDevice& device, unsigned long timeout);

  // Errors and facts.
  // The target's own error (table above).
  long localError() const { return localErrorCode; }
  void localError(long e) { localErrorCode = e; }
  // The local error if set, else the implementation's; -4 (also stored) when there is no implementation.
  long implementationError() const;
  // Writes the implementation's hint (or why there is none) into the caller's string.
  void implementationErrorHint(std::string& hint);
  // The implementation's version; -1 with local error -4 when there is no implementation.
  long implementationVersion() const;
  // The implementation's codes; -1 when there is no implementation.
  int os_platform() const;
  int scsi_transport() const;
  // The implementation's answer; false when there is no implementation.
  bool isTargetState(unsigned long state) const;

  // Behaviour flags 1..32 (other numbers are ignored and read as clear).
  void override(int flag, bool on);
  bool override(int flag) const;

  // Opening and access. name and params are borrowed; params may be null.
  // Opens the device called name, then (flag 1) the SCSI target at address.
  bool initScsiTarget(const char* name, const QXScsiAddress& address, int accessMode,
                      const Parameters* params);
  // Opens the device called name, then (flag 1) the SCSI target behind device.
  bool initScsiTarget(const char* name, const QXScsiDevice& device, int accessMode, const Parameters* params);
  // Releases, then opens again the way the last initialisation did.
  bool reset(const Parameters* params);
  // Releases the implementation's device, if there is an implementation.
  void cleanupScsiTarget();
  // wasOpen receives the open mark as it was; then reset(params).
  bool open(bool& wasOpen, const Parameters* params);
  // Releases the device unless other targets share it (-9) and force is false.
  bool close(bool force);
  // Number of targets sharing this target's implementation holder.
  int getReferenceCount() const;
  // Hands the caller's handle (an int, borrowed) to the implementation; -1 drops a handle.
  bool access(void* handle);
  // Accesses the SCSI target at address (borrowed); becomes the current address on success.
  bool accessScsiTarget(const QXScsiAddress& address);
  // Accesses the SCSI target behind device (borrowed) and asks the implementation for its address.
  bool accessScsiTarget(const QXScsiDevice& device);
  // Copies address into the current address; an undefined one marks the target not open.
  void setScsiAddress(const QXScsiAddress& address);
  // Copies the current address into the caller's address when it is defined.
  bool getScsiAddress(QXScsiAddress& address) const;
  // Whether flag 3 lets commands through with an undefined address.
  bool ignoreUndefinedAddress() const { return ignoreAddressMark; }
  void ignoreUndefinedAddress(bool ignore) { ignoreAddressMark = ignore; }

  // Standard commands: sent straight to the implementation with a fixed timeout; need an open target.
  // Each returns a record owned by the caller (free it with QXScsiFreeCmd), or null. Buffers are the
  // caller's and must outlive the reading of the record. A null buffer with a non-zero length, and a
  // length above 4,294,967,295 (it does not fit the CDB), are refused: null, nothing sent.
  QXScsiCmd* cmdInquiry(unsigned char* buffer, unsigned char allocationLength);
  QXScsiCmd* cmdTestUnitReady();
  QXScsiCmd* cmdRequestSense(unsigned char* buffer, unsigned char allocationLength);
  // *lunCount: capacity of lunList in, number of logical units reported out (0 unless status GOOD);
  // unchanged on null. A null lunList counts as capacity 0; a null lunCount, or a capacity above
  // 536,870,911 (8 x capacity + 4 must fit 32 bits), is refused. Bytes the device does not return
  // read as 0; entries are copied only from what was asked for.
  QXScsiCmd* cmdReportLuns(unsigned char* lunList, unsigned long* lunCount);
  // The four leading arguments have no effect on the command.
  QXScsiCmd* cmdExtendedCopy(unsigned char listIdentifier, bool noListIdentifier, bool stripVendor,
                             unsigned char priority, unsigned char* parameterList,
                             unsigned long parameterListLength);
  QXScsiCmd* cmdReceiveCopyResults(unsigned char serviceAction, unsigned char listIdentifier,
                                   unsigned char* buffer, unsigned long allocationLength);

 private:
  // The standard-command sequence on an open target: a record for cdb (copied) and the caller's data,
  // the current address, timeout seconds, executeCommand. The record goes to the caller; null (record
  // released) when the implementation did not carry it out.
  QXScsiCmd* executeStandardCommand(const unsigned char* cdb, unsigned char cdbLength, unsigned char* data,
                                    unsigned long dataLength, int direction, unsigned long timeout);

  bool validMark;
  mutable long localErrorCode;
  mutable QXScsiTargetImplReference implReference;
  QXScsiAddress currentAddress;
  bool ignoreAddressMark;
  std::string openName;
  QXScsiAddress openAddress;
  QXScsiDevice openDevice;
  int accessMode;
  unsigned long behaviourFlags;
};

// Target for parallel-SCSI devices; its constructors open the device at once and never throw on failure.
class QXSCSI_EXPORT QXScsiSPITarget : public QXScsiTarget {
 public:
  // Not opened.
  QXScsiSPITarget();
  // Opens the device called name (borrowed). Adds "access_target" = "y" to the caller's list (which
  // therefore is not const) when it has no value for it; params may be null.
  QXScsiSPITarget(const char* name, Parameters* params = nullptr);
  // Opens the device called name at bus/target/LUN; params (borrowed, may be null) unchanged.
  QXScsiSPITarget(const char* name, unsigned char bus, unsigned char target, unsigned char lun,
                  const Parameters* params = nullptr);
  // Opens the device of host adapter adapterNumber at bus/target/LUN; params borrowed, may be null.
  QXScsiSPITarget(unsigned short adapterNumber, unsigned char bus, unsigned char target, unsigned char lun,
                  const Parameters* params = nullptr);
  // Adopts the caller's handle (it stays the caller's) and reads the address from the implementation.
  QXScsiSPITarget(int handle, const Parameters* params = nullptr);
  // Adopts the caller's handle at bus/target/LUN and marks the target open.
  QXScsiSPITarget(int handle, unsigned char bus, unsigned char target, unsigned char lun,
                  const Parameters* params = nullptr);

  // Same rules as QXScsiTarget::overrideDefaultBehavior.
  void overrideDefaultBehavior(const Parameters& params) override;
  // Runs the base destructor only.
  ~QXScsiSPITarget() override;
  // The implementation's handle; QXScsi::invalidHandleValue_c when there is no implementation.
  int handle() const;
  // The implementation's adapter number; -1 when there is no implementation.
  virtual int adapter() const;
  // Shares other's implementation.
  QXScsiSPITarget& operator=(const QXScsiSPITarget& other);
  // Shares other's implementation.
  QXScsiSPITarget(const QXScsiSPITarget& other) = default;
};

namespace QXScsi {

// The handle value that means no handle.
inline constexpr int invalidHandleValue_c = -1;

// Sets the first three integers to -1, leaves the fourth alone and answers false: the address of an SPI
// target is read with QXScsiTarget::getScsiAddress on this platform. target is borrowed.
QXSCSI_EXPORT bool getScsiAddress(int& a, int& b, int& c, const QXScsiSPITarget& target, int& d);
// Whether target's implementation error means that an established SCSI-over-TCP connection failed.
QXSCSI_EXPORT bool failureInEstablishedScsiTcpConnection(const QXScsiTarget& target);

}  // namespace QXScsi
