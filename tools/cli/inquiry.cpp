// inquiry: standard INQUIRY data, and the VPD pages 00h, 80h and 83h.
#include <cstdio>
#include <memory>

#include "cli/commands.h"
#include "cli/sense_report.h"
#include "cli/vpd.h"
#include "qxscsi/commands.h"
#include "qxscsi/target.h"
#include "wire/bytes.h"
#include "wire/cdb.h"

namespace qxscsi::cli {
namespace {

std::string field(const uint8_t* data, size_t length, size_t from, size_t to) {
  std::string s;
  for (size_t i = from; i < to && i < length; ++i)
    s += (data[i] >= 0x20 && data[i] < 0x7f) ? char(data[i]) : ' ';
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

int vpdInquiry(QXScsiTarget& target, int page, Output& out) {
  const uint16_t length = 4096;
  std::vector<uint8_t> buffer(length, 0);
  unsigned char cdb[6];
  wire::inquiryCdb(cdb, true, static_cast<unsigned char>(page), length);
  QXScsiAnyArgs args(cdb, sizeof cdb, buffer.data(), length, QXScsi::dataIn_c);
  std::unique_ptr<QXScsiCmd, void (*)(QXScsiCmd*)> rec(target.cmdCall(args, 0), QXScsiFreeCmd);
  if (!rec) return out.commandFailure("INQUIRY (VPD)", target);
  int status = out.commandOutcome(*rec);
  if (rec->scsiStatus() != 0) return status;
  size_t returned = 4 + static_cast<size_t>(wire::getBe16(&buffer[2]));
  if (returned > length) returned = length;
  out.data(buffer.data(), returned);
  describeVpdPage(buffer.data(), returned, out);
  return status;
}

}  // namespace

void describeStandardInquiry(const uint8_t* d, size_t n, Output& out) {
  if (n < 8) {
    out.text() << "short inquiry data (" << n << " bytes)\n";
    out.doc()["short"] = true;
    return;
  }
  unsigned qualifier = d[0] >> 5, pdt = d[0] & 0x1f;
  std::string vendor = field(d, n, 8, 16), product = field(d, n, 16, 32), revision = field(d, n, 32, 36);
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%02x", pdt);
  out.text() << "peripheral device type: " << buf << " (" << deviceTypeText(pdt) << ")\n"
             << "peripheral qualifier: " << qualifier << "\n"
             << "removable: " << ((d[1] & 0x80) ? "yes" : "no") << "\n"
             << "version: " << unsigned(d[2]) << "\n"
             << "response data format: " << unsigned(d[3] & 0x0f) << "\n"
             << "vendor: " << vendor << "\n"
             << "product: " << product << "\n"
             << "revision: " << revision << "\n";
  nlohmann::json& j = out.doc();
  j["peripheral_device_type"] = pdt;
  j["peripheral_device_type_text"] = deviceTypeText(pdt);
  j["peripheral_qualifier"] = qualifier;
  j["removable"] = (d[1] & 0x80) != 0;
  j["version"] = d[2];
  j["response_data_format"] = d[3] & 0x0f;
  j["vendor"] = vendor;
  j["product"] = product;
  j["revision"] = revision;
}

int runInquiry(QXScsiTarget& target, const InquiryOptions& o, Output& out) {
  if (o.vpdPage >= 0) return vpdInquiry(target, o.vpdPage, out);
  unsigned char buffer[255] = {};
  std::unique_ptr<QXScsiCmd, void (*)(QXScsiCmd*)> rec(target.cmdInquiry(buffer, 255), QXScsiFreeCmd);
  if (!rec) return out.commandFailure("INQUIRY", target);
  int status = out.commandOutcome(*rec);
  if (rec->scsiStatus() != 0) return status;
  size_t returned = 5 + static_cast<size_t>(buffer[4]);
  if (returned > sizeof buffer) returned = sizeof buffer;
  out.data(buffer, returned);
  describeStandardInquiry(buffer, returned, out);
  return status;
}

}  // namespace qxscsi::cli
