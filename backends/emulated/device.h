// The emulated SCSI device engine: a logical-unit set that answers CDBs from memory.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "file_system.h"
#include "implementation_base.h"
#include "options.h"
#include "sense.h"
#include "wire/status.h"

namespace qxscsi::backends::emulated {

// One command as the host states it. `data` is the host's buffer of `length` bytes; the device
// reads (dataOut_c) or writes (dataIn_c) only inside it. noData_c: no data.
using Command = CommandView;

// What became of a command. A refused command never reached the device: nothing was
// read or written and `refusal` says why. An executed one has a status, and fixed-format
// sense data when the status is CHECK CONDITION.
struct CommandResult {
  // Back to a default result, keeping the storage of `refusal` and `sense`.
  void reset();

  bool executed = false;
  std::string refusal;
  unsigned char status = wire::statusGood;
  std::vector<unsigned char> sense;
  unsigned long transferred = 0;
  // Data-in bytes the device had beyond the host's buffer (an overflow residual); not sent.
  unsigned long beyond = 0;
};

// The command in flight, handed to the command handlers of a device type.
class Exchange {
 public:
  // `expected`: bytes the CDB allows to move; a data-in buffer of fewer bytes takes what fits.
  // `initiator` (not owned, outlives the exchange) names the I_T nexus that sent the command.
  // The outcome is written into `outcome` (the caller's, outliving the exchange), which must
  // come in as a default CommandResult would be, its storage kept for reuse.
  Exchange(unsigned lun, const Command& command, unsigned long expected, CommandResult& outcome,
           const std::string* initiator = nullptr);

  unsigned lun() const { return lun_; }
  // The initiator's name ("" for the default initiator).
  const std::string& initiator() const;
  const unsigned char* cdb() const { return cdb_; }
  unsigned char op() const { return cdb_[0]; }
  // Data-out bytes the CDB announced (already checked to lie inside the host's buffer).
  const unsigned char* out() const { return data_; }
  // Bytes the CDB allows to move (allocation length, parameter list length or blocks).
  unsigned long expected() const { return expected_; }

  // Data in: of the `n` bytes, at most expected() go, as many as the host's buffer holds; the
  // rest of them is counted as the overflow residual.
  void send(const unsigned char* bytes, unsigned long n);
  void send(const std::vector<unsigned char>& bytes) { send(bytes.data(), bytes.size()); }
  // Where `n` data-in bytes may be written straight into the host's buffer, counted as sent: null
  // when they do not all fit (the caller then sends them).
  unsigned char* sendInPlace(unsigned long n);

  // CHECK CONDITION with `sense`.
  void fail(const Sense& sense);
  // ILLEGAL REQUEST, INVALID FIELD IN CDB (24h/00h) pointing at CDB byte `index` (bit `bit`).
  void invalidField(unsigned index, int bit = -1);
  // The same, pointing at the highest of the bits of CDB byte `index` that `bits` holds (not 0).
  void invalidBits(unsigned index, unsigned bits);
  // ILLEGAL REQUEST, INVALID FIELD IN PARAMETER LIST (26h/00h) pointing at data-out byte `index`.
  void invalidParameter(unsigned index, int bit = -1);
  // ILLEGAL REQUEST, PARAMETER LIST LENGTH ERROR (1Ah/00h).
  void parameterListLength();
  // RESERVATION CONFLICT, no sense data.
  void conflict();

  CommandResult& outcome() { return outcome_; }

 private:
  unsigned lun_;
  const unsigned char* cdb_;
  unsigned char* data_;
  unsigned long room_;  // bytes of the host's buffer
  unsigned long expected_;
  const std::string* initiator_;
  CommandResult& outcome_;
};

// How a device type reads a CDB before running it.
struct Shape {
  unsigned cdbLength = 6;            // bytes the operation code needs
  int direction = QXScsi::noData_c;  // of the data the CDB moves
  unsigned long bytes = 0;           // bytes the CDB allows to move
};

// Base of the three device types: owns the logical units' common state and answers
// INQUIRY (standard data, VPD 00h, 80h, 83h), TEST UNIT READY, REQUEST SENSE and
// REPORT LUNS; the rest is the device type's.
class Device {
 public:
  virtual ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // Builds the device a parsed name describes, opening its file when it has one; null for an
  // unknown type, or with `failure` filled when the file cannot be used. Caller owns it.
  static std::unique_ptr<Device> create(const Options& options, OpenFailure& failure);
  static std::unique_ptr<Device> create(const Options& options);

