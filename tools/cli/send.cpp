// Sending one command with the timeout the user chose.
#include "cli/send.h"

#include <cstdio>

#include "qxscsi/target.h"

namespace qxscsi::cli {

Record send(QXScsiTarget& target, const Options& options, const Request& request,
            const std::function<QXScsiCmd*()>& standard) {
  QXScsiAnyArgs args(request.cdb, request.cdbLength, request.data, request.dataLength,
                     request.dataLength == 0 ? QXScsi::noData_c : request.direction);
  if (options.trace) {
    std::ostrstream os;
    args.traceTo(os, 0, request.title, true);
    std::fputs(os.str(), stderr);
    os.freeze(false);
  }
  if (options.timeout == 0 && standard) return Record(standard(), QXScsiFreeCmd);
  return Record(target.cmdCall(args, options.timeout != 0 ? options.timeout : request.defaultTimeout),
                QXScsiFreeCmd);
}

}  // namespace qxscsi::cli
