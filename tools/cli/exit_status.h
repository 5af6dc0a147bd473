// Exit statuses of the command-line tool, following the convention of sg3_utils' tools.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qxscsi::cli {

enum ExitStatus : int {
  exitOk = 0,
  exitSyntax = 1,
  exitNotReady = 2,
  exitMediumHard = 3,
  exitIllegalRequest = 5,
  exitUnitAttention = 6,
  exitDataProtect = 7,
  exitInvalidOpcode = 9,
  exitCopyAborted = 10,
  exitAbortedCommand = 11,
  exitFile = 15,     // unable to open or use the device or a file
  exitNoSense = 20,  // CHECK CONDITION whose sense key is NO SENSE
  exitReservationConflict = 24,
  exitConditionMet = 25,
  exitBusy = 26,
  exitTaskSetFull = 27,
  exitAcaActive = 28,
  exitTaskAborted = 29,
  exitContradicting = 31,
  exitTimeout = 33,
  exitMalformed = 97,
  exitSense = 98,
  exitOther = 99,
};

// Exit status for a command that the device answered with `status` and these sense bytes.
int exitStatusFor(unsigned char status, const uint8_t* sense, size_t senseLength);

// Exit status for a command that was not carried out, from the implementation error of the target.
int exitStatusForFailure(long implementationError);

}  // namespace qxscsi::cli
