// VPD pages: supported pages, unit serial number; the choice of a page's decoder; page arguments.
#include "cli/vpd.h"

#include <cstdio>
#include <string>

#include "cli/hex.h"
#include "cli/sense_report.h"
#include "cli/vpd_fields.h"

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
    case 0x86:
      describeExtendedInquiry(page, length, out);
      break;
    case 0x89:
      describeAtaInformation(page, length, out);
      break;
    case 0xb0:
      describeBlockLimits(page, length, out);
      break;
    case 0xb1:
      describeBlockDeviceCharacteristics(page, length, out);
      break;
    case 0xb2:
      describeLogicalBlockProvisioning(page, length, out);
      break;
    case 0xb3:
      describeReferrals(page, length, out);
      break;
    default:
      out.text() << "(no decoder for this page; --hex shows its bytes)\n";
  }
}

namespace {

struct Abbreviation {
  const char* text;
  int page;
};

const Abbreviation abbreviations_c[] = {{"sv", 0x00}, {"sn", 0x80},  {"di", 0x83},   {"ei", 0x86}, {"ai", 0x89},
                                        {"bl", 0xb0}, {"bdc", 0xb1}, {"lbpv", 0xb2}, {"ref", 0xb3}};

bool digits(const std::string& text, int base, int& value) {
  if (text.empty() || text.size() > 4) return false;
  int v = 0;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    v = v * base + d;
  }
  value = v;
  return true;
}

}  // namespace

bool parseVpdPage(const std::string& text, int& page, std::string& error) {
  for (const Abbreviation& a : abbreviations_c) {
    if (text == a.text) {
      page = a.page;
      return true;
    }
  }
  const int value = parsePageNumber(text, 255);
  if (value < 0) {
    error = "--vpd: expected a page 0 to 255 (decimal, 0xNN or NNh), all, or one of sv, sn, di, ei, ai, bl, bdc, "
            "lbpv, ref, not '" + text + "'";
    return false;
  }
  page = value;
  return true;
}

std::string vpdRefusalHint(const std::string& text, int page) {
  std::string hint = "the device refused VPD page " + hex2(static_cast<unsigned>(page)) + " (decimal " +
                     std::to_string(page) + ")";
  int asHex = -1;
  int asDecimal = -1;
  if (digits(text, 10, asDecimal) && digits(text, 16, asHex) && asHex != asDecimal && asHex <= 255) {
    for (const Abbreviation& a : abbreviations_c)
      if (a.page == asHex) return hint + "; plain numbers are decimal: for page " + hex2(asHex) + " give 0x" + text;
  }
  return hint;
}

}  // namespace qxscsi::cli