  // Carries out `command` on logical unit `lun` (units beyond lunCount() answer as
  // unsupported units do). Refuses, untouched, a CDB shorter than its operation code
  // needs, a transfer direction the command does not have and a transfer without a buffer.
  // A data-in buffer shorter than the transfer receives its first bytes (the rest is the
  // overflow residual); a data-out buffer shorter than the transfer answers CHECK CONDITION.
  // `initiator` names the I_T nexus ("" is the default one): with ua=1 each initiator has its own
  // unit attentions, the first of them POWER ON (29h/00h) at its first command.
  CommandResult execute(unsigned lun, const Command& command, const std::string& initiator = std::string());
  // The same into the caller's `result`, which is reset first; its storage (refusal text, sense
  // bytes) is reused, so that a command that needs none allocates nothing.
  void execute(unsigned lun, const Command& command, const std::string& initiator, CommandResult& result);

  unsigned lunCount() const { return static_cast<unsigned>(lastSense_.size()); }
  unsigned char peripheralType() const { return peripheralType_; }
  const Options& options() const { return options_; }

  // Unit serial number (VPD 80h) and NAA designator (VPD 83h) of logical unit `lun`.
  std::string unitSerial(unsigned lun) const;
  uint64_t naaDesignator(unsigned lun) const;
  // The designation descriptors of VPD page 83h for `lun`, without the page header.
  std::vector<unsigned char> designators(unsigned lun) const;

 protected:
  Device(unsigned char peripheralType, const char* product, const Options& options);

  // Fills `shape` for the operation codes the type knows; false for unknown ones.
  virtual bool shapeOf(const unsigned char* cdb, Shape& shape) const;
  // Runs a command whose shape is known, on an existing logical unit.
  virtual void run(Exchange& x);
  // INQUIRY byte 5 (3PC and friends) and byte 1 (RMB).
  virtual unsigned char inquiryByte5() const { return 0; }
  // The device type's own VPD pages: their codes (listed in page 00h after 00h, 80h and 83h,
  // ascending) and the body of page `code` (without the 4-byte header).
  virtual std::vector<unsigned char> typePageCodes() const { return {}; }
  virtual std::vector<unsigned char> typePage(unsigned char, unsigned) const { return {}; }
  virtual bool removable() const { return false; }

  // Unit attentions (only with ua=1): queues ASC/ASCQ for logical unit `lun` on every initiator
  // seen so far except `except` (null: all of them), or on `initiator` alone.
  void raiseUnitAttention(unsigned lun, unsigned char asc, unsigned char ascq,
                          const std::string* except = nullptr);
  void raiseUnitAttentionFor(const std::string& initiator, unsigned lun, unsigned char asc,
                             unsigned char ascq);

 private:
  // With ua=1: true, with the answer given, when a unit attention ends the command `x`.
  bool reportUnitAttention(Exchange& x);

  void inquiry(Exchange& x);
  void requestSense(Exchange& x);
  void reportLuns(Exchange& x);
  std::vector<unsigned char> vpdPage(unsigned char code, unsigned lun) const;

  unsigned char peripheralType_;
  std::string product_;
  Options options_;
  bool unitAttentions_;                               // ua=1
  std::vector<std::vector<unsigned char>> lastSense_;  // per unit, for REQUEST SENSE
  // Pending unit attentions (ASC, ASCQ) per initiator seen, per unit, oldest first.
  std::map<std::string, std::vector<std::deque<std::pair<unsigned char, unsigned char>>>> attentions_;
};

}  // namespace qxscsi::backends::emulated
