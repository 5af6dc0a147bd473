// Output of results and errors.
#include "cli/output.h"

#include <cstdio>
#include <ostream>
#include <streambuf>

#include "cli/exit_status.h"
#include "cli/hex.h"
#include "cli/sense_report.h"
#include "qxscsi/backends/install.h"
#include "qxscsi/commands.h"
#include "qxscsi/target.h"
#include "wire/status.h"

namespace qxscsi::cli {
namespace {

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
};

std::ostream& nullStream() {
  static NullBuffer buffer;
  static std::ostream stream(&buffer);
  return stream;
}

}  // namespace

std::ostream& Output::text() { return options_.json ? nullStream() : std::cout; }

namespace {

const char* directionName(int direction) {
  switch (direction) {
    case QXScsi::dataIn_c:
      return "data in";
    case QXScsi::dataOut_c:
      return "data out";
    default:
      return "no data";
  }
}

}  // namespace

size_t Output::received(size_t size) {
  backends::CommandFacts facts;
  if (target_ == nullptr || !backends::lastCommand(*target_, facts)) {
    text() << "residual unknown: taking all " << size << " bytes of the buffer as received\n";
    doc_["data_in"] = {{"requested", size}, {"received", size}, {"residual_known", false}};
    return size;
  }
  size_t arrived = facts.transferred < size ? static_cast<size_t>(facts.transferred) : size;
  doc_["data_in"] = {{"requested", size},
                     {"received", arrived},
                     {"residual_known", true},
                     {"overflow", facts.overflow}};
  return arrived;
}

int Output::commandOutcome(const QXScsiCmd& record, Completion completion) {
  if (options_.verbose > 0) {
    const unsigned char* cdb = nullptr;
    unsigned char cdbLength = 0;
    record.getCDB(cdb, cdbLength);
    const unsigned char* data = nullptr;
    unsigned long dataLength = 0;
    int direction = QXScsi::noData_c;
    record.getCmdData(data, dataLength, direction);
    std::string cdbText;
    char byte[4];
    for (unsigned i = 0; i < cdbLength; ++i) {
      std::snprintf(byte, sizeof byte, "%s%02x", i ? " " : "", cdb[i]);
      cdbText += byte;
    }
    std::cerr << "    cdb: " << cdbText << "\n    " << directionName(direction) << ", " << dataLength
              << " bytes, timeout " << record.timeout() << " s\n";
    backends::CommandFacts facts;
    if (target_ != nullptr && backends::lastCommand(*target_, facts)) {
      char ms[32];
      std::snprintf(ms, sizeof ms, "%.3f", static_cast<double>(facts.duration.count()) / 1e6);
      std::cerr << "    transferred: " << facts.transferred << " bytes, residual " << facts.residual
                << (facts.overflow ? " (overflow)" : "") << ", " << ms << " ms\n";
    } else {
      std::cerr << "    transferred: unknown (the back-end keeps no facts)\n";
    }
  }
  unsigned char status = record.scsiStatus();
  unsigned char* sense = nullptr;
  unsigned char senseLen = 0;
  record.senseData().getBuffer(sense, senseLen);
  SenseReport report;
  if (status != 0 || record.incompleteSense()) report = decodeSense(sense, senseLen);
  char buf[64];
  std::snprintf(buf, sizeof buf, "0x%02x", status);
  if (status != 0 || options_.verbose > 0)
    text() << "status: " << buf << " " << wire::statusName(status) << '\n';
  if (report.present) printSense(text(), report, "  ");
  doc_["status"] = status;
  doc_["status_text"] = wire::statusName(status);
  doc_["sense"] = senseJson(report);
  if (report.present) doc_["sense_hex"] = toHex(sense, report.length);
  long implError = record.implementationError();
  if (implError != 0) {
    std::string message;
    record.implementationErrorMsg(message);
    doc_["implementation_error"] = implError;
    text() << "implementation error: " << implError << (message.empty() ? "" : " (" + message + ")") << '\n';
  }
  return exitStatusFor(status, sense, report.present ? report.length : 0, completion);
}

int Output::commandFailure(const char* what, QXScsiTarget& target) {
  long error = target.implementationError();
  std::string hint;
  target.implementationErrorHint(hint);
  std::string line = std::string(what) + " failed: " + (hint.empty() ? "command not carried out" : hint) +
                     " (error " + std::to_string(error) + ")";
  return fail(line, exitStatusForFailure(error), error);
}

int Output::fail(const std::string& message, int status, long implementationError) {
  errorLine(message);
  doc_["error"] = {{"message", untrustedText(message)},
                   {"exit_status", status},
                   {"implementation_error", implementationError}};
  return status;
}

void Output::data(const uint8_t* bytes, size_t length) {
  if (options_.hex && !options_.json) hexDump(std::cout, bytes, length);
  if (options_.json) doc_["data_hex"] = toHex(bytes, length);
}

int Output::finish(int status) {
  if (options_.json) {
    doc_["exit_status"] = status;
    // Every device string is escaped already; replacing keeps a missed one from ending the run.
    std::cout << doc_.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
  }
  return status;
}

void errorLine(const std::string& message) {
  std::fprintf(stderr, "qxscsi: %s\n", untrustedText(message).c_str());
}

bool buildParameters(const std::vector<std::string>& texts, std::vector<QXScsi::ParameterData>& out,
                     std::string& error) {
  for (const std::string& t : texts) {
    std::string::size_type eq = t.find('=');
    if (eq == std::string::npos || eq == 0) {
      error = "bad --param '" + t + "': expected NAME=VALUE";
      return false;
    }
    if (eq > 64 || t.size() - eq - 1 > 64) {
      error = "bad --param '" + t + "': names and values hold at most 64 characters";
      return false;
    }
    QXScsi::setParameter(t.substr(0, eq), t.substr(eq + 1), out);
  }
  return true;
}

}  // namespace qxscsi::cli
