// SCSI status bytes and their names (header-only, internal to the project).
#pragma once

namespace qxscsi::wire {

constexpr unsigned char statusGood = 0x00;
constexpr unsigned char statusCheckCondition = 0x02;
constexpr unsigned char statusConditionMet = 0x04;
constexpr unsigned char statusBusy = 0x08;
constexpr unsigned char statusReservationConflict = 0x18;
constexpr unsigned char statusTaskSetFull = 0x28;
constexpr unsigned char statusAcaActive = 0x30;
constexpr unsigned char statusTaskAborted = 0x40;

// The SAM name of a status byte ("CHECK CONDITION"); "unknown status" for others. Static text.
inline const char* statusName(unsigned char status) {
  switch (status) {
    case statusGood: return "GOOD";
    case statusCheckCondition: return "CHECK CONDITION";
    case statusConditionMet: return "CONDITION MET";
    case statusBusy: return "BUSY";
    case statusReservationConflict: return "RESERVATION CONFLICT";
    case statusTaskSetFull: return "TASK SET FULL";
    case statusAcaActive: return "ACA ACTIVE";
    case statusTaskAborted: return "TASK ABORTED";
    default: return "unknown status";
  }
}

}  // namespace qxscsi::wire
