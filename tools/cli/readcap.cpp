// readcap: READ CAPACITY(10), and (16) on request or when the medium is too big for (10).
#include <cstdio>

#include "cli/daily.h"
#include "cli/send.h"
#include "cli/sense_report.h"
#include "qxscsi/target.h"
#include "wire/bytes.h"

namespace qxscsi::cli {
namespace {

constexpr unsigned char readCapacity10Code = 0x25;
constexpr unsigned char serviceActionIn16Code = 0x9e;
constexpr unsigned char readCapacity16Action = 0x10;
constexpr size_t capacity10Bytes = 8;
constexpr size_t capacity16Bytes = 32;
// Every field decoded sits in the first 16 bytes of the (16) answer.
constexpr size_t capacity16Decoded = 16;

}  // namespace

Capacity decodeCapacity(const uint8_t* data, size_t length, bool sixteen) {
  Capacity c;
  c.sixteen = sixteen;
  const size_t needed = sixteen ? capacity16Decoded : capacity10Bytes;
  if (length < needed) {
    c.problem = std::to_string(length) + " bytes arrived, READ CAPACITY(" + (sixteen ? "16" : "10") +
                ") data holds " + std::to_string(sixteen ? capacity16Bytes : capacity10Bytes);
    return c;
  }
  if (!sixteen) {
    c.lastLba = wire::getBe32(data);
    c.blockLength = wire::getBe32(data + 4);
    return c;
  }
  c.lastLba = wire::getBe64(data);
  c.blockLength = wire::getBe32(data + 8);
  c.protectionType = (data[12] >> 1) & 0x07;
  c.protectionEnabled = data[12] & 0x01;
  c.protectionIntervalExponent = data[13] >> 4;
  c.physicalBlockExponent = data[13] & 0x0f;
  c.provisioningManagement = data[14] & 0x80;
  c.provisioningReadZeros = data[14] & 0x40;
  c.lowestAlignedLba = wire::getBe16(data + 14) & 0x3fff;
  return c;
}

bool needsLongCapacity(const Capacity& c) { return !c.sixteen && c.problem.empty() && c.lastLba == 0xffffffffu; }

void describeCapacity(const Capacity& c, Output& out) {
  // The last LBA is 2^64 - 1 at most: the block count and the size may need 65 bits and more.
  const unsigned __int128 blocks = static_cast<unsigned __int128>(c.lastLba) + 1;
  const unsigned __int128 bytes = blocks * c.blockLength;
  const bool bytesFit = bytes <= UINT64_MAX;
  std::ostream& t = out.text();
  nlohmann::json& d = out.doc();
  if (c.sixteen) {
    t << "protection: prot_en=" << c.protectionEnabled << ", p_type=" << c.protectionType
      << ", p_i_exponent=" << c.protectionIntervalExponent;
    if (c.protectionEnabled) t << " [type " << c.protectionType + 1 << " protection]";
    t << "\nlogical block provisioning: lbpme=" << c.provisioningManagement
      << ", lbprz=" << c.provisioningReadZeros << '\n';
  }
  t << "last LBA: " << c.lastLba << " (" << hexNumber(c.lastLba, 1) << "), number of logical blocks: ";
  if (blocks <= UINT64_MAX)
    t << static_cast<uint64_t>(blocks);
  else
    t << "2^64";
  t << "\nlogical block length: " << c.blockLength << " bytes\n";
  if (c.sixteen)
    t << "logical blocks per physical block exponent: " << c.physicalBlockExponent << " (" << (1u << c.physicalBlockExponent)
      << " per physical block)\nlowest aligned LBA: " << c.lowestAlignedLba << '\n';
  if (bytesFit) {
    char size[96];
    const double b = static_cast<double>(static_cast<uint64_t>(bytes));
    std::snprintf(size, sizeof size, "%.2f MiB, %.2f GB", b / (1024.0 * 1024.0), b / 1e9);
    t << "device size: " << static_cast<uint64_t>(bytes) << " bytes, " << size << '\n';
  } else {
    t << "device size: more than 2^64 bytes\n";
  }
  d["command_length"] = c.sixteen ? 16 : 10;
  d["last_logical_block_address"] = c.lastLba;
  d["last_logical_block_address_hex"] = hexNumber(c.lastLba, 1);
  if (blocks <= UINT64_MAX) {
    d["logical_block_count"] = static_cast<uint64_t>(blocks);
    d["logical_block_count_hex"] = hexNumber(static_cast<uint64_t>(blocks), 1);
  }
  d["logical_block_length"] = c.blockLength;
  if (bytesFit) {
    d["capacity_bytes"] = static_cast<uint64_t>(bytes);
    d["capacity_bytes_hex"] = hexNumber(static_cast<uint64_t>(bytes), 1);
  }
  if (c.sixteen) {
    d["protection_enabled"] = c.protectionEnabled;
    d["protection_type"] = c.protectionType;
    d["protection_information_interval_exponent"] = c.protectionIntervalExponent;
    d["logical_blocks_per_physical_block_exponent"] = c.physicalBlockExponent;
    d["logical_block_provisioning_management_enabled"] = c.provisioningManagement;
    d["logical_block_provisioning_read_zeros"] = c.provisioningReadZeros;
    d["lowest_aligned_logical_block_address"] = c.lowestAlignedLba;
  }
}

namespace {

// Sends one READ CAPACITY; `status` gets the exit status of its outcome. False when the command
// was not carried out or did not end GOOD (reported already).
bool readCapacity(QXScsiTarget& target, bool sixteen, uint8_t* buffer, size_t& got, Output& out, int& status) {
  unsigned char cdb[16] = {};
  unsigned char cdbLength = 10;
  if (sixteen) {
    cdb[0] = serviceActionIn16Code;
    cdb[1] = readCapacity16Action;
    wire::putBe32(cdb + 10, capacity16Bytes);
    cdbLength = 16;
  } else {
    cdb[0] = readCapacity10Code;
  }
  Request request;
  request.title = sixteen ? "READ CAPACITY(16):" : "READ CAPACITY(10):";
  request.cdb = cdb;
  request.cdbLength = cdbLength;
  request.data = buffer;
  request.dataLength = sixteen ? capacity16Bytes : capacity10Bytes;
  request.direction = QXScsi::dataIn_c;
  Record rec = send(target, out.options(), request);
  if (!rec) {
    status = out.commandFailure(sixteen ? "READ CAPACITY(16)" : "READ CAPACITY(10)", target);
    return false;
  }
  status = out.commandOutcome(*rec);
  if (rec->scsiStatus() != 0) return false;
  got = out.received(request.dataLength);
  return true;
}

}  // namespace

int runReadCapacity(QXScsiTarget& target, const ReadCapacityOptions& o, Output& out) {
  uint8_t buffer[capacity16Bytes] = {};
  size_t got = 0;
  int status = exitOther;
  bool sixteen = o.longForm;
  if (!readCapacity(target, sixteen, buffer, got, out, status)) return status;
  Capacity c = decodeCapacity(buffer, got, sixteen);
  if (needsLongCapacity(c)) {
    out.text() << "READ CAPACITY(10) answers FFFFFFFFh: the medium needs READ CAPACITY(16)\n";
    sixteen = true;
    got = 0;
    if (!readCapacity(target, sixteen, buffer, got, out, status)) return status;
    c = decodeCapacity(buffer, got, sixteen);
  }
  out.data(buffer, got);
  if (!c.problem.empty()) return out.fail("readcap: response failed sanity checks: " + c.problem, exitMalformed);
  describeCapacity(c, out);
  return status;
}

}  // namespace qxscsi::cli
