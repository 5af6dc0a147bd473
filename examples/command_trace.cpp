// Placeholder: prints a trace layout until the command model lands.
#include <cstdio>
#include "qxscsi/qxscsi.h"
int main() {
  std::ostrstream os;
  QXScsiTrace t;
  t.tracePrefix(os, "ANY SCSI COMMAND:", 1);
  t.terminate(os, true);
  std::fputs(os.str(), stdout);
  os.freeze(false);
  return 0;
}
