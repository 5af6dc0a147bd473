// Target implementation interface: the base class of every back-end, and our back-ends' error values.
#pragma once

#include <string>
#include <vector>

#include "qxpattern/product.h"
#include "qxscsi/commands.h"
#include "qxscsi/devices.h"
#include "qxscsi/export.h"
#include "qxscsi/parameters.h"
#include "qxscsiplatform/errors.h"

// Base of target implementations. Every operation has a default, so a back-end overrides only what it
// supports. Implementations are factory products; a target owns one through a shared holder (ownership.h).
class QXSCSI_EXPORT QXScsiTargetImpl : public QXAbstractProduct {
 public:
  // Empty hint, flags 0, implicit release enabled.
  QXScsiTargetImpl();

  // The virtual operations form the plug-in interface: their order must not change.
  // Deleted by its one holder (after release()), or by whoever still owns it alone.
  virtual ~QXScsiTargetImpl();
  // Accepts (true: stored for hint()) or refuses the hint of the creating target; hint stays the caller's.
  virtual bool hintFrom(std::string& hint);
  // Opens the device called name (borrowed for the call). Default: false.
  virtual bool access(const char* name, int accessMode);
  // Opens the device called name for exclusive use (borrowed for the call). Default: false.
  virtual bool accessExclusive(const char* name, int accessMode);
  // Adopts (or with -1 drops) the int handle that handle points at; the handle stays the caller's.
  virtual void access(void* handle);
  // Closes what access opened; harmless when nothing is open. Default: false.
  virtual bool release();
  // Writes the opened device's SCSI address into the caller's address. Default: flag false, false.
  virtual bool getScsiAddress(QXScsiAddress& address, bool& flag);
  // Carries out the caller's record (status, sense, error written into it). Default: false.
  virtual bool executeCommand(QXScsiCmd& cmd, const QXScsiDevice& device);
  // Accesses the SCSI target at address (borrowed). Default: true.
  virtual bool accessScsiTarget(const QXScsiAddress& address);
  // Accesses the SCSI target behind device (borrowed). Default: true.
  virtual bool accessScsiTarget(const QXScsiDevice& device);
  // Version of the implementation. Default: 0.
  virtual long implementationVersion() const;
  // Last error of the implementation, 0 for none (-7 and -8 carry the library's meaning).
  virtual long implementationError() const;
  // Writes the last error's text into the caller's message. Default: empty text.
  virtual void implementationErrorMsg(std::string& message) const;
  // Writes a hint on the last error into the caller's string. Default: leaves it unchanged.
  virtual void implementationErrorHint(std::string& hint);
  // Operating-system handle in use; -1 and 0 mean none. Default: 0.
  virtual int handle() const;
  // Adapter number of the opened device. Default: -1.
  virtual int adapter() const;
  // Platform code, -1 for none. Default: -1.
  virtual int os_platform() const;
  // Transport code, -1 for none. Default: -1.
  virtual int scsi_transport() const;
  // Reads the target's parameter list (borrowed for the call). Default: ignores it.
  virtual void overrideDefaultBehavior(const std::vector<QXScsi::ParameterData>& params);
  // Marks the handle as the caller's (adopted through access(void*)); for good.
  virtual void disableImplicitRelease();
  // Answers a state query of the implementation's own. Default: false.
  virtual bool isTargetState(unsigned long state) const;

  // The hint last accepted by the base hintFrom.
  const std::string& hint() const { return hintText; }
  // True once disableImplicitRelease() ran.
  bool implicitReleaseDisabled() const { return implicitReleaseOff; }
  // Sets or clears flag 1..32 of the implementation's own flag word; other numbers are ignored.
  void override(int flag, bool on);
  // Whether flag 1..32 is set; false for other numbers.
  bool override(int flag) const;

  // Record services: write the results of a command into the caller's record.
  // Stores error and, when message is not null, its text (copied).
  void setCmdErrorCode(QXScsiCmd& cmd, long error, const char* message);
  // Copies at most 255 bytes of the caller's sense data into the record.
  void setCmdSenseData(QXScsiCmd& cmd, unsigned char* sense, unsigned long length);
  // Stores the SCSI status byte.
  void setCmdScsiStatus(QXScsiCmd& cmd, unsigned char status);
  // Marks the record's sense data as stored in part only.
  void incompleteSense(QXScsiCmd& cmd, bool incomplete);

 private:
  std::string hintText;
  unsigned long implFlags;
  bool implicitReleaseOff;
};
