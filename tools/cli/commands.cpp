// tur, sense, raw, xcopy, copy-results and decode-sense.
#include "cli/commands.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>

#include "cli/exit_status.h"
#include "cli/hex.h"
#include "cli/send.h"
#include "cli/sense_report.h"
#include "qxscsi/commands.h"
#include "qxscsiplatform/errors.h"
#include "qxscsi/target.h"
#include "wire/bytes.h"
#include "wire/cdb.h"
#include "wire/status.h"

namespace qxscsi::cli {
namespace {

constexpr unsigned char requestSenseCode = 0x03;
constexpr unsigned char extendedCopyCode = 0x83;
constexpr unsigned char receiveCopyResultsCode = 0x84;

}  // namespace

bool readFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    error = "cannot open '" + path + "': " + std::strerror(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    error = "cannot read '" + path + "': it is a directory";
    return false;
  }
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    error = "cannot open '" + path + "': " + std::strerror(errno);
    return false;
  }
  bytes.clear();
  unsigned char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    if (bytes.size() + n > maxFileBytes_c) {
      std::fclose(f);
      error = "cannot read '" + path + "': longer than " + std::to_string(maxFileBytes_c) + " bytes";
      return false;
    }
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  const bool failed = std::ferror(f) != 0;
  const int readErrno = errno;
  std::fclose(f);
  if (failed) {
    error = "cannot read '" + path + "': " + std::strerror(readErrno);
    return false;
  }
  return true;
}

int runTestUnitReady(QXScsiTarget& target, Output& out) {
  const unsigned char cdb[6] = {wire::testUnitReadyCode, 0, 0, 0, 0, 0};
  Request request;
  request.title = "TEST UNIT READY:";
  request.cdb = cdb;
  request.cdbLength = sizeof cdb;
  Record rec = send(target, out.options(), request, [&] { return target.cmdTestUnitReady(); });
  if (!rec) return out.commandFailure("TEST UNIT READY", target);
  int status = out.commandOutcome(*rec);
  const unsigned char scsiStatus = rec->scsiStatus();
  unsigned char* sense = nullptr;
  unsigned char senseLen = 0;
  rec->senseData().getBuffer(sense, senseLen);
  std::string verdict;
  switch (scsiStatus & 0xfe) {
    case wire::statusGood:
      verdict = "ready";
      break;
    case wire::statusBusy:
      verdict = "busy";
      break;
    case wire::statusReservationConflict:
      verdict = "reservation conflict";
      break;
    case wire::statusTaskSetFull:
      verdict = "task set full";
      break;
    case wire::statusCheckCondition: {
      SenseReport r = decodeSense(sense, senseLen);
      if (!r.present)
        verdict = "check condition without sense data";
      else if (r.senseKey == 0x2)
        verdict = "not ready: " + r.ascText;
      else if (r.senseKey == 0x6)
        verdict = "unit attention: " + r.ascText;
      else
        verdict = "check condition: " + r.senseKeyText + ": " + r.ascText;
      break;
    }
    default:
      verdict = std::string("not ready: status ") + wire::statusName(scsiStatus);
  }
  out.text() << verdict << '\n';
  out.doc()["ready"] = (scsiStatus & 0xfe) == wire::statusGood;
  out.doc()["verdict"] = verdict;
  return status;
}

int runRequestSense(QXScsiTarget& target, Output& out) {
  unsigned char buffer[252] = {};
  const unsigned char cdb[6] = {requestSenseCode, 0, 0, 0, sizeof buffer, 0};
  Request request;
  request.title = "REQUEST SENSE:";
  request.cdb = cdb;
  request.cdbLength = sizeof cdb;
  request.data = buffer;
  request.dataLength = sizeof buffer;
  request.direction = QXScsi::dataIn_c;
  Record rec = send(target, out.options(), request,
                    [&] { return target.cmdRequestSense(buffer, sizeof buffer); });
  if (!rec) return out.commandFailure("REQUEST SENSE", target);
  int status = out.commandOutcome(*rec);
  if (rec->scsiStatus() != 0) return status;
  size_t length = senseLength(buffer, out.received(sizeof buffer));
  out.data(buffer, length);
  SenseReport report = decodeSense(buffer, length);
  printSenseDecoded(out.text(), report, buffer);
  out.doc()["sense"] = senseJson(report, buffer);
  return status;
}

