// Parsing and checking of emulated device names.
#include "options.h"

#include "hostile.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "wire/decimal.h"

namespace qxscsi::backends::emulated {

namespace {

constexpr unsigned long maxBytesPerDevice_c = 256ul << 20;

struct Spec {
  const char* types;  // space-separated types that accept the key; "*" for all
  const char* key;
  bool numeric;
  unsigned long min;
  unsigned long max;
  unsigned long defaultValue;
};

// One row per option; a new option is one more row here.
const Spec specs_c[] = {
    {"*", "luns", true, 1, 256, 1},
    {"*", "lun", true, 0, 255, 0},
    {"*", "adapter", true, 0, 65535, 0},
    {"*", "bus", true, 0, 255, 0},
    {"*", "target", true, 0, 255, 0},
    {"*", "id", false, 0, 0, 0},
    {"*", "serial", false, 0, 0, 0},
    {"disk", "capacity", true, 1, 0xFFFFFFFFul, 2048},
    {"disk", "block", true, 1, 65536, 512},
    {"disk", "mmap", true, 0, 1, 1},
    {"tape", "capacity", true, 1, maxBytesPerDevice_c, 1048576},
    {"changer", "slots", true, 1, 1024, 8},
    {"changer", "drives", true, 1, 64, 1},
    {"changer", "ports", true, 0, 64, 0},
    {"*", "hostile", false, 0, 0, 0},
    {"*", "file", false, 0, 0, 0},
    {"*", "initiator", false, 0, 0, 0},
    {"*", "ua", true, 0, 1, 0},
};

const char* const types_c[] = {"disk", "tape", "changer"};

bool appliesTo(const Spec& s, const std::string& type) {
  if (std::strcmp(s.types, "*") == 0) return true;
  return s.types == type;
}

const Spec* findSpec(const std::string& type, const std::string& key) {
  for (const Spec& s : specs_c)
    if (appliesTo(s, type) && key == s.key) return &s;
  return nullptr;
}

std::string knownKeys(const std::string& type) {
  std::string out;
  for (const Spec& s : specs_c) {
    if (!appliesTo(s, type)) continue;
    if (!out.empty()) out += ", ";
    out += s.key;
  }
  return out;
}

// Decimal digits only, at most ten of them, value in [min, max].
bool parseNumber(const std::string& text, unsigned long min, unsigned long max, unsigned long& out) {
  return text.size() <= 10 && wire::parseDecimal(text, min, max, out);
}

bool serialCharacters(const std::string& s) {
  if (s.empty() || s.size() > 16) return false;
  for (char c : s) {
    bool ok =
        (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

// An initiator name: 1 to 223 letters, digits, '.', '-', ':' or '_' (iSCSI names fit).
bool initiatorCharacters(const std::string& s) {
  if (s.empty() || s.size() > 223) return false;
  for (char c : s) {
    bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
              c == '_' || c == '.' || c == ':';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

uint32_t stableHash(const std::string& text) {
  uint32_t h = 2166136261u;
  for (unsigned char c : text) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

bool Options::isEmulatedName(const std::string& name) {
  return name.compare(0, std::strlen(prefix_c), prefix_c) == 0;
}

bool Options::parse(const std::string& name, Options& out, std::string& error) {
  out = Options();
  if (!isEmulatedName(name)) {
    error = "\"" + name + "\" is not an emulated device name (they begin with \"emulated:\")";
    return false;
  }
  std::string rest = name.substr(std::strlen(prefix_c));
  std::string::size_type q = rest.find('?');
  out.type_ = rest.substr(0, q);
  bool knownType = false;
  for (const char* t : types_c) knownType = knownType || out.type_ == t;
  if (!knownType) {
    error =
        "unknown emulated device type \"" + out.type_ + "\" in \"" + name + "\" (known: disk, tape, changer)";
    return false;
  }
  if (q != std::string::npos) {
    std::string query = rest.substr(q + 1);
    std::string::size_type start = 0;
    while (start <= query.size()) {
      std::string::size_type end = query.find('&', start);
      if (end == std::string::npos) end = query.size();
      std::string item = query.substr(start, end - start);
      std::string::size_type eq = item.find('=');
      if (item.empty() || eq == std::string::npos || eq == 0) {
        error = "option \"" + item + "\" in \"" + name + "\" is not of the form key=value";
        return false;
      }
      std::string key = item.substr(0, eq), value = item.substr(eq + 1);
      const Spec* spec = findSpec(out.type_, key);
      if (!spec) {
        error = "unknown option \"" + key + "\" for emulated:" + out.type_ +
                " (known: " + knownKeys(out.type_) + ")";
        return false;
      }
      if (out.values_.count(key)) {
        error = "option \"" + key + "\" given twice in \"" + name + "\"";
        return false;
      }
      if (spec->numeric) {
        unsigned long v = 0;
        if (!parseNumber(value, spec->min, spec->max, v)) {
          error = "option " + key + "=\"" + value + "\" is not a decimal number from " +
                  std::to_string(spec->min) + " to " + std::to_string(spec->max);
          return false;
        }
        value = std::to_string(v);
      } else if (key == "serial" && !serialCharacters(value)) {
        error = "option serial=\"" + value + "\" must be 1 to 16 letters, digits, '-' or '_'";
        return false;
      } else if (key == "file" && (value.empty() || value.find('\0') != std::string::npos)) {
        error = "option file= needs the path of a file";
        return false;
      } else if (key == "initiator" && !initiatorCharacters(value)) {
        error = "option initiator=\"" + value + "\" must be 1 to 223 letters, digits, '.', '-', ':' or '_'";
        return false;
      } else if (Hostility mode; key == "hostile" && (value.empty() || !hostilityFrom(value, mode))) {
        error = "option hostile=\"" + value + "\" is not one of " + hostilityNames();
        return false;
      }
      out.values_[key] = value;
      out.given_.insert(key);
      start = end + 1;
    }
  }
  for (const Spec& s : specs_c)
    if (appliesTo(s, out.type_) && !out.values_.count(s.key))
      out.values_[s.key] = s.numeric ? std::to_string(s.defaultValue) : std::string();

  if (out.number("lun") >= out.number("luns")) {
    error = "lun " + out.values_["lun"] + " does not exist: the device has " + out.values_["luns"] +
            " logical unit(s)";
    return false;
  }
  if (out.given("file") && out.number("luns") != 1) {
    error = "a device kept in a file (file=) has one logical unit, not luns=" + out.values_["luns"];
    return false;
  }
  if (out.type_ == "disk" && !out.given("file")) {
    unsigned long long bytes =
        static_cast<unsigned long long>(out.number("capacity")) * out.number("block") * out.number("luns");
    if (bytes > maxBytesPerDevice_c) {
      error = "emulated disk of " + std::to_string(bytes) + " bytes is larger than the limit of " +
              std::to_string(maxBytesPerDevice_c) + " bytes";
      return false;
    }
  }
  if (out.values_["serial"].empty()) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "QX%08X", static_cast<unsigned>(stableHash(out.deviceKey())));
    out.values_["serial"] = buffer;
  }
  return true;
}

unsigned long Options::number(const std::string& key) const {
  auto it = values_.find(key);
  if (it == values_.end()) return 0;
  unsigned long v = 0;
  return parseNumber(it->second, 0, 0xFFFFFFFFul, v) ? v : 0;
}

std::string Options::text(const std::string& key) const {
  auto it = values_.find(key);
  return it == values_.end() ? std::string() : it->second;
}

std::string Options::deviceKey() const {
  std::string key = std::string(prefix_c) + type_;
  char sep = '?';
  for (const auto& [k, v] : values_) {
    if (k == "lun" || k == "initiator") continue;  // the unit opened and the nexus, not the device
    key += sep + k + "=" + v;
    sep = '&';
  }
  return key;
}

}  // namespace qxscsi::backends::emulated
