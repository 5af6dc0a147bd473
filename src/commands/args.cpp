// Argument objects: the command as the caller states it, and its trace.
#include <algorithm>
#include <cstring>

#include "qxscsi/commands.h"

namespace {
constexpr unsigned char kMaxCdb = 16;
unsigned char clampCdbLength(unsigned char length) { return std::min(length, kMaxCdb); }
}  // namespace

QXScsiArgs::QXScsiArgs(unsigned char opcode, const unsigned char* data, unsigned long dataLength,
                       int direction, unsigned char cdbLength)
    : validMark(true),
      cdb{},
      cdbLength(clampCdbLength(cdbLength)),
      argsError(0),
      dataBuffer(const_cast<unsigned char*>(data)),
      dataLength(dataLength),
      direction(direction) {
  init(opcode);
}

QXScsiArgs::QXScsiArgs(unsigned char opcode, unsigned char cdbLength)
    : QXScsiArgs(opcode, nullptr, 0, QXScsi::noData_c, cdbLength) {}

QXScsiArgs::QXScsiArgs(const unsigned char* cdb, unsigned char cdbLength, const unsigned char* data,
                       unsigned long dataLength, int direction)
    : validMark(true),
      cdb{},
      cdbLength(cdb == nullptr ? 0 : clampCdbLength(cdbLength)),
      argsError(0),
      dataBuffer(const_cast<unsigned char*>(data)),
      dataLength(dataLength),
      direction(direction) {
  if (this->cdbLength == 0) {
    valid(false);
    return;
  }
  init(cdb[0]);
  std::memcpy(this->cdb, cdb, this->cdbLength);
}

QXScsiArgs::~QXScsiArgs() { std::memset(cdb, 0, sizeof cdb); }

void QXScsiArgs::init(unsigned char opcode) {
  std::memset(cdb, 0, sizeof cdb);
  cdb[0] = opcode;
  if (dataBuffer == nullptr) direction = QXScsi::noData_c;
}

bool QXScsiArgs::valid() const { return validMark; }
void QXScsiArgs::valid(bool v) { validMark = v; }

void QXScsiArgs::setFrom(const unsigned char* cdb, unsigned char cdbLength, const unsigned char* data,
                         unsigned long dataLength, int direction) {
  dataBuffer = const_cast<unsigned char*>(data);
  this->dataLength = dataLength;
  this->direction = direction;
  this->cdbLength = cdb == nullptr ? 0 : clampCdbLength(cdbLength);
  if (this->cdbLength > 0) std::memcpy(this->cdb, cdb, this->cdbLength);
  argsError = 0;
}

int QXScsiArgs::transferDirection() const { return direction; }
int QXScsiArgs::errorCode() const { return argsError; }

void QXScsiArgs::errorCode(int e) {
  argsError = e;
  valid(false);
}

unsigned char QXScsiArgs::operationCode() const { return cdb[0]; }

bool QXScsiArgs::preConditionCallback(int& error) const {
  error = 0;
  return true;
}

std::ostrstream& QXScsiArgs::traceTo(std::ostrstream& os, short level, const char* title,
                                     bool terminate) const {
  formatter.tracePrefix(os, title, level);
  std::string pad;
  formatter.indent(pad, level);
  // An empty CDB has no last byte: its control byte is shown as 0.
  const unsigned control = cdbLength > 0 ? cdb[cdbLength - 1] : 0;
  os << pad << "operation code: " << std::hex << static_cast<unsigned>(cdb[0]) << std::dec << std::endl;
  os << pad << "control byte: " << control << std::endl;
  os << pad << "data len: " << dataLength << std::endl;
  os << pad << "data type: " << direction << std::endl;
  formatter.terminate(os, terminate);
  return os;
}

const QXScsiTrace& QXScsiArgs::trace() const { return formatter; }

void QXScsiArgs::getCmdData(unsigned char*& data, unsigned long& length, int& direction) const {
  data = dataBuffer;
  length = dataLength;
  direction = this->direction;
}

void QXScsiArgs::setCmdData(unsigned char* data, unsigned long length, int direction) {
  dataBuffer = data;
  dataLength = length;
  this->direction = direction;
}

void QXScsiArgs::getCDB(unsigned char*& cdb, unsigned char& length) const {
  // The CDB bytes are handed out writable so that callers can fill in the fields after the opcode.
  cdb = const_cast<unsigned char*>(this->cdb);
  length = cdbLength;
}