namespace {

// The direction of the data that a well-known operation code moves; noData_c when unknown (or
// when it moves none). Lets raw refuse --in and --out that contradict the CDB before sending.
int directionOf(uint8_t code) {
  switch (code) {
    case 0x03: case 0x05: case 0x08: case 0x12: case 0x1a: case 0x1c: case 0x25: case 0x28:
    case 0x34: case 0x3c: case 0x4d: case 0x5a: case 0x84: case 0x88: case 0x9e: case 0xa0:
    case 0xa8: case 0xb8:
      return QXScsi::dataIn_c;
    case 0x0a: case 0x15: case 0x2a: case 0x2e: case 0x3b: case 0x55: case 0x83: case 0x8a:
    case 0x8e: case 0xaa: case 0xae:
      return QXScsi::dataOut_c;
    default:
      return QXScsi::noData_c;
  }
}

bool writeFile(const std::string& path, const uint8_t* bytes, size_t length, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    error = "cannot create '" + path + "': " + std::strerror(errno);
    return false;
  }
  const bool written = length == 0 || std::fwrite(bytes, 1, length, f) == length;
  const int writeErrno = errno;
  if (std::fclose(f) != 0 || !written) {
    error = "cannot write '" + path + "': " + std::strerror(written ? errno : writeErrno);
    return false;
  }
  return true;
}

}  // namespace

int runRaw(QXScsiTarget& target, const Options& common, const RawOptions& o, Output& out) {
  std::vector<uint8_t> cdb;
  std::string error;
  if (!parseHex(o.cdbHex, cdb, error)) return out.fail("raw: bad CDB: " + error, exitSyntax);
  if (cdb.empty() || cdb.size() > 16)
    return out.fail("raw: a CDB holds 1 to 16 bytes, got " + std::to_string(cdb.size()), exitSyntax);
  if (o.inLength >= 0 && !o.outFile.empty())
    return out.fail("raw: --in and --out exclude each other", exitContradicting);
  if (!o.saveFile.empty() && o.inLength < 0)
    return out.fail("raw: --outfile keeps the data that arrives: it needs --in LEN", exitContradicting);
  char code[8];
  std::snprintf(code, sizeof code, "%02xh", cdb[0]);
  const int expected = directionOf(cdb[0]);
  if (expected == QXScsi::dataIn_c && !o.outFile.empty())
    return out.fail(std::string("raw: operation code ") + code + " reads data from the device: give --in LEN, not --out",
                    exitContradicting);
  if (expected == QXScsi::dataOut_c && o.inLength >= 0)
    return out.fail(std::string("raw: operation code ") + code + " sends data to the device: give --out FILE, not --in",
                    exitContradicting);
  std::vector<uint8_t> data;
  int direction = QXScsi::noData_c;
  if (o.inLength >= 0) {
    data.assign(static_cast<size_t>(o.inLength), 0);
    direction = QXScsi::dataIn_c;
  } else if (!o.outFile.empty()) {
    if (!readFile(o.outFile, data, error)) return out.fail("raw: " + error, exitFile);
    direction = QXScsi::dataOut_c;
  }
  Request request;
  request.cdb = cdb.data();
  request.cdbLength = static_cast<unsigned char>(cdb.size());
  request.data = data.empty() ? nullptr : data.data();
  request.dataLength = data.size();
  request.direction = direction;
  Record rec = send(target, common, request);
  if (!rec) {
    // Refused before it was sent: the CDB does not suit the data options (or its length).
    if (target.implementationError() == QXScsiPlatform::invalidRequest_c) {
      std::string hint;
      target.implementationErrorHint(hint);
      return out.fail("raw: the command was not sent: " + hint +
                          " (a CDB that moves data needs --in LEN or --out FILE)",
                      exitSyntax, target.implementationError());
    }
    return out.commandFailure("raw command", target);
  }
  int status = out.commandOutcome(*rec, Completion::raw);
  if (direction == QXScsi::dataIn_c && rec->scsiStatus() == 0) {
    const size_t got = out.received(data.size());
    out.text() << "data in: " << got << " of " << data.size() << " bytes\n";
    if (!o.saveFile.empty()) {
      if (!writeFile(o.saveFile, data.data(), got, error)) return out.fail("raw: " + error, exitFile);
    } else if (!common.hex) {
      hexDump(out.text(), data.data(), got);
    }
    out.data(data.data(), got);
  }
  return status;
}

