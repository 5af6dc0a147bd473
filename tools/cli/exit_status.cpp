// Mapping of SCSI outcomes to exit statuses; sense categories come from libsgutils2.
#include "cli/exit_status.h"

#include <scsi/sg_lib.h>

#include <cerrno>

#include "qxscsiplatform/errors.h"
#include "wire/status.h"

namespace qxscsi::cli {

int exitStatusFor(unsigned char status, const uint8_t* sense, size_t senseLength, Completion completion) {
  switch (status & 0xfe) {
    case wire::statusGood:
      return exitOk;
    case wire::statusCheckCondition: {
      if (sense == nullptr || senseLength == 0) return exitSense;
      // A RECOVERED ERROR completed the command. NO SENSE keeps its own status everywhere: sense
      // cut short reads as NO SENSE, and a CHECK CONDITION is not reported as success on so little.
      int cat = sg_err_category_sense(sense, static_cast<int>(senseLength));
      if (completion == Completion::standard && cat == SG_LIB_CAT_RECOVERED) return exitOk;
      return cat;
    }
    case wire::statusConditionMet:
      return exitConditionMet;
    case wire::statusBusy:
      return exitBusy;
    case wire::statusReservationConflict:
      return exitReservationConflict;
    case wire::statusTaskSetFull:
      return exitTaskSetFull;
    case wire::statusAcaActive:
      return exitAcaActive;
    case wire::statusTaskAborted:
      return exitTaskAborted;
    default:
      return exitOther;
  }
}

int exitStatusForFailure(long error) {
  switch (error) {
    case QXScsiPlatform::commandTimeout_c:
      return exitTimeout;
    case QXScsiPlatform::unknownDeviceName_c:
    case QXScsiPlatform::deviceNotFound_c:
    case QXScsiPlatform::accessDenied_c:
    case QXScsiPlatform::deviceBusy_c:
    case QXScsiPlatform::notOpen_c:
    case QXScsiPlatform::connectionFailed_c:
      return exitFile;
    default:
      return exitOther;
  }
}

int exitStatusForErrno(int error) {
  if (error <= 0) return exitOther;
  return exitOsError + error > exitMalformed - 1 ? exitOsError : exitOsError + error;
}

int exitStatusForOpening(long error, bool fromOpenCall) {
  if (fromOpenCall) {
    switch (error) {
      case QXScsiPlatform::deviceNotFound_c:
        return exitStatusForErrno(ENOENT);
      case QXScsiPlatform::accessDenied_c:
        return exitStatusForErrno(EACCES);
      case QXScsiPlatform::deviceBusy_c:
        return exitStatusForErrno(EBUSY);
      case QXScsiPlatform::outOfResources_c:
        return exitStatusForErrno(ENOMEM);
      case QXScsiPlatform::ioError_c:
        return exitStatusForErrno(EIO);
      default:
        break;
    }
  }
  return exitFile;
}

}  // namespace qxscsi::cli
