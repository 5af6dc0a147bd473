// start: START STOP UNIT (start, stop, load, eject; immediate).
#include "cli/daily.h"
#include "cli/send.h"
#include "qxscsi/target.h"

namespace qxscsi::cli {
namespace {

constexpr unsigned char startStopUnitCode = 0x1b;
constexpr unsigned char immedBit = 0x01;  // byte 1
constexpr unsigned char startBit = 0x01;  // byte 4
constexpr unsigned char loejBit = 0x02;   // byte 4

}  // namespace

int runStartStop(QXScsiTarget& target, const StartStopOptions& o, Output& out) {
  if (o.load && (o.stop || o.eject))
    return out.fail("start: --load starts the unit: it excludes --stop and --eject", exitContradicting);
  // Eject is LOEJ without START; load is LOEJ with START; stop is neither.
  const bool start = !(o.stop || o.eject);
  const bool loej = o.load || o.eject;
  const char* action = o.eject ? "eject" : o.load ? "load" : start ? "start" : "stop";
  const unsigned char cdb[6] = {startStopUnitCode, static_cast<unsigned char>(o.immediate ? immedBit : 0), 0, 0,
                                static_cast<unsigned char>((start ? startBit : 0) | (loej ? loejBit : 0)), 0};
  Request request;
  request.title = "START STOP UNIT:";
  request.cdb = cdb;
  request.cdbLength = sizeof cdb;
  Record rec = send(target, out.options(), request);
  out.doc()["action"] = action;
  out.doc()["immediate"] = o.immediate;
  if (!rec) return out.commandFailure("START STOP UNIT", target);
  const int status = out.commandOutcome(*rec);
  if (rec->scsiStatus() == 0)
    out.text() << action << (o.immediate ? ": accepted (immediate)" : ": done") << '\n';
  return status;
}

}  // namespace qxscsi::cli
