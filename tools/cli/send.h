// Sending one command: the CDB the tool shows (-v, --trace), through cmdCall with -t or the library's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "cli/options.h"
#include "qxscsi/commands.h"

class QXScsiTarget;

namespace qxscsi::cli {

using Record = std::unique_ptr<QXScsiCmd, void (*)(QXScsiCmd*)>;

// Timeout of a command the tool sends through cmdCall when -t is not given: the library's own
// values for its standard commands.
constexpr unsigned long defaultTimeout_c = 10;
constexpr unsigned long extendedCopyTimeout_c = 300;

// One command: its CDB and data buffer (both the caller's; they outlive the record).
struct Request {
  const char* title = "ANY SCSI COMMAND:";  // heading of its --trace
  const unsigned char* cdb = nullptr;
  unsigned char cdbLength = 0;
  unsigned char* data = nullptr;
  unsigned long dataLength = 0;
  int direction = QXScsi::noData_c;
  unsigned long defaultTimeout = defaultTimeout_c;  // cmdCall without -t
};

// Traces `request` with --trace, then sends it: with -t through cmdCall with those seconds; without
// -t through `standard` (the library's command, which sends the same CDB) when given, else through
// cmdCall with request.defaultTimeout. The record goes to the caller; null when not carried out.
Record send(QXScsiTarget& target, const Options& options, const Request& request,
            const std::function<QXScsiCmd*()>& standard = nullptr);

}  // namespace qxscsi::cli