int runExtendedCopy(QXScsiTarget& target, const std::string& listFile, Output& out) {
  std::vector<uint8_t> list;
  std::string error;
  if (!readFile(listFile, list, error)) {
    return out.fail("xcopy: " + error, exitFile);
  }
  unsigned char cdb[16] = {extendedCopyCode};
  wire::putBe32(cdb + 10, static_cast<uint32_t>(list.size()));
  Request request;
  request.title = "EXTENDED COPY:";
  request.cdb = cdb;
  request.cdbLength = sizeof cdb;
  request.data = list.empty() ? nullptr : list.data();
  request.dataLength = list.size();
  request.direction = QXScsi::dataOut_c;
  request.defaultTimeout = extendedCopyTimeout_c;
  Record rec = send(target, out.options(), request, [&] {
    return target.cmdExtendedCopy(0, false, false, 0, request.data, request.dataLength);
  });
  if (!rec) return out.commandFailure("EXTENDED COPY", target);
  int status = out.commandOutcome(*rec);
  out.text() << "parameter list: " << list.size() << " bytes sent\n";
  if (rec->scsiStatus() == 0) out.text() << "copy done\n";
  out.doc()["parameter_list_length"] = list.size();
  return status;
}

int runCopyResults(QXScsiTarget& target, const CopyResultsOptions& o, Output& out) {
  std::vector<uint8_t> buffer(o.allocationLength, 0);
  unsigned char cdb[16] = {receiveCopyResultsCode, static_cast<unsigned char>(o.serviceAction & 0x1f),
                           static_cast<unsigned char>(o.listIdentifier)};
  wire::putBe32(cdb + 10, static_cast<uint32_t>(buffer.size()));
  Request request;
  request.title = "RECEIVE COPY RESULTS:";
  request.cdb = cdb;
  request.cdbLength = sizeof cdb;
  request.data = buffer.empty() ? nullptr : buffer.data();
  request.dataLength = buffer.size();
  request.direction = QXScsi::dataIn_c;
  Record rec = send(target, out.options(), request, [&] {
    return target.cmdReceiveCopyResults(cdb[1], cdb[2], request.data, request.dataLength);
  });
  if (!rec) return out.commandFailure("RECEIVE COPY RESULTS", target);
  int status = out.commandOutcome(*rec);
  if (rec->scsiStatus() != 0) return status;
  const size_t got = out.received(buffer.size());
  size_t returned = got >= 4 ? 4 + size_t(wire::getBe32(buffer.data())) : got;
  if (returned > got) returned = got;
  out.text() << "copy results (service action " << o.serviceAction << "): " << returned << " bytes\n";
  if (!out.options().hex) hexDump(out.text(), buffer.data(), returned);
  out.data(buffer.data(), returned);
  out.doc()["service_action"] = o.serviceAction;
  if (o.serviceAction == 0 && returned >= 12) {  // COPY STATUS
    unsigned copyStatus = buffer[4] & 0x7f;
    out.text() << "copy manager status: " << copyStatus << (copyStatus == 1 ? " (completed, no errors)" : "")
               << '\n';
    out.doc()["copy_manager_status"] = copyStatus;
    out.doc()["segments_processed"] = wire::getBe16(&buffer[5]);
  }
  return status;
}

int runDecodeSense(const std::vector<std::string>& hex, Output& out) {
  std::vector<uint8_t> bytes;
  std::string error;
  std::string text;
  if (hex.empty()) {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    if (!parseHex(text, bytes, error)) {
      return out.fail("decode-sense: " + error, exitSyntax);
    }
  }
  for (const std::string& part : hex) {
    if (!parseHex(part, bytes, error)) {
      return out.fail("decode-sense: " + error, exitSyntax);
    }
  }
  if (bytes.empty()) {
    return out.fail("decode-sense: no sense bytes given", exitSyntax);
  }
  SenseReport report = decodeSense(bytes.data(), bytes.size());
  printSenseDecoded(out.text(), report, bytes.data());
  out.doc()["sense"] = senseJson(report, bytes.data());
  return exitOk;
}

}  // namespace qxscsi::cli
