// inquiry: standard INQUIRY data, and the VPD pages 00h, 80h and 83h.
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

// An ASCII field of standard INQUIRY data, trailing blanks and NULs dropped, anything else escaped.
std::string field(const uint8_t* data, size_t length, size_t from, size_t to) {
  if (from >= length) return std::string();
  if (to > length) to = length;
  while (to > from && (data[to - 1] == ' ' || data[to - 1] == 0)) --to;
  return untrustedText(data + from, to - from);
}

int vpdInquiry(QXScsiTarget& target, int page, const std::string& text, Output& out) {
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
  describeVpdPage(buffer.data(), claimed < got ? claimed : got, out);
  return status;
}

}  // namespace

void describeStandardInquiry(const uint8_t* d, size_t n, Output& out) {
  if (n < 8) {
    out.text() << "short inquiry data (" << n << " bytes)\n";
    out.doc()["short"] = true;
    return;
  }
  // Fields that did not arrive whole are left out rather than shown cut.
  const bool whole = n >= 36;
  unsigned qualifier = d[0] >> 5, pdt = d[0] & 0x1f;
  std::string vendor = field(d, n, 8, 16), product = field(d, n, 16, 32), revision = field(d, n, 32, 36);
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%02x", pdt);
  out.text() << "peripheral device type: " << buf << " (" << deviceTypeText(pdt) << ")\n"
             << "peripheral qualifier: " << qualifier << "\n"
             << "removable: " << ((d[1] & 0x80) ? "yes" : "no") << "\n"
             << "version: " << unsigned(d[2]) << "\n"
             << "response data format: " << unsigned(d[3] & 0x0f) << "\n";
  if (whole)
    out.text() << "vendor: " << vendor << "\n"
               << "product: " << product << "\n"
               << "revision: " << revision << "\n";
  else
    out.text() << "short inquiry data (" << n << " of 36 bytes): no vendor, product or revision\n";
  nlohmann::json& j = out.doc();
  j["peripheral_device_type"] = pdt;
  j["peripheral_device_type_text"] = deviceTypeText(pdt);
  j["peripheral_qualifier"] = qualifier;
  j["removable"] = (d[1] & 0x80) != 0;
  j["version"] = d[2];
  j["version_hex"] = hexNumber(d[2], 2);
  j["peripheral_device_type_hex"] = hexNumber(pdt, 2);
  j["response_data_format"] = d[3] & 0x0f;
  if (!whole) {
    j["short"] = true;
    return;
  }
  j["vendor"] = vendor;
  j["product"] = product;
  j["revision"] = revision;
}

int runInquiry(QXScsiTarget& target, const InquiryOptions& o, Output& out) {
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
