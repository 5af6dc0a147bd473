// The numbers a target gives a meaning to: its local error values, the implementation error values it
// interprets, and its behaviour flags (the tables in qxscsi/target.h).
#pragma once

#include "qxscsiplatform/errors.h"

namespace qxscsi::targets {

// Local errors.
constexpr long kNoRecord = -1;             // no record could be created
constexpr long kNotExecuted = -2;          // the implementation did not carry out the command, no reason
constexpr long kAddressUndefined = -3;     // address required (flag 3) but undefined
constexpr long kNoImplementation = -4;     // no implementation, or a reference count below 1 at close
constexpr long kPreconditionRefused = -6;  // the precondition refused the command
constexpr long kShared = -9;               // close refused: other targets share the implementation

// Implementation errors the target interprets.
constexpr long kNoScsiAddress = QXScsiPlatform::noScsiAddress_c;                    // -7
constexpr long kAccessNotApplicable = QXScsiPlatform::targetAccessNotApplicable_c;  // -8

// Behaviour flags.
constexpr int kAccessTargetFlag = 1;       // access the SCSI target after opening
constexpr int kAccessMustSucceedFlag = 2;  // a failed target access fails the opening
constexpr int kAddressRequiredFlag = 3;    // refuse commands while the address is undefined
constexpr int kExclusiveFlag = 6;          // open with exclusive access

}  // namespace qxscsi::targets
