// Implementation error values that our own target back-ends report.
#pragma once

namespace QXScsiPlatform {

// Values a back-end returns as its implementation error. -7 and -8 keep the meaning the
// target gives them; all others lie below -9, clear of the target's local error values.
enum ImplementationError : long {
  noScsiAddress_c = -7,                 // no SCSI address can be given for this device
  targetAccessNotApplicable_c = -8,     // SCSI target access does not apply
  unknownDeviceName_c = -10,            // no back-end takes this device name
  deviceNotFound_c = -11,               // node, adapter, iSCSI target or LUN does not exist
  accessDenied_c = -12,                 // permission refused, login/authentication refused
  deviceBusy_c = -13,                   // exclusive access refused (EBUSY)
  notOpen_c = -14,                      // command or query on an implementation that is not open
  invalidRequest_c = -15,               // bad CDB length, short data buffer, bad parameter value
  commandTimeout_c = -16,               // the command timed out
  connectionFailed_c = -17,             // a SCSI-over-TCP connection could not be established
  establishedConnectionFailed_c = -18,  // an established SCSI-over-TCP connection failed
  hostAdapterError_c = -19,             // host adapter / host status reported a failure
  driverError_c = -20,                  // driver status reported a failure
  ioError_c = -21,                      // any other operating-system or transport failure
  outOfResources_c = -22                // out of memory / task set full at transport level
};

}  // namespace QXScsiPlatform
