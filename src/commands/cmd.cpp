// Command records: one execution with its own sense buffer.
#include <algorithm>
#include <cstring>

#include "qxscsi/commands.h"

namespace {
constexpr unsigned long kSenseBufferLength = 255;
constexpr unsigned char kMaxCdb = 16;
}  // namespace

QXScsiCmd::QXScsiCmd(const unsigned char* cdb, unsigned char cdbLength, unsigned char* data,
                     unsigned long dataLength, int direction)
    : incompleteSenseMark(false),
      implError(0),
      status(0),
      direction(direction),
      timeoutSeconds(0),
      senseBuffer(senseStorage),
      senseLength(0),
      dataBuffer(data),
      dataLength(dataLength),
      cdbLength(0) {
  init();
  setCDB(cdb, cdbLength);
}

QXScsiCmd::QXScsiCmd(QXScsiArgs& args)
    : incompleteSenseMark(false),
      implError(0),
      status(0),
      direction(args.transferDirection()),
      timeoutSeconds(0),
      senseBuffer(senseStorage),
      senseLength(0),
      dataBuffer(nullptr),
      dataLength(0),
      cdbLength(0) {
  init();
  unsigned char* argsCdb = nullptr;
  unsigned char argsCdbLength = 0;
  args.getCDB(argsCdb, argsCdbLength);
  setCDB(argsCdb, argsCdbLength);
  args.getCmdData(dataBuffer, dataLength, direction);
}

QXScsiCmd::~QXScsiCmd() {
  senseBuffer = nullptr;  // the storage goes with the record
  senseLength = 0;
}

void QXScsiCmd::init() {
  // The sense buffer is the record's own storage, so init (also a second call) only zero-fills it.
  std::memset(senseStorage, 0, kSenseBufferLength);
  senseBuffer = senseStorage;
  senseLength = kSenseBufferLength;
  std::memset(cdb, 0, sizeof cdb);
  cdbLength = 0;
  status = 0;
  timeoutSeconds = 0;
  incompleteSenseMark = false;
}

unsigned long QXScsiCmd::timeout() const { return timeoutSeconds; }
void QXScsiCmd::setTimeout(unsigned long seconds) { timeoutSeconds = seconds; }
unsigned char QXScsiCmd::scsiStatus() const { return status; }
void QXScsiCmd::scsiStatus(unsigned char s) { status = s; }
int QXScsiCmd::transferDirection() const { return direction; }
void QXScsiCmd::getScsiAddress(QXScsiAddress& out) { out = address; }
void QXScsiCmd::setScsiAddress(const QXScsiAddress& a) { address = a; }

QXScsiSenseData QXScsiCmd::senseData() const { return QXScsiSenseData(senseBuffer, senseLength); }

void QXScsiCmd::setSenseData(unsigned char* sense, unsigned long length) {
  if (sense == nullptr) return;
  std::memcpy(senseBuffer, sense, std::min(length, kSenseBufferLength));
}

void QXScsiCmd::getCmdData(const unsigned char*& data, unsigned long& length, int& direction) const {
  data = dataBuffer;
  length = dataLength;
  direction = this->direction;
}

void QXScsiCmd::getCDB(const unsigned char*& cdb, unsigned char& length) const {
  cdb = this->cdb;
  length = cdbLength;
}

void QXScsiCmd::setCDB(const unsigned char* cdb, unsigned char length) {
  cdbLength = cdb == nullptr ? 0 : std::min(length, kMaxCdb);
  if (cdbLength > 0) std::memcpy(this->cdb, cdb, cdbLength);
}

bool QXScsiCmd::incompleteSense() const { return incompleteSenseMark; }
void QXScsiCmd::incompleteSense(bool incomplete) { incompleteSenseMark = incomplete; }

void QXScsiCmd::args(QXScsiArgs& out) const {
  out.setFrom(cdb, cdbLength, dataBuffer, dataLength, direction);
}

long QXScsiCmd::implementationError() const { return implError; }
void QXScsiCmd::implementationErrorMsg(std::string& out) const { out = implErrorMessage; }

void QXScsiCmd::implementationError(long error, const char* message) {
  implError = error;
  if (message != nullptr) implErrorMessage = message;
}

void QXScsiFreeCmd(QXScsiCmd* cmd) { delete cmd; }
