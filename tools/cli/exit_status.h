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
  exitMiscompare = 14,
  exitFile = 15,     // unable to open or use the device or a file (no operating-system error number)
  exitNoSense = 20,  // CHECK CONDITION whose sense key is NO SENSE
  exitRecovered = 21,
  exitLbaOutOfRange = 22,
  exitReservationConflict = 24,
  exitConditionMet = 25,
  exitBusy = 26,
  exitTaskSetFull = 27,
  exitAcaActive = 28,
  exitTaskAborted = 29,
  exitContradicting = 31,
  exitTimeout = 33,
  exitOsError = 50,  // 50 + errno for errno 1 to 46; 50 for larger ones
  exitMalformed = 97,
  exitSense = 98,
  exitOther = 99,
};

// How a subcommand treats a CHECK CONDITION with RECOVERED ERROR, as its paired sg3_utils tool
// does: the standard commands (sg_inq, sg_turs, ...) take it as success (exit 0), raw (sg_raw)
// reports it (21).
enum class Completion { standard, raw };

// Exit status for a command that the device answered with `status` and these sense bytes.
int exitStatusFor(unsigned char status, const uint8_t* sense, size_t senseLength,
                  Completion completion = Completion::standard);

// Exit status for an operating-system error number: 50 + errno, 50 when that passes 96.
int exitStatusForErrno(int error);

// Exit status for a command that was not carried out, from the implementation error of the target.
int exitStatusForFailure(long implementationError);

// Exit status for a device that could not be opened. `fromOpenCall`: the back-end opens an
// operating-system node, so its error classes stand for the errno of open(2) (ENOENT, EACCES,
// EBUSY, ENOMEM, EIO: 50 + errno); else (an iSCSI login refused, a name no back-end takes) 15.
int exitStatusForOpening(long implementationError, bool fromOpenCall);

}  // namespace qxscsi::cli
