// Mapping of SCSI outcomes to exit statuses; sense categories come from libsgutils2.
#include "cli/exit_status.h"

#include <scsi/sg_lib.h>

#include "qxscsiplatform/errors.h"
#include "wire/status.h"

namespace qxscsi::cli {

int exitStatusFor(unsigned char status, const uint8_t* sense, size_t senseLength) {
  switch (status & 0xfe) {
    case wire::statusGood:
      return exitOk;
    case wire::statusCheckCondition: {
      if (sense == nullptr || senseLength == 0) return exitSense;
      // A recovered error means the command completed. NO SENSE keeps its own status: a CHECK
      // CONDITION is never reported as success because its sense data says little.
      int cat = sg_err_category_sense(sense, static_cast<int>(senseLength));
      return cat == SG_LIB_CAT_RECOVERED ? exitOk : cat;
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

}  // namespace qxscsi::cli
