// Output of results and errors.
#include "cli/output.h"

#include <cstdio>
#include <ostream>
#include <streambuf>

#include "cli/exit_status.h"
#include "cli/hex.h"
#include "cli/sense_report.h"
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

int Output::commandOutcome(const QXScsiCmd& record) {
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
  return exitStatusFor(status, sense, report.present ? report.length : 0);
}

int Output::commandFailure(const char* what, QXScsiTarget& target) {
  long error = target.implementationError();
  std::string hint;
  target.implementationErrorHint(hint);
  std::string line = std::string(what) + " failed: " + (hint.empty() ? "command not carried out" : hint) +
                     " (error " + std::to_string(error) + ")";
  errorLine(line);
  doc_["error"] = line;
  doc_["error_code"] = error;
  return exitStatusForFailure(error);
}

void Output::data(const uint8_t* bytes, size_t length) {
  if (options_.hex && !options_.json) hexDump(std::cout, bytes, length);
  if (options_.json && options_.hex) doc_["data_hex"] = toHex(bytes, length);
}

int Output::finish(int status) {
  if (options_.json) {
    doc_["exit_status"] = status;
    std::cout << doc_.dump(2) << std::endl;
  }
  return status;
}

void errorLine(const std::string& message) { std::fprintf(stderr, "qxscsi: %s\n", message.c_str()); }

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
