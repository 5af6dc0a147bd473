// Args of an arbitrary CDB.
#include "qxscsi/commands.h"

QXScsiAnyArgs::QXScsiAnyArgs(const unsigned char* cdb, unsigned char cdbLength, const unsigned char* data,
                             unsigned long dataLength, int direction)
    : QXScsiArgs(cdb, cdbLength, data, dataLength, direction) {}

QXScsiAnyArgs::QXScsiAnyArgs(const unsigned char* cdb, unsigned char cdbLength)
    : QXScsiArgs(cdb, cdbLength, nullptr, 0, QXScsi::noData_c) {}

QXScsiAnyArgs::~QXScsiAnyArgs() {}

std::ostrstream& QXScsiAnyArgs::traceTo(std::ostrstream& os, short level, const char* title,
                                        bool terminate) const {
  QXScsiArgs::traceTo(os, level, title != nullptr ? title : "ANY SCSI COMMAND:", false);
  return trace().terminate(os, terminate);
}
