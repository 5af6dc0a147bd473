// Commands: argument objects, command records with their own sense buffer, and QXScsiFreeCmd.
#pragma once

#include <string>

#include "qxscsi/devices.h"
#include "qxscsi/export.h"
#include "qxscsi/sense.h"
#include "qxscsi/trace.h"

namespace QXScsi {
// Transfer directions of args objects and records; other values are passed on unchanged.
constexpr int dataIn_c = 0;   // device to host
constexpr int dataOut_c = 1;  // host to device
constexpr int noData_c = 2;   // no data phase
}  // namespace QXScsi

// A command as the caller states it: a CDB of at most 16 bytes, a reference to the caller's data
// buffer (never copied, never owned) and a transfer direction. Destroy through its own type.
class QXSCSI_EXPORT QXScsiArgs {
 public:
  // CDB of cdbLength (at most 16) bytes starting with opcode, rest zero; no buffer forces noData_c.
  QXScsiArgs(unsigned char opcode, const unsigned char* data, unsigned long dataLength, int direction,
             unsigned char cdbLength);
  // As above with no data buffer.
  QXScsiArgs(unsigned char opcode, unsigned char cdbLength);
  // Copies min(cdbLength, 16) bytes of the caller's cdb; an empty (or null) cdb gives an invalid object.
  QXScsiArgs(const unsigned char* cdb, unsigned char cdbLength, const unsigned char* data,
             unsigned long dataLength, int direction);
  // Zero-fills the CDB; the caller's buffer is left alone.
  ~QXScsiArgs();

  // Zero-fills the CDB, stores opcode in byte 0; no data buffer forces noData_c.
  void init(unsigned char opcode);
  // The valid mark (plain values, nothing owned).
  bool valid() const;
  void valid(bool v);
  // Stores the data reference and direction as passed, copies min(cdbLength, 16) CDB bytes over the
  // start of the CDB, clears the error code; the valid mark stays.
  void setFrom(const unsigned char* cdb, unsigned char cdbLength, const unsigned char* data,
               unsigned long dataLength, int direction);
  int transferDirection() const;
  // The error code stored by errorCode(int) or a refused precondition.
  int errorCode() const;
  // Stores e and marks the object invalid (for every e, 0 included).
  void errorCode(int e);
  // CDB byte 0.
  unsigned char operationCode() const;
  // Base: error 0, true. Subclasses refuse a command with false and an error code of their own.
  virtual bool preConditionCallback(int& error) const;
  // Writes operation code, control byte, data length and direction into the caller's stream (os).
  virtual std::ostrstream& traceTo(std::ostrstream& os, short level, const char* title, bool terminate) const;
  // The object's formatter, borrowed for the object's lifetime.
  const QXScsiTrace& trace() const;
  // The caller's buffer (not owned), its length and the direction.
  void getCmdData(unsigned char*& data, unsigned long& length, int& direction) const;
  // Stores the three values as passed; the buffer stays the caller's.
  void setCmdData(unsigned char* data, unsigned long length, int direction);
  // The object's own 16 CDB bytes (writable, valid while the object lives) and the CDB length.
  void getCDB(unsigned char*& cdb, unsigned char& length) const;

 private:
  bool validMark;
  unsigned char cdb[16];
  unsigned char cdbLength;
  int argsError;
  unsigned char* dataBuffer;
  unsigned long dataLength;
  int direction;
  QXScsiTrace formatter;
};

// Args of an arbitrary CDB; its trace always has a title ("ANY SCSI COMMAND:" by default).
class QXSCSI_EXPORT QXScsiAnyArgs : public QXScsiArgs {
 public:
  // The raw-CDB constructor of QXScsiArgs; cdb is copied, data only referenced.
  QXScsiAnyArgs(const unsigned char* cdb, unsigned char cdbLength, const unsigned char* data,
                unsigned long dataLength, int direction);
  // No data buffer, noData_c.
  QXScsiAnyArgs(const unsigned char* cdb, unsigned char cdbLength);
  ~QXScsiAnyArgs();

  // The base trace under the caller's title, or "ANY SCSI COMMAND:" for null; os is the caller's.
  std::ostrstream& traceTo(std::ostrstream& os, short level, const char* title,
                           bool terminate) const override;
};

// The record of one execution. Owns only its 255-byte sense buffer, which lives inside the record
// (one allocation per record); the data buffer stays the caller's. Never copied. Records handed out
// by the library are released with QXScsiFreeCmd.
class QXSCSI_EXPORT QXScsiCmd {
 public:
  // Copies min(cdbLength, 16) bytes of cdb (none when cdb is null); data is referenced, not owned.
  QXScsiCmd(const unsigned char* cdb, unsigned char cdbLength, unsigned char* data, unsigned long dataLength,
            int direction);
  // Copies CDB, data reference and direction of args; args is only read.
  explicit QXScsiCmd(QXScsiArgs& args);
  // Releases the sense buffer (senseLength becomes 0).
  ~QXScsiCmd();
  QXScsiCmd(const QXScsiCmd&) = delete;
  QXScsiCmd& operator=(const QXScsiCmd&) = delete;

  // Zero sense buffer of 255 bytes, zero CDB of length 0, status 0, timeout 0, sense complete.
  void init();
  // Timeout in seconds, status byte and direction: plain values.
  unsigned long timeout() const;
  void setTimeout(unsigned long seconds);
  unsigned char scsiStatus() const;
  void scsiStatus(unsigned char s);
  int transferDirection() const;
  // Copies the record's address (bytes and marks) into out.
  void getScsiAddress(QXScsiAddress& out);
  // Copies address (bytes and marks) into the record.
  void setScsiAddress(const QXScsiAddress& address);
  // A 255-byte view over the record's sense buffer; usable only while the record lives.
  QXScsiSenseData senseData() const;
  // Copies min(length, 255) bytes of the caller's sense into the record; later bytes keep their values.
  void setSenseData(unsigned char* sense, unsigned long length);
  // The caller's buffer (not owned), its length and the direction.
  void getCmdData(const unsigned char*& data, unsigned long& length, int& direction) const;
  // The record's own CDB (valid while the record lives) and its length.
  void getCDB(const unsigned char*& cdb, unsigned char& length) const;
  // Copies min(length, 16) bytes over the start of the CDB and stores that length.
  void setCDB(const unsigned char* cdb, unsigned char length);
  // Whether the implementation could store the sense data only in part.
  bool incompleteSense() const;
  void incompleteSense(bool incomplete);
  // Writes CDB, data reference and direction back into out (out.setFrom).
  void args(QXScsiArgs& out) const;
  // The implementation error; 0 for none.
  long implementationError() const;
  // Assigns the stored message to the caller's out.
  void implementationErrorMsg(std::string& out) const;
  // Stores error; a null message keeps the previous message.
  void implementationError(long error, const char* message);

 private:
  bool incompleteSenseMark;
  long implError;
  std::string implErrorMessage;
  unsigned char status;
  int direction;
  unsigned long timeoutSeconds;
  QXScsiAddress address;
  unsigned char* senseBuffer;
  unsigned long senseLength;
  unsigned char* dataBuffer;
  unsigned long dataLength;
  unsigned char cdb[16];
  unsigned char cdbLength;
  unsigned char senseStorage[255];  // what senseBuffer points at while the record lives
};

// Destroys a record the library handed out; null is ignored.
QXSCSI_EXPORT void QXScsiFreeCmd(QXScsiCmd* cmd);
