// Device names: adapter names, the generic-device test and upper-casing.
#include <cctype>
#include <string>

#include "qxscsi/naming.h"

namespace QXScsi {

void formatScsiName(std::string& name, unsigned short adapter) {
  name.insert(0, "//./scsi" + std::to_string(adapter) + ":");
}

bool isScsiName(const std::string& name) {
  std::string marker;
  std::string upper;
  toUpper("scsidev", marker);
  toUpper(name, upper);
  return upper.find(marker) != std::string::npos;
}

void toUpper(const std::string& source, std::string& out) {
  out.reserve(out.size() + source.size());
  // toupper takes the character as an unsigned char value (a negative char is undefined).
  for (char c : source) out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
}

}  // namespace QXScsi
