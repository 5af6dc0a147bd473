// tur, sense, luns, raw, xcopy, copy-results and decode-sense.
#include "cli/commands.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

#include "cli/exit_status.h"
#include "cli/hex.h"
#include "cli/sense_report.h"
#include "qxscsi/commands.h"
#include "qxscsi/target.h"
#include "wire/bytes.h"

namespace qxscsi::cli {
namespace {

using Record = std::unique_ptr<QXScsiCmd, void (*)(QXScsiCmd*)>;

Record own(QXScsiCmd* cmd) { return Record(cmd, QXScsiFreeCmd); }

}  // namespace

bool readFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open '" + path + "'";
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = "cannot read '" + path + "'";
    return false;
  }
  return true;
}

int runTestUnitReady(QXScsiTarget& target, Output& out) {
  Record rec = own(target.cmdTestUnitReady());
  if (!rec) return out.commandFailure("TEST UNIT READY", target);
  int status = out.commandOutcome(*rec);
  out.text() << (rec->scsiStatus() == 0 ? "ready\n" : "not ready\n");
  out.doc()["ready"] = rec->scsiStatus() == 0;
  return status;
}

int runRequestSense(QXScsiTarget& target, Output& out) {
  unsigned char buffer[252] = {};
  Record rec = own(target.cmdRequestSense(buffer, sizeof buffer));
  if (!rec) return out.commandFailure("REQUEST SENSE", target);
  int status = out.commandOutcome(*rec);
  if (rec->scsiStatus() != 0) return status;
  size_t length = senseLength(buffer, sizeof buffer);
  out.data(buffer, length);
  SenseReport report = decodeSense(buffer, length);
  printSense(out.text(), report);
  out.doc()["returned_sense"] = senseJson(report);
  return status;
}

int runReportLuns(QXScsiTarget& target, Output& out) {
  unsigned char luns[256] = {};
  unsigned long count = sizeof luns;
  Record rec = own(target.cmdReportLuns(luns, &count));
  if (!rec) return out.commandFailure("REPORT LUNS", target);
  int status = out.commandOutcome(*rec);
  if (rec->scsiStatus() != 0) return status;
  nlohmann::json list = nlohmann::json::array();
  out.text() << "logical units: " << count << '\n';
  for (unsigned long i = 0; i < count && i < sizeof luns; ++i) {
    out.text() << "  lun " << unsigned(luns[i]) << '\n';
    list.push_back(luns[i]);
  }
  if (count > sizeof luns) out.text() << "  (" << count - sizeof luns << " more not listed)\n";
  out.doc()["lun_count"] = count;
  out.doc()["luns"] = list;
  return status;
}

int runRaw(QXScsiTarget& target, const Options& common, const RawOptions& o, Output& out) {
  std::vector<uint8_t> cdb;
  std::string error;
  if (!parseHex(o.cdbHex, cdb, error)) {
    errorLine("raw: bad CDB: " + error);
    return exitSyntax;
  }
  if (cdb.empty() || cdb.size() > 16) {
    errorLine("raw: a CDB holds 1 to 16 bytes, got " + std::to_string(cdb.size()));
    return exitSyntax;
  }
  if (o.inLength >= 0 && !o.outFile.empty()) {
    errorLine("raw: --in and --out exclude each other");
    return exitContradicting;
  }
  std::vector<uint8_t> data;
  int direction = QXScsi::noData_c;
  if (o.inLength >= 0) {
    data.assign(static_cast<size_t>(o.inLength), 0);
    direction = QXScsi::dataIn_c;
  } else if (!o.outFile.empty()) {
    if (!readFile(o.outFile, data, error)) {
      errorLine("raw: " + error);
      return exitFile;
    }
    direction = QXScsi::dataOut_c;
  }
  QXScsiAnyArgs args(cdb.data(), static_cast<unsigned char>(cdb.size()), data.empty() ? nullptr : data.data(),
                     data.size(), data.empty() ? QXScsi::noData_c : direction);
  if (common.trace) {
    std::ostrstream os;
    args.traceTo(os, 0, nullptr, true);
    std::fputs(os.str(), stderr);
    os.freeze(false);
  }
  Record rec = own(target.cmdCall(args, common.timeout));
  if (!rec) return out.commandFailure("raw command", target);
  int status = out.commandOutcome(*rec);
  if (direction == QXScsi::dataIn_c && rec->scsiStatus() == 0) {
    out.text() << "data in: " << data.size() << " bytes\n";
    if (!common.hex && !common.json) hexDump(std::cout, data.data(), data.size());
    out.data(data.data(), data.size());
    if (common.json && !common.hex) out.doc()["data_hex"] = toHex(data.data(), data.size());
  }
  return status;
}

int runExtendedCopy(QXScsiTarget& target, const std::string& listFile, Output& out) {
  std::vector<uint8_t> list;
  std::string error;
  if (!readFile(listFile, list, error)) {
    errorLine("xcopy: " + error);
    return exitFile;
  }
  Record rec =
      own(target.cmdExtendedCopy(0, false, false, 0, list.empty() ? nullptr : list.data(), list.size()));
  if (!rec) return out.commandFailure("EXTENDED COPY", target);
  int status = out.commandOutcome(*rec);
  out.text() << "parameter list: " << list.size() << " bytes sent\n";
  if (rec->scsiStatus() == 0) out.text() << "copy done\n";
  out.doc()["parameter_list_length"] = list.size();
  return status;
}

int runCopyResults(QXScsiTarget& target, const CopyResultsOptions& o, Output& out) {
  std::vector<uint8_t> buffer(o.allocationLength, 0);
  Record rec = own(target.cmdReceiveCopyResults(static_cast<unsigned char>(o.serviceAction),
                                                static_cast<unsigned char>(o.listIdentifier),
                                                buffer.empty() ? nullptr : buffer.data(), buffer.size()));
  if (!rec) return out.commandFailure("RECEIVE COPY RESULTS", target);
  int status = out.commandOutcome(*rec);
  if (rec->scsiStatus() != 0) return status;
  size_t returned = buffer.size() >= 4 ? 4 + size_t(wire::getBe32(buffer.data())) : buffer.size();
  if (returned > buffer.size()) returned = buffer.size();
  out.text() << "copy results (service action " << o.serviceAction << "): " << returned << " bytes\n";
  if (!out.json()) hexDump(std::cout, buffer.data(), returned);
  out.doc()["data_hex"] = toHex(buffer.data(), returned);
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
      errorLine("decode-sense: " + error);
      return exitSyntax;
    }
  }
  for (const std::string& part : hex) {
    if (!parseHex(part, bytes, error)) {
      errorLine("decode-sense: " + error);
      return exitSyntax;
    }
  }
  if (bytes.empty()) {
    errorLine("decode-sense: no sense bytes given");
    return exitSyntax;
  }
  SenseReport report = decodeSense(bytes.data(), bytes.size());
  printSense(out.text(), report);
  out.doc()["sense"] = senseJson(report);
  return exitOk;
}

}  // namespace qxscsi::cli
