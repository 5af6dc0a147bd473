// sync: SYNCHRONIZE CACHE(10), or (16) when the LBA or the block count needs it.
#include "cli/daily.h"
#include "cli/send.h"
#include "cli/sense_report.h"
#include "qxscsi/target.h"
#include "wire/bytes.h"

namespace qxscsi::cli {
namespace {

constexpr unsigned char synchronizeCache10Code = 0x35;
constexpr unsigned char synchronizeCache16Code = 0x91;
constexpr unsigned char immedBit = 0x02;  // byte 1 of both forms

}  // namespace

bool parseWholeNumber(const std::string& text, uint64_t max, uint64_t& value) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const unsigned base = hex ? 16 : 10;
  if (text.empty() || text.size() > 20 + (hex ? 2 : 0)) return false;
  uint64_t v = 0;
  for (size_t i = hex ? 2 : 0; i < text.size(); ++i) {
    const char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = unsigned(c - '0');
    else if (hex && c >= 'a' && c <= 'f')
      digit = unsigned(c - 'a' + 10);
    else if (hex && c >= 'A' && c <= 'F')
      digit = unsigned(c - 'A' + 10);
    else
      return false;
    if (v > (max - digit) / base) return false;
    v = v * base + digit;
  }
  value = v;
  return true;
}

unsigned char syncCacheCdb(const SyncOptions& o, unsigned char* cdb) {
  for (int i = 0; i < 16; ++i) cdb[i] = 0;
  cdb[1] = o.immediate ? immedBit : 0;
  if (o.lba <= 0xffffffffu && o.count <= 0xffffu) {
    cdb[0] = synchronizeCache10Code;
    wire::putBe32(cdb + 2, static_cast<uint32_t>(o.lba));
    wire::putBe16(cdb + 7, static_cast<uint32_t>(o.count));
    return 10;
  }
  cdb[0] = synchronizeCache16Code;
  wire::putBe64(cdb + 2, o.lba);
  wire::putBe32(cdb + 10, static_cast<uint32_t>(o.count));
  return 16;
}

int runSynchronizeCache(QXScsiTarget& target, const SyncOptions& o, Output& out) {
  unsigned char cdb[16];
  Request request;
  request.cdbLength = syncCacheCdb(o, cdb);
  request.title = request.cdbLength == 10 ? "SYNCHRONIZE CACHE(10):" : "SYNCHRONIZE CACHE(16):";
  request.cdb = cdb;
  nlohmann::json& d = out.doc();
  d["command_length"] = request.cdbLength;
  d["logical_block_address"] = o.lba;
  d["logical_block_address_hex"] = hexNumber(o.lba, 1);
  d["logical_block_count"] = o.count;
  d["immediate"] = o.immediate;
  Record rec = send(target, out.options(), request);
  if (!rec) return out.commandFailure("SYNCHRONIZE CACHE", target);
  const int status = out.commandOutcome(*rec);
  if (rec->scsiStatus() == 0) {
    out.text() << "cache synchronized";
    if (o.lba != 0 || o.count != 0) {
      out.text() << " from LBA " << o.lba;
      if (o.count != 0)
        out.text() << ", " << o.count << " blocks";
      else
        out.text() << " to the end";
    }
    out.text() << (o.immediate ? " (immediate: accepted, may still be in progress)" : "") << '\n';
  }
  return status;
}

}  // namespace qxscsi::cli
