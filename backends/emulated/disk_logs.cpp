// LOG SENSE of the emulated disk: supported pages, error counters, temperature, self-test
// results and informational exceptions.
#include "disk.h"
#include "wire/bytes.h"

namespace qxscsi::backends::emulated {

using namespace wire;

namespace {

using Bytes = std::vector<unsigned char>;

const unsigned char logPages_c[] = {0x00, 0x02, 0x03, 0x0D, 0x10, 0x2F};
constexpr unsigned char temperature_c = 40, referenceTemperature_c = 60;  // degrees Celsius

// One log parameter: code, control byte (format and linking in bits 1-0) and value.
struct Parameter {
  unsigned code;
  unsigned char control;
  Bytes value;
};

// The parameters of `page`; the values are the same for every page control (nothing ever counts
// up on an emulated medium, nothing can be reset).
std::vector<Parameter> parametersOf(unsigned char page) {
  std::vector<Parameter> ps;
  switch (page) {
    case 0x02:  // write and read error counters: bounded data counters, all zero
    case 0x03:
      for (unsigned code = 0; code <= 6; ++code) ps.push_back({code, 0x02, Bytes(4, 0)});
      break;
    case 0x0D:  // temperature and reference temperature: binary format lists
      ps.push_back({0x0000, 0x03, {0, temperature_c}});
      ps.push_back({0x0001, 0x03, {0, referenceTemperature_c}});
      break;
    case 0x10:  // twenty self-test results, none run
      for (unsigned code = 1; code <= 20; ++code) ps.push_back({code, 0x03, Bytes(16, 0)});
      break;
    case 0x2F:  // informational exceptions: no exception (ASC and ASCQ 0), the temperature
      ps.push_back({0x0000, 0x03, {0x00, 0x00, temperature_c}});
      break;
    default:
      break;
  }
  return ps;
}

}  // namespace

void Disk::logSense(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  if (cdb[1] & 0xFC) return x.invalidBits(1, cdb[1] & 0xFC);
  if (cdb[1] & 0x02) return x.invalidField(1, 1);  // PPC: parameters are not kept apart by change
  if (cdb[1] & 0x01) return x.invalidField(1, 0);  // SP: nothing can be saved
  const unsigned char page = cdb[2] & 0x3F;
  if (cdb[3] != 0) return x.invalidField(3);  // no subpages
  bool known = false;
  for (unsigned char p : logPages_c) known = known || p == page;
  if (!known) return x.invalidField(2, 5);
  const unsigned pointer = getBe16(cdb + 5);
  Bytes d = {static_cast<unsigned char>(0x80 | page), 0, 0, 0};  // DS: parameters are not saved
  if (page == 0x00) {
    if (pointer != 0) return x.invalidField(5);
    d.insert(d.end(), std::begin(logPages_c), std::end(logPages_c));
  } else {
    const std::vector<Parameter> ps = parametersOf(page);
    if (pointer > ps.back().code) return x.invalidField(5);
    for (const Parameter& p : ps) {
      if (p.code < pointer) continue;
      d.insert(d.end(), {static_cast<unsigned char>(p.code >> 8), static_cast<unsigned char>(p.code),
                         p.control, static_cast<unsigned char>(p.value.size())});
      d.insert(d.end(), p.value.begin(), p.value.end());
    }
  }
  putBe16(&d[2], static_cast<uint32_t>(d.size() - 4));
  x.send(d);
}

}  // namespace qxscsi::backends::emulated
