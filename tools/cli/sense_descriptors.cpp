// Sense data descriptors: bounds first, then the fields of each type the device may send.
#include "cli/sense_descriptors.h"

#include "cli/hex.h"
#include "cli/sense_report.h"
#include "wire/bytes.h"

namespace qxscsi::cli {
namespace {

using nlohmann::json;

// Forwarded sense data nests sense data; deeper nesting than this is shown as bytes.
constexpr int maxForwardDepth = 2;

void putNumber(json& j, const char* key, unsigned long long value, int digits) {
  j[key] = value;
  j[std::string(key) + "_hex"] = hexNumber(value, digits);
}

// The additional length each type needs before its fields are read; 0 for types shown as bytes.
unsigned minimumAdditionalLength(unsigned type) {
  switch (type) {
    case 0x00:
    case 0x01:
    case 0x09:
      return type == 0x09 ? 0x0c : 0x0a;
    case 0x02:
    case 0x0a:
    case 0x0f:
      return 0x06;
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x0b:
    case 0x0c:
    case 0x0e:
      return 0x02;
    case 0x06:
      return 0x1e;
    case 0x07:
      return 0x22;
    case 0x08:
      return 0x06;
    case 0x0d:
      return 0x1c;
    default:
      return 0;
  }
}

json referrals(const uint8_t* d, size_t length) {
  json list = json::array();
  size_t pos = 4;
  while (pos + 20 <= length) {
    const size_t groups = d[pos + 3];
    if (pos + 20 + 4 * groups > length) break;  // a referral cut short: not believed
    json r;
    putNumber(r, "first_logical_block_address", wire::getBe64(d + pos + 4), 1);
    putNumber(r, "last_logical_block_address", wire::getBe64(d + pos + 12), 1);
    r["target_port_groups"] = json::array();
    for (size_t g = 0; g < groups; ++g) {
      const uint8_t* t = d + pos + 20 + 4 * g;
      r["target_port_groups"].push_back(
          {{"asymmetric_access_state", t[0] & 0x0f}, {"target_port_group", wire::getBe16(t + 2)}});
    }
    list.push_back(std::move(r));
    pos += 20 + 4 * groups;
  }
  return list;
}

// Fields of descriptor `d` (its whole length `n` = 2 + additional length present).
void decodeFields(const uint8_t* d, size_t n, unsigned senseKey, int depth, json& f) {
  switch (d[0]) {
    case 0x00:
      f["information_valid"] = (d[2] & 0x80) != 0;
      putNumber(f, "information", wire::getBe64(d + 4), 1);
      break;
    case 0x01:
      putNumber(f, "command_specific_information", wire::getBe64(d + 4), 1);
      break;
    case 0x02:
      f["sense_key_specific_valid"] = (d[4] & 0x80) != 0;
      putNumber(f, "sense_key_specific", wire::getBe24(d + 4) & 0x7fffffUL, 6);
      if (d[4] & 0x80) f["sense_key_specific_fields"] = senseKeySpecificFields(senseKey, d + 4);
      break;
    case 0x03:
      putNumber(f, "field_replaceable_unit_code", d[3], 2);
      break;
    case 0x04:
      f["filemark"] = (d[3] & 0x80) != 0;
      f["end_of_medium"] = (d[3] & 0x40) != 0;
      f["incorrect_length"] = (d[3] & 0x20) != 0;
      break;
    case 0x05:
      f["incorrect_length"] = (d[3] & 0x20) != 0;
      break;
    case 0x06:
      putNumber(f, "not_initiated_command_functions", wire::getBe32(d + 8), 8);
      putNumber(f, "completed_command_functions", wire::getBe32(d + 12), 8);
      putNumber(f, "partition_id", wire::getBe64(d + 16), 1);
      putNumber(f, "object_id", wire::getBe64(d + 24), 1);
      break;
    case 0x07:
      f["integrity_check_value_hex"] = toHex(d + 4, 32);
      break;
    case 0x08: {
      f["attributes"] = json::array();
      for (size_t pos = 8; pos + 8 <= n; pos += 8) {
        json a;
        putNumber(a, "attributes_page", wire::getBe32(d + pos), 8);
        putNumber(a, "attribute_number", wire::getBe32(d + pos + 4), 8);
        f["attributes"].push_back(std::move(a));
      }
      break;
    }
    case 0x09: {
      const bool extend = d[2] & 1;
      f["extend"] = extend;
      putNumber(f, "error", d[3], 2);
      putNumber(f, "count", extend ? wire::getBe16(d + 4) : d[5], 1);
      unsigned long long lba = (unsigned long long)d[11] << 16 | (unsigned long long)d[9] << 8 | d[7];
      if (extend)
        lba |= (unsigned long long)d[10] << 40 | (unsigned long long)d[8] << 32 | (unsigned long long)d[6] << 24;
      putNumber(f, "logical_block_address", lba, 1);
      putNumber(f, "device", d[12], 2);
      putNumber(f, "status", d[13], 2);
      break;
    }
    case 0x0a:
      putNumber(f, "sense_key", d[2] & 0x0f, 1);
      putNumber(f, "additional_sense_code", d[3], 2);
      putNumber(f, "additional_sense_code_qualifier", d[4], 2);
      f["progress_indication"] = wire::getBe16(d + 6);
      break;
    case 0x0b:
      f["not_all_referrals"] = (d[2] & 1) != 0;
      f["referrals"] = referrals(d, n);
      break;
    case 0x0c:
      f["forwarded_sense_data_truncated"] = (d[2] & 0x80) != 0;
      f["sense_data_source"] = d[2] & 0x0f;
      putNumber(f, "forwarded_status", d[3], 2);
      if (n > 4) {
        if (depth < maxForwardDepth)
          f["forwarded_sense"] = senseJson(decodeNestedSense(d + 4, n - 4, depth + 1), d + 4);
        else
          f["data_hex"] = toHex(d + 2, n - 2);
      }
      break;
    case 0x0d:
      f["information_valid"] = (d[2] & 0x80) != 0;
      f["incorrect_length"] = (d[2] & 0x20) != 0;
      f["sense_key_specific_valid"] = (d[4] & 0x80) != 0;
      putNumber(f, "sense_key_specific", wire::getBe24(d + 4) & 0x7fffffUL, 6);
      if (d[4] & 0x80) f["sense_key_specific_fields"] = senseKeySpecificFields(senseKey, d + 4);
      putNumber(f, "field_replaceable_unit_code", d[7], 2);
      putNumber(f, "information", wire::getBe64(d + 8), 1);
      putNumber(f, "command_specific_information", wire::getBe64(d + 16), 1);
      break;
    case 0x0e:
      f["usage_reason"] = d[3];
      if (n >= 8) {
        f["code_set"] = d[4] & 0x0f;
        f["association"] = (d[5] >> 4) & 3;
        f["designator_type"] = d[5] & 0x0f;
        const size_t length = d[7] + 8u <= n ? d[7] : n - 8;  // a designator cut short: what is there
        f["designator_hex"] = toHex(d + 8, length);
      }
      break;
    case 0x0f:
      f["microcode_activation_time_seconds"] = wire::getBe16(d + 6);
      break;
    default:
      f["data_hex"] = toHex(d + 2, n - 2);
      break;
  }
}

}  // namespace

json senseKeySpecificFields(unsigned senseKey, const uint8_t* s) {
  json f = json::object();
  const unsigned value = wire::getBe16(s + 1);
  switch (senseKey) {
    case 0x5:  // ILLEGAL REQUEST: field pointer
    case 0xa:  // COPY ABORTED: segment pointer
      if (senseKey == 0x5)
        f["in_command_descriptor_block"] = (s[0] & 0x40) != 0;
      else
        f["in_segment_descriptor"] = (s[0] & 0x20) != 0;
      f["field_pointer"] = value;
      f["bit_pointer_valid"] = (s[0] & 0x08) != 0;
      if (s[0] & 0x08) f["bit_pointer"] = s[0] & 0x07;
      break;
    case 0x0:
    case 0x2:
      f["progress_indication"] = value;
      break;
    case 0x1:
    case 0x3:
    case 0x4:
      f["actual_retry_count"] = value;
      break;
    case 0x6:
      f["overflow"] = (s[0] & 0x01) != 0;
      break;
    default:
      break;
  }
  return f;
}

std::vector<SenseDescriptor> walkSenseDescriptors(const uint8_t* sense, size_t length, int depth) {
  std::vector<SenseDescriptor> list;
  const unsigned senseKey = length > 1 ? sense[1] & 0x0f : 0;
  size_t pos = 8;
  while (pos < length) {
    SenseDescriptor d;
    d.offset = pos;
    d.type = sense[pos];
    d.fields["type"] = d.type;
    d.fields["type_hex"] = hexNumber(d.type, 2);
    if (pos + 2 > length) {  // a type byte without its length
      d.truncated = true;
      d.fields["truncated"] = true;
      list.push_back(std::move(d));
      break;
    }
    d.additionalLength = sense[pos + 1];
    d.fields["additional_length"] = d.additionalLength;
    const uint8_t* p = sense + pos;
    const size_t whole = 2 + d.additionalLength;
    if (pos + whole > length) {
      d.truncated = true;
      d.fields["truncated"] = true;
      d.fields["data_hex"] = toHex(p + 2, length - pos - 2);
      list.push_back(std::move(d));
      break;
    }
    if (d.additionalLength < minimumAdditionalLength(d.type)) {
      d.tooShort = true;
      d.fields["too_short"] = true;
      d.fields["data_hex"] = toHex(p + 2, d.additionalLength);
    } else {
      decodeFields(p, whole, senseKey, depth, d.fields);
    }
    list.push_back(std::move(d));
    pos += whole;
  }
  return list;
}

}  // namespace qxscsi::cli
