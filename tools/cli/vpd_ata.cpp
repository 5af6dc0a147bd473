// The ATA information VPD page (89h) of a SCSI to ATA translation layer: the layer's names, the
// device signature, and the IDENTIFY data it holds.
#include <cstdio>
#include <string>

#include "cli/hex.h"
#include "cli/sense_report.h"
#include "cli/vpd_fields.h"

namespace qxscsi::cli {
namespace {

// Trailing blanks and NULs dropped, the rest escaped.
std::string ascii(const uint8_t* p, size_t length) {
  while (length > 0 && (p[length - 1] == ' ' || p[length - 1] == 0)) --length;
  return untrustedText(p, length);
}

// An ATA string: `words` 16-bit words, each holding its first character in the high byte.
std::string ataString(const uint8_t* p, size_t words) {
  std::string swapped;
  for (size_t i = 0; i < words; ++i) {
    swapped += static_cast<char>(p[2 * i + 1]);
    swapped += static_cast<char>(p[2 * i]);
  }
  return ascii(reinterpret_cast<const uint8_t*>(swapped.data()), swapped.size());
}

struct AtaText {
  size_t offset;  // in the IDENTIFY data
  size_t words;
  const char* label;
  const char* key;
};

const AtaText identifyTexts_c[] = {{54, 20, "model", "model"},
                                   {20, 10, "serial number", "serial_number"},
                                   {46, 4, "firmware revision", "firmware_revision"}};

constexpr size_t identifyAt_c = 60, identifyLength_c = 512;

}  // namespace

void describeAtaInformation(const uint8_t* p, size_t n, Output& out) {
  out.text() << "ATA information VPD page:\n";
  nlohmann::json& j = out.doc()["ata_information"] = nlohmann::json::object();
  const struct {
    size_t from, to;
    const char* label;
    const char* key;
  } names[] = {{8, 16, "SAT Vendor identification", "sat_vendor"},
               {16, 32, "SAT Product identification", "sat_product"},
               {32, 36, "SAT Product revision level", "sat_revision"}};
  for (const auto& f : names) {
    if (n < f.to) break;
    const std::string text = ascii(p + f.from, f.to - f.from);
    out.text() << "  " << f.label << ": " << text << '\n';
    j[f.key] = text;
  }
  if (n >= 56) {  // the device's first register FIS: 34h when it came over a serial link
    const bool serial = p[36] == 0x34;
    out.text() << "  Device signature indicates " << (serial ? "SATA" : "PATA") << " transport\n";
    j["device_signature_hex"] = toHex(p + 36, 20);
    j["transport"] = serial ? "SATA" : "PATA";
  }
  if (n < 57) return;
  const unsigned code = p[56];
  out.text() << "  Command code: " << hexNumber(code, 2) << '\n';
  j["command_code"] = code;
  j["command_code_hex"] = hexNumber(code, 2);
  if (n <= identifyAt_c) return;
  const size_t have = n - identifyAt_c < identifyLength_c ? n - identifyAt_c : identifyLength_c;
  const uint8_t* id = p + identifyAt_c;
  const char* command = code == 0xec ? "IDENTIFY DEVICE" : code == 0xa1 ? "IDENTIFY PACKET DEVICE" : nullptr;
  if (command != nullptr) out.text() << "  ATA command " << command << " response summary:\n";
  for (const AtaText& t : identifyTexts_c) {
    if (command == nullptr || t.offset + 2 * t.words > have) continue;
    const std::string text = ataString(id + t.offset, t.words);
    out.text() << "    " << t.label << ": " << text << '\n';
    j[t.key] = text;
  }
  out.text() << "  IDENTIFY data (" << have << (have < identifyLength_c ? " of 512" : "") << " bytes):\n";
  hexDump(out.text(), id, have);
  j["identify_hex"] = toHex(id, have);
}

}  // namespace qxscsi::cli
