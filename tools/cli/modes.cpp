// modes: MODE SENSE(10) or (6), one page or all, decoded where the page is known.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "cli/daily.h"
#include "cli/hex.h"
#include "cli/mode_pages.h"
#include "cli/send.h"
#include "cli/sense_report.h"
#include "qxscsi/target.h"
#include "wire/bytes.h"

namespace qxscsi::cli {
namespace {

constexpr unsigned allPages = 0x3f;
constexpr size_t allocation6 = 252;
constexpr size_t allocation10 = 4096;

const char* const controls_c[] = {"current", "changeable", "default", "saved"};

struct Abbreviation {
  const char* name;
  unsigned code;
} const abbreviations_c[] = {{"rw", 0x01}, {"ca", 0x08}, {"co", 0x0a}, {"ie", 0x1c}, {"all", allPages}};

}  // namespace

int parseModePage(const std::string& text) {
  for (const Abbreviation& a : abbreviations_c)
    if (text == a.name) return static_cast<int>(a.code);
  return parsePageNumber(text, 0x3f);
}

namespace {

void describeBlockDescriptor(const uint8_t* b, bool longLba, Output& out, nlohmann::json& list) {
  const uint64_t blocks = longLba ? wire::getBe64(b) : wire::getBe32(b);
  const uint32_t length = longLba ? wire::getBe32(b + 12) : wire::getBe24(b + 5);
  out.text() << "block descriptor (" << (longLba ? "long" : "short") << " LBA): number of logical blocks "
             << blocks << ", logical block length " << length << '\n';
  list.push_back({{"logical_block_count", blocks},
                  {"logical_block_count_hex", hexNumber(blocks, 1)},
                  {"logical_block_length", length},
                  {"data_hex", toHex(b, longLba ? 16 : 8)}});
}

// "0AH" as text shows page codes: two upper-case digits and 'h'.
std::string upperHex(unsigned v) {
  char text[8];
  std::snprintf(text, sizeof text, "%02Xh", v & 0xff);
  return text;
}

}  // namespace

std::string describeModeData(const uint8_t* data, size_t length, bool six, unsigned asked, size_t allocation,
                             Output& out) {
  const size_t header = six ? 4 : 8;
  if (length < header)
    return std::to_string(length) + " bytes arrived, the mode parameter header holds " + std::to_string(header);
  const size_t claimed = six ? size_t(data[0]) + 1 : size_t(wire::getBe16(data)) + 2;
  const bool cut = claimed > length;
  if (cut && length < allocation)
    return "mode data length claims " + std::to_string(claimed) + " bytes, " + std::to_string(length) + " arrived";
  const size_t end = cut ? length : claimed;
  if (end < header) return "mode data length " + std::to_string(claimed) + " is shorter than its header";
  const unsigned mediumType = data[six ? 1 : 2];
  const unsigned specific = data[six ? 2 : 3];
  const bool longLba = !six && (data[4] & 0x01);
  const size_t descriptorBytes = six ? data[3] : wire::getBe16(data + 6);
  const size_t descriptorSize = longLba ? 16 : 8;
  if (header + descriptorBytes > end)
    return "block descriptor length " + std::to_string(descriptorBytes) + " runs past the " + std::to_string(end) +
           " bytes of mode data";
  if (descriptorBytes % descriptorSize != 0)
    return "block descriptor length " + std::to_string(descriptorBytes) + " is not a multiple of " +
           std::to_string(descriptorSize);
  // Pages first: nothing is printed for an answer that contradicts itself.
  struct Page {
    size_t at, length;
  };
  std::vector<Page> pages;
  bool partial = false;
  for (size_t at = header + descriptorBytes; at < end;) {
    const bool subpageFormat = data[at] & 0x40;
    const size_t pageHeader = subpageFormat ? 4 : 2;
    size_t pageLength = 0;
    if (end - at >= pageHeader)
      pageLength = pageHeader + (subpageFormat ? wire::getBe16(data + at + 2) : data[at + 1]);
    if (pageLength == 0 || at + pageLength > end) {
      if (cut) {
        partial = true;
        break;
      }
      return "the page at byte " + std::to_string(at) + " runs past the " + std::to_string(end) +
             " bytes of mode data";
    }
    pages.push_back({at, pageLength});
    at += pageLength;
  }
  if (asked != allPages && !pages.empty() && (data[pages[0].at] & 0x3f) != asked)
    return "page " + hexNumber(asked, 2) + " asked, page " + hexNumber(data[pages[0].at] & 0x3f, 2) + " answered";

  nlohmann::json& d = out.doc();
  std::ostream& t = out.text();
  t << "mode parameter header (MODE SENSE(" << (six ? 6 : 10) << ")): mode data length " << claimed
    << ", medium type " << hexNumber(mediumType, 2) << ", device-specific parameter " << hexNumber(specific, 2)
    << " (WP=" << (specific >> 7) << "; on a disk DpoFua=" << ((specific >> 4) & 1) << ")"
    << (six ? "" : std::string(", LONGLBA=") + (longLba ? "1" : "0")) << '\n';
  if (cut) t << "(the device has " << claimed << " bytes of mode data, " << allocation << " were asked for)\n";
  d["mode_data_length"] = claimed;
  d["medium_type"] = mediumType;
  d["medium_type_hex"] = hexNumber(mediumType, 2);
  d["device_specific_parameter"] = specific;
  d["device_specific_parameter_hex"] = hexNumber(specific, 2);
  d["write_protect"] = (specific & 0x80) != 0;
  d["long_lba"] = longLba;
  d["block_descriptor_length"] = descriptorBytes;
  nlohmann::json descriptors = nlohmann::json::array();
  for (size_t at = header; at < header + descriptorBytes; at += descriptorSize)
    describeBlockDescriptor(data + at, longLba, out, descriptors);
  d["block_descriptors"] = descriptors;
  nlohmann::json list = nlohmann::json::array();
  for (const Page& p : pages) {
    const uint8_t* page = data + p.at;
    const unsigned code = page[0] & 0x3f;
    const bool subpageFormat = page[0] & 0x40;
    const unsigned subpage = subpageFormat ? page[1] : 0;
    const char* name = modePageName(code, subpage);
    t << "page " << upperHex(code);
    if (subpageFormat) t << ", subpage " << upperHex(subpage);
    t << (name ? std::string(" ") + name : std::string()) << ": " << p.length << " bytes, PS=" << (page[0] >> 7)
      << '\n';
    nlohmann::json j = {{"page_code", code},
                        {"page_code_hex", hexNumber(code, 2)},
                        {"subpage_code", subpage},
                        {"parameters_saveable", (page[0] & 0x80) != 0},
                        {"page_length", p.length},
                        {"data_hex", toHex(page, p.length)}};
    if (name) j["name"] = name;
    nlohmann::json fields;
    if (describeModePage(page, p.length, t, fields))
      j["fields"] = fields;
    else
      hexDump(t, page, p.length);
    list.push_back(j);
  }
  d["pages"] = list;
  if (partial) {
    t << "(the last page was cut off by the allocation length: not shown)\n";
    d["last_page_cut_off"] = true;
  }
  return std::string();
}

int runModeSense(QXScsiTarget& target, const ModesOptions& o, Output& out) {
  if (!o.set.empty()) return runModeSet(target, o, out);
  if (o.save) return out.fail("modes: --save goes with --set", exitSyntax);
  const int page = parseModePage(o.page);
  if (page < 0)
    return out.fail("modes: --page '" + o.page + "': expected 0 to 63 (decimal, 0xNN or NNh) or rw, ca, co, ie, all",
                    exitSyntax);
  unsigned control = 0;
  // The names, or 0 to 3 as sg_modes -c takes them.
  while (control < 4 && o.control != controls_c[control] && o.control != std::string(1, char('0' + control)))
    ++control;
  if (control == 4)
    return out.fail("modes: --control '" + o.control + "': expected current, changeable, default or saved (or 0 to 3)",
                    exitSyntax);
  if (o.subpage > 0xff) return out.fail("modes: --subpage: expected 0 to 255", exitSyntax);
  if (o.six && o.longLba) return out.fail("modes: --llbaa needs MODE SENSE(10): it excludes --six", exitContradicting);
  const size_t allocation = o.six ? allocation6 : allocation10;
  std::vector<uint8_t> buffer(allocation, 0);
  unsigned char cdb[10] = {};
  cdb[1] = static_cast<unsigned char>((o.disableBlockDescriptors ? 0x08 : 0) | (o.longLba ? 0x10 : 0));
  cdb[2] = static_cast<unsigned char>(control << 6 | unsigned(page));
  cdb[3] = static_cast<unsigned char>(o.subpage);
  Request request;
  request.title = o.six ? "MODE SENSE(6):" : "MODE SENSE(10):";
  request.cdb = cdb;
  request.cdbLength = modeCdb(cdb, o.six, modeSense6Code, modeSense10Code, allocation);
  request.data = buffer.data();
  request.dataLength = allocation;
  request.direction = QXScsi::dataIn_c;
  nlohmann::json& d = out.doc();
  d["command_length"] = request.cdbLength;
  d["page_control"] = controls_c[control];
  Record rec = send(target, out.options(), request);
  if (!rec) return out.commandFailure(o.six ? "MODE SENSE(6)" : "MODE SENSE(10)", target);
  const int status = out.commandOutcome(*rec);
  if (rec->scsiStatus() != 0) return status;
  const size_t got = out.received(allocation);
  out.data(buffer.data(), got);
  const std::string problem = describeModeData(buffer.data(), got, o.six, unsigned(page), allocation, out);
  if (!problem.empty()) return out.fail("modes: response failed sanity checks: " + problem, exitMalformed);
  return status;
}

}  // namespace qxscsi::cli
