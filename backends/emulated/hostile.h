// Hostile emulated devices: "hostile=<mode>" in a device name makes the device misbehave on every
// command, the way broken or overloaded hardware does, so that hosts can be tested against it.
//
//   lengths      returned data claims more than it holds (INQUIRY additional length, VPD page
//                length, LUN LIST LENGTH, REQUEST SENSE additional length,
//                RECEIVE COPY RESULTS available data), and only part of the data arrives
//   descriptors  VPD pages whose page length and first descriptor length run past what arrives
//   sense0, sense1, sense17, sense18, sense255
//                CHECK CONDITION with sense data of that many bytes (all but sense18 claim an
//                additional length of 255); sense0 hands over an empty sense buffer
//   nosense      CHECK CONDITION and no sense data at all
//   busy, conflict, taskfull
//                status BUSY, RESERVATION CONFLICT or TASK SET FULL, no data, no sense
//   timeout      every command times out, reported at once (commandTimeout_c), without waiting
//
// Only the lengths and descriptors modes carry commands out; the others answer before the
// device is touched, so media and unit state do not change.
#pragma once

#include <string>

#include "device.h"

namespace qxscsi::backends::emulated {

enum class Hostility {
  none,
  lengths,
  descriptors,
  sense0,
  sense1,
  sense17,
  sense18,
  sense255,
  noSense,
  busy,
  conflict,
  taskSetFull,
  timeout
};

// The mode named by `text` ("" is none); false for a text that names no mode.
bool hostilityFrom(const std::string& text, Hostility& out);
// The accepted texts, for messages.
const char* hostilityNames();

// What the implementation must do beyond writing the outcome into the record.
struct Mistreatment {
  bool timedOut = false;           // report commandTimeout_c instead of a status
  bool deliverEmptySense = false;  // hand over the (empty) sense data even though it is empty
};

// Carries `command` out on `device` the way a device in `mode` does. Reads and writes only
// inside the host's buffer, as the device itself does. `initiator` names the I_T nexus.
CommandResult executeHostile(Device& device, unsigned lun, const Command& command, Hostility mode,
                             Mistreatment& how, const std::string& initiator = std::string());

}  // namespace qxscsi::backends::emulated
