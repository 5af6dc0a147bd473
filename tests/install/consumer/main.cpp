// A program outside the project: builds an INQUIRY and prints the library's trace of it.
#include <cstdio>

#include "qxscsi/qxscsi.h"

int main() {
  unsigned char cdb[6] = {0x12, 0, 0, 0, 36, 0};
  unsigned char data[36];
  QXScsiAnyArgs args(cdb, 6, data, sizeof data, QXScsi::dataIn_c);
  std::ostrstream os;
  args.traceTo(os, 0, nullptr, true);
  std::fputs(os.str(), stdout);
  os.freeze(false);
  return args.valid() ? 0 : 1;
}
