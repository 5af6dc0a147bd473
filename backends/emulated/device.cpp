// Command intake of the emulated devices and the commands every device type answers.
#include "device.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "changer.h"
#include "qxscsiplatform/errors.h"
#include "disk.h"
#include "tape.h"
#include "wire/bytes.h"

namespace qxscsi::backends::emulated {

using namespace wire;

namespace {

const char vendor_c[] = "QXSCSI  ";  // 8 bytes
const char revision_c[] = "0100";    // 4 bytes

std::string hex(unsigned v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02Xh", v & 0xFFu);
  return b;
}

}  // namespace

void CommandResult::reset() {
  executed = false;
  refusal.clear();
  status = wire::statusGood;
  sense.clear();
  transferred = 0;
  beyond = 0;
}

Exchange::Exchange(unsigned lun, const Command& command, unsigned long expected, CommandResult& outcome,
                   const std::string* initiator)
    : lun_(lun),
      cdb_(command.cdb),
      data_(command.data),
      room_(command.data ? command.length : 0),
      expected_(expected),
      initiator_(initiator),
      outcome_(outcome) {
  outcome_.executed = true;
}

const std::string& Exchange::initiator() const {
  static const std::string defaultInitiator;
  return initiator_ ? *initiator_ : defaultInitiator;
}

void Exchange::send(const unsigned char* bytes, unsigned long n) {
  const unsigned long had = std::min(n, expected_);
  const unsigned long k = std::min(had, room_);
  if (k > 0) std::memcpy(data_, bytes, k);
  outcome_.transferred = k;
  outcome_.beyond = had - k;
}

unsigned char* Exchange::sendInPlace(unsigned long n) {
  if (n > expected_ || n > room_ || data_ == nullptr) return nullptr;
  outcome_.transferred = n;
  outcome_.beyond = 0;
  return data_;
}

void Exchange::fail(const Sense& sense) {
  outcome_.status = statusCheckCondition;
  outcome_.sense.assign(sense.bytes().begin(), sense.bytes().end());
}

void Exchange::invalidField(unsigned index, int bit) {
  fail(Sense(illegalRequest_c, 0x24, 0x00).fieldPointer(true, index, bit));
}

void Exchange::invalidBits(unsigned index, unsigned bits) {
  int b = 7;
  while (b > 0 && !(bits & (1u << b))) --b;
  invalidField(index, b);
}

void Exchange::invalidParameter(unsigned index, int bit) {
  fail(Sense(illegalRequest_c, 0x26, 0x00).fieldPointer(false, index, bit));
}

void Exchange::parameterListLength() { fail(Sense(illegalRequest_c, 0x1A, 0x00)); }

void Exchange::conflict() {
  outcome_.status = statusReservationConflict;
  outcome_.sense.clear();
}

Device::Device(unsigned char peripheralType, const char* product, const Options& options)
    : peripheralType_(peripheralType),
      product_(product),
      options_(options),
      unitAttentions_(options.number("ua") != 0),
      lastSense_(std::max<unsigned long>(1, options.number("luns"))) {}

Device::~Device() = default;

std::unique_ptr<Device> Device::create(const Options& options) {
  OpenFailure ignored;
  return create(options, ignored);
}

std::unique_ptr<Device> Device::create(const Options& options, OpenFailure& failure) {
  if (options.given("file")) {
    FileSystem& fs = hostFileSystem();
    const std::string path = options.text("file");
    if (options.type() == "disk") {
      std::vector<std::unique_ptr<Medium>> media;
      media.push_back(FileMedium::open(fs, path, options.number("block"), options.number("capacity"),
                                       options.given("capacity"), failure, options.number("mmap") != 0));
      if (!media.back()) return nullptr;
      auto disk = std::make_unique<Disk>(options, std::move(media));
      if (!disk->keepStateIn(std::make_unique<SideFile>(path + ".state", fs, SideFile::diskMagic_c),
                             &failure.text)) {
        failure.code = QXScsiPlatform::ioError_c;
        return nullptr;
      }
      return disk;
    }
    if (options.type() == "tape") {
      std::vector<TapeObject> objects;
      std::unique_ptr<TapeFile> file = TapeFile::open(fs, path, objects, failure);
      if (!file) return nullptr;
      return std::make_unique<Tape>(options, std::move(file), std::move(objects));
    }
    if (options.type() == "changer") return Changer::open(options, fs, path, failure);
  }
  if (options.type() == "disk") return std::make_unique<Disk>(options);
  if (options.type() == "tape") return std::make_unique<Tape>(options);
  if (options.type() == "changer") return std::make_unique<Changer>(options);
  return nullptr;
}

CommandResult Device::execute(unsigned lun, const Command& command, const std::string& initiator) {
  CommandResult result;
  execute(lun, command, initiator, result);
  return result;
}

void Device::execute(unsigned lun, const Command& command, const std::string& initiator, CommandResult& result) {
  result.reset();
  if (!command.cdb || command.cdbLength == 0 || command.cdbLength > 16) {
    result.refusal = "CDB length " + std::to_string(command.cdbLength) + " is not 1 to 16 bytes";
    return;
  }
  // Handlers read any of the 16 bytes; those the host did not give read as zero.
  unsigned char cdb[16] = {};
  std::memcpy(cdb, command.cdb, command.cdbLength);
  Command padded = command;
  padded.cdb = cdb;

  Shape shape;
  const bool known = shapeOf(cdb, shape);
  if (known && command.cdbLength < shape.cdbLength) {
    result.refusal = "CDB of " + std::to_string(command.cdbLength) +
                     " bytes is too short for operation code " + hex(cdb[0]) + ", which needs " +
                     std::to_string(shape.cdbLength);
    return;
  }
  if (known && shape.bytes > 0) {
    if (command.direction != shape.direction) {
      result.refusal = "transfer direction " + std::to_string(command.direction) +
                       " does not suit operation code " + hex(cdb[0]) + ", which moves data " +
                       (shape.direction == QXScsi::dataIn_c ? "in (0)" : "out (1)");
      return;
    }
    if (!command.data && command.length > 0) {
      result.refusal = "a data buffer of " + std::to_string(command.length) + " bytes without an address";
      return;
    }
  }

  Exchange x(lun, padded, known ? shape.bytes : 0, result, &initiator);
  const bool unit = lun < lunCount();
  if (unit && reportUnitAttention(x)) {
    if (result.status == statusCheckCondition) lastSense_[lun] = result.sense;
    return;
  }
  if (!known) {
    x.fail(Sense(illegalRequest_c, 0x20, 0x00));
    if (unit) lastSense_[lun] = result.sense;
    return;
  }
  const unsigned long room = command.data ? command.length : 0;
  if (shape.bytes > room && shape.direction == QXScsi::dataOut_c && unit) {
    // The data the CDB announces cannot all arrive, so the command cannot complete. A disk does
    // not write part of it: as SBC-4 targets on iSCSI do (LIO rejects an underflow of a WRITE
    // data CDB or an overflow of a control CDB with INVALID FIELD IN CDB), the command ends in
    // CHECK CONDITION, ILLEGAL REQUEST, INVALID FIELD IN CDB (24h/00h), nothing written.
    x.fail(Sense(illegalRequest_c, 0x24, 0x00));
    lastSense_[lun] = result.sense;
    return;
  }
  if (unit) {
    run(x);
    if (result.status == statusCheckCondition) lastSense_[lun] = result.sense;
  } else if (cdb[0] == 0x12 || cdb[0] == 0x03 || cdb[0] == 0xA0) {
    Device::run(x);
  } else {
    x.fail(Sense(illegalRequest_c, 0x25, 0x00));
  }
}

bool Device::shapeOf(const unsigned char* cdb, Shape& s) const {
  switch (cdb[0]) {
    case 0x00:  // TEST UNIT READY
      s = {6, QXScsi::noData_c, 0};
      return true;
    case 0x03:  // REQUEST SENSE
      s = {6, QXScsi::dataIn_c, cdb[4]};
      return true;
    case 0x12:  // INQUIRY
      s = {6, QXScsi::dataIn_c, getBe16(cdb + 3)};
      return true;
    case 0xA0:  // REPORT LUNS
      s = {12, QXScsi::dataIn_c, getBe32(cdb + 6)};
      return true;
    default:
      return false;
  }
}

void Device::run(Exchange& x) {
  switch (x.op()) {
    case 0x00:
      return;
    case 0x03:
      return requestSense(x);
    case 0x12:
      return inquiry(x);
    case 0xA0:
      return reportLuns(x);
    default:
      x.fail(Sense(illegalRequest_c, 0x20, 0x00));
  }
}

void Device::inquiry(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  if (cdb[1] & 0xFE) return x.invalidField(1, (cdb[1] & 0x02) ? 1 : -1);
  bool unsupported = x.lun() >= lunCount();
  if (cdb[1] & 0x01) {
    if (unsupported) return x.fail(Sense(illegalRequest_c, 0x25, 0x00));
    std::vector<unsigned char> page = vpdPage(cdb[2], x.lun());
    if (page.empty()) return x.invalidField(2);
    return x.send(page);
  }
  if (cdb[2] != 0) return x.invalidField(2);
  unsigned char d[36] = {};
  d[0] = unsupported ? 0x7F : peripheralType_;
  d[1] = removable() ? 0x80 : 0x00;
  d[2] = 0x05;  // SPC-3
  d[3] = 0x12;  // HISUP, response data format 2
  d[4] = sizeof d - 5;
  d[5] = inquiryByte5();
  std::memcpy(d + 8, vendor_c, 8);
  std::string product = product_;
  product.resize(16, ' ');
  std::memcpy(d + 16, product.data(), 16);
  std::memcpy(d + 32, revision_c, 4);
  x.send(d, sizeof d);
}

std::string Device::unitSerial(unsigned lun) const {
  return options_.text("serial") + "-" + std::to_string(lun);
}

uint64_t Device::naaDesignator(unsigned lun) const {
  // NAA 3h (locally assigned): 4-bit NAA, 32 bits of the serial's hash, 24 bits of LUN.
  return (uint64_t(3) << 60) | (uint64_t(stableHash(options_.text("serial"))) << 24) | (lun & 0xFFFFFFu);
}

std::vector<unsigned char> Device::designators(unsigned lun) const {
  std::vector<unsigned char> d = {0x01, 0x03, 0x00, 0x08};  // binary, LU, NAA, 8 bytes
  d.resize(12);
  putBe64(&d[4], naaDesignator(lun));
  std::string t10 = std::string(vendor_c) + unitSerial(lun);
  d.insert(d.end(), {0x02, 0x01, 0x00, static_cast<unsigned char>(t10.size())});  // ASCII, LU, T10
  d.insert(d.end(), t10.begin(), t10.end());
  return d;
}

std::vector<unsigned char> Device::vpdPage(unsigned char code, unsigned lun) const {
  std::vector<unsigned char> body;
  switch (code) {
    case 0x00: {
      body = {0x00, 0x80, 0x83, 0x86};
      std::vector<unsigned char> more = typePageCodes();
      body.insert(body.end(), more.begin(), more.end());
      break;
    }
    case 0x80: {
      std::string s = unitSerial(lun);
      body.assign(s.begin(), s.end());
      break;
    }
    case 0x83:
      body = designators(lun);
      break;
    case 0x86:  // Extended INQUIRY Data
      body.assign(0x3C, 0);
      body[1] = 0x07;                                // HEADSUP, ORDSUP, SIMPSUP: every task attribute
      body[2] = peripheralType_ == 0x00 ? 0x01 : 0;  // V_SUP: a disk's volatile cache (caching page)
      body[3] = 0x01;                                // LUICLR: unit attentions are per I_T nexus
      break;
    default: {
      std::vector<unsigned char> codes = typePageCodes();
      if (std::find(codes.begin(), codes.end(), code) == codes.end()) return {};
      body = typePage(code, lun);
      break;
    }
  }
  std::vector<unsigned char> page = {peripheralType_, code, 0, 0};
  putBe16(&page[2], static_cast<uint32_t>(body.size()));
  page.insert(page.end(), body.begin(), body.end());
  return page;
}

void Device::requestSense(Exchange& x) {
  if (x.cdb()[1] & 0x01) return x.invalidField(1, 0);  // descriptor format is not offered
  Sense none;
  std::vector<unsigned char> data(none.bytes().begin(), none.bytes().end());
  if (x.lun() >= lunCount()) {
    Sense s(illegalRequest_c, 0x25, 0x00);
    data.assign(s.bytes().begin(), s.bytes().end());
  } else if (!lastSense_[x.lun()].empty()) {
    data.swap(lastSense_[x.lun()]);
    lastSense_[x.lun()].clear();
  }
  x.send(data);
}

void Device::reportLuns(Exchange& x) {
  if (x.cdb()[2] > 0x02) return x.invalidField(2);
  unsigned n = lunCount();
  std::vector<unsigned char> d(8 + 8 * n, 0);
  putBe32(&d[0], 8 * n);
  for (unsigned i = 0; i < n; ++i) d[8 + 8 * i + 1] = static_cast<unsigned char>(i);
  x.send(d);
}

}  // namespace qxscsi::backends::emulated
