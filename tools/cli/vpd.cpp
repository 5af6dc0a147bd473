// VPD pages: supported pages, unit serial number, device identification.
#include "cli/vpd.h"

#include <cstdio>
#include <string>

#include "cli/hex.h"
#include "cli/sense_report.h"

namespace qxscsi::cli {
namespace {

std::string hex2(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02xh", v & 0xff);
  return buf;
}

void supportedPages(const uint8_t* p, size_t n, Output& out) {
  nlohmann::json pages = nlohmann::json::array(), pagesHex = nlohmann::json::array();
  out.text() << "supported VPD pages:\n";
  for (size_t i = 4; i < n; ++i) {
    out.text() << "  " << hex2(p[i]) << '\n';
    pages.push_back(p[i]);
    pagesHex.push_back(hexNumber(p[i], 2));
  }
  out.doc()["supported_pages"] = pages;
  out.doc()["supported_pages_hex"] = pagesHex;
}

void serialNumber(const uint8_t* p, size_t n, Output& out) {
  size_t end = n;
  while (end > 4 && (p[end - 1] == ' ' || p[end - 1] == 0)) --end;
  std::string serial = untrustedText(p + 4, end - 4);
  out.text() << "unit serial number: " << serial << '\n';
  out.doc()["serial_number"] = serial;
}

}  // namespace

void describeDeviceIdentification(const uint8_t* page, size_t length, Output& out);

void describeVpdPage(const uint8_t* page, size_t length, Output& out) {
  if (length < 4) {
    out.text() << "short VPD page (" << length << " bytes)\n";
    return;
  }
  unsigned code = page[1];
  out.doc()["page_code"] = code;
  out.doc()["page_code_hex"] = hexNumber(code, 2);
  out.text() << "VPD page " << hex2(code) << ", peripheral device type " << (page[0] & 0x1f) << '\n';
  switch (code) {
    case 0x00:
      supportedPages(page, length, out);
      break;
    case 0x80:
      serialNumber(page, length, out);
      break;
    case 0x83:
      describeDeviceIdentification(page, length, out);
      break;
    default:
      out.text() << "(no decoder for this page; --hex shows its bytes)\n";
  }
}

}  // namespace qxscsi::cli
