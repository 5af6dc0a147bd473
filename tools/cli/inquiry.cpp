// inquiry: standard INQUIRY data, one VPD page, or every page the device lists.
#include <cstdio>
#include <memory>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/hex.h"
#include "cli/send.h"
#include "cli/sense_report.h"
#include "cli/vpd.h"
#include "qxscsi/commands.h"
#include "qxscsi/target.h"
#include "wire/bytes.h"
#include "wire/cdb.h"

namespace qxscsi::cli {
namespace {

// Reads and decodes one VPD page; the bytes that arrived and belong to the page go to `answer`
// when it is given (left empty when the page was refused or failed its checks).
int vpdInquiry(QXScsiTarget& target, int page, const std::string& text, Output& out,
               std::vector<uint8_t>* answer = nullptr) {
  const uint16_t length = 4096;
  std::vector<uint8_t> buffer(length, 0);
  unsigned char cdb[6];
  wire::inquiryCdb(cdb, true, static_cast<unsigned char>(page), length);
  Request request;
  request.title = "INQUIRY (VPD):";
  request.cdb = cdb;
  request.cdbLength = sizeof cdb;
  request.data = buffer.data();
  request.dataLength = length;
  request.direction = QXScsi::dataIn_c;
  Record rec = send(target, out.options(), request);
  if (!rec) return out.commandFailure("INQUIRY (VPD)", target);
  int status = out.commandOutcome(*rec);
  if (status == exitIllegalRequest) {
    const std::string hint = vpdRefusalHint(text, page);
    out.text() << hint << '\n';
    out.doc()["hint"] = hint;
  }
  if (rec->scsiStatus() != 0) return status;
  const size_t got = out.received(length);
  std::string problem;
  char line[96];
  size_t claimed = got >= 4 ? 4 + static_cast<size_t>(wire::getBe16(&buffer[2])) : 0;
  if (got < 4) {
    std::snprintf(line, sizeof line, "%zu bytes arrived, fewer than the 4 of a page header", got);
    problem = line;
  } else if (buffer[1] != page) {
    std::snprintf(line, sizeof line, "page %02xh arrived, page %02xh was asked for", buffer[1], page);
    problem = line;
  } else if (claimed > got && got < length) {
    std::snprintf(line, sizeof line, "the page says it holds %zu bytes, %zu arrived", claimed, got);
    problem = line;
  }
  out.data(buffer.data(), got);
  if (!problem.empty()) {
    return out.fail("inquiry: response failed sanity checks: " + problem, exitMalformed);
  }
  const size_t used = claimed < got ? claimed : got;
  describeVpdPage(buffer.data(), used, out);
  if (answer != nullptr) answer->assign(buffer.begin(), buffer.begin() + static_cast<long>(used));
  return status;
}

// Moves what one page's run put in the document into an object of its own.
nlohmann::json takePage(Output& out) {
  nlohmann::json page = nlohmann::json::object();
  for (auto it = out.doc().begin(); it != out.doc().end();) {
    if (it.key() == "subcommand" || it.key() == "device" || it.key() == "error") {
      ++it;
      continue;
    }
    page[it.key()] = std::move(it.value());
    it = out.doc().erase(it);
  }
  return page;
}

// Every page that page 00h lists, one after the other. A page that is refused or fails its checks
// is reported and the run goes on; the exit status is that of the last page that failed.
int allVpdPages(QXScsiTarget& target, Output& out) {
  std::vector<uint8_t> supported;
  int status = vpdInquiry(target, 0, "0", out, &supported);
  nlohmann::json pages = nlohmann::json::array();
  pages.push_back(takePage(out));
  if (supported.empty()) {
    out.doc()["vpd_pages"] = pages;
    return status;
  }
  int last = status;
  nlohmann::json lastError;
  for (size_t i = 4; i < supported.size(); ++i) {
    const int code = supported[i];
    if (code == 0) continue;
    out.text() << '\n';
    const int s = vpdInquiry(target, code, std::to_string(code), out);
    nlohmann::json page = takePage(out);
    if (s != exitOk) {
      if (!out.doc().contains("error")) {
        char line[64];
        std::snprintf(line, sizeof line, "inquiry: VPD page %02xh is listed but was not read",
                      unsigned(code));
        out.fail(line, s);
      }
      page["error"] = lastError = out.doc()["error"];
      out.doc().erase("error");
      last = s;
    }
    pages.push_back(std::move(page));
  }
  out.doc()["vpd_pages"] = pages;
  if (!lastError.is_null()) out.doc()["error"] = lastError;
  return last;
}

}  // namespace

int runInquiry(QXScsiTarget& target, const InquiryOptions& o, Output& out) {
  if (o.vpdText == "all") return allVpdPages(target, out);
  if (!o.vpdText.empty()) {
    int page = 0;
    std::string error;
    if (!parseVpdPage(o.vpdText, page, error)) return out.fail(error, exitSyntax);
    return vpdInquiry(target, page, o.vpdText, out);
  }
  unsigned char buffer[255] = {};
  unsigned char cdb[6];
  wire::inquiryCdb(cdb, false, 0, sizeof buffer);
  Request request;
  request.title = "INQUIRY:";
  request.cdb = cdb;
  request.cdbLength = sizeof cdb;
  request.data = buffer;
  request.dataLength = sizeof buffer;
  request.direction = QXScsi::dataIn_c;
  Record rec = send(target, out.options(), request, [&] { return target.cmdInquiry(buffer, sizeof buffer); });
  if (!rec) return out.commandFailure("INQUIRY", target);
  int status = out.commandOutcome(*rec);
  if (rec->scsiStatus() != 0) return status;
  const size_t got = out.received(sizeof buffer);
  size_t returned = got >= 5 ? 5 + static_cast<size_t>(buffer[4]) : got;
  if (returned > got) returned = got;
  out.data(buffer, returned);
  describeStandardInquiry(buffer, returned, out);
  return status;
}

}  // namespace qxscsi::cli
