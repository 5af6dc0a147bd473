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

void Output::start(const std::string& subcommand, const std::string& device) {
  doc_["subcommand"] = subcommand;
  if (!device.empty()) doc_["device"] = untrustedText(device);
}

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
  Facts facts;
  if (!facts_ || !facts_(facts)) {
    text() << "residual unknown: taking all " << size << " bytes of the buffer as received\n";
    doc_["command"]["data_in"] = {{"requested", size}, {"received", size}, {"residual_known", false}};
    return size;
  }
  size_t arrived = facts.transferred < size ? static_cast<size_t>(facts.transferred) : size;
  doc_["command"]["data_in"] = {{"requested", size},
                                {"received", arrived},
                                {"residual_known", true},
                                {"overflow", facts.overflow}};
  return arrived;
}

namespace {

std::string spacedHex(const uint8_t* bytes, size_t length) {
  std::string text;
  char byte[4];
  for (size_t i = 0; i < length; ++i) {
    std::snprintf(byte, sizeof byte, "%s%02x", i ? " " : "", bytes[i]);
    text += byte;
  }
  return text;
}

}  // namespace

int Output::commandOutcome(const QXScsiCmd& record, Completion completion) {
  const unsigned char* cdb = nullptr;
  unsigned char cdbLength = 0;
  record.getCDB(cdb, cdbLength);
  if (options_.verbose > 0) {
    const unsigned char* data = nullptr;
    unsigned long dataLength = 0;
    int direction = QXScsi::noData_c;
    record.getCmdData(data, dataLength, direction);
    std::cerr << "    cdb: " << spacedHex(cdb, cdbLength) << "\n    " << directionName(direction) << ", " << dataLength
              << " bytes, timeout " << record.timeout() << " s\n";
    Facts facts;
    if (facts_ && facts_(facts)) {
      char ms[32];
      std::snprintf(ms, sizeof ms, "%.3f", facts.milliseconds);
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
  if (options_.verbose > 1 && report.present)
    std::cerr << "    sense bytes: " << spacedHex(sense, report.length) << '\n';
  const std::string statusHex = hexNumber(status, 2);
  if (status != 0 || options_.verbose > 0)
    text() << "status: " << statusHex << " " << wire::statusName(status) << '\n';
  if (report.present) printSense(text(), report, "  ");
  nlohmann::json& command = doc_["command"];
  command["cdb_hex"] = toHex(cdb, cdbLength);
  command["timeout_seconds"] = record.timeout();
  command["status"] = status;
  command["status_hex"] = statusHex;
  command["status_text"] = wire::statusName(status);
  command["sense"] = senseJson(report, sense);
  long implError = record.implementationError();
  command["implementation_error"] = implError;
  if (implError != 0) {
    std::string message;
    record.implementationErrorMsg(message);
    command["implementation_error_message"] = untrustedText(message);
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
