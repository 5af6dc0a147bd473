// The command-line tool's hex parsing on arbitrary text: bytes it accepts survive a round trip
// through toHex, and the dump of them has one line per 16 bytes.
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/hex.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qxscsi::cli;
  const std::string text(reinterpret_cast<const char*>(data), size);
  // What was in the vector before stays in front of what is appended.
  std::vector<uint8_t> bytes = {0x5A};
  std::string error;
  if (!parseHex(text, bytes, error)) {
    QXSCSI_FUZZ_CHECK(!error.empty());
    return 0;
  }
  QXSCSI_FUZZ_CHECK(error.empty() && bytes[0] == 0x5A);
  QXSCSI_FUZZ_CHECK(bytes.size() - 1 <= size);
  const std::string hex = toHex(bytes.data() + 1, bytes.size() - 1);
  QXSCSI_FUZZ_CHECK(hex.size() == 2 * (bytes.size() - 1));
  std::vector<uint8_t> again;
  QXSCSI_FUZZ_CHECK(parseHex(hex, again, error));
  QXSCSI_FUZZ_CHECK(again == std::vector<uint8_t>(bytes.begin() + 1, bytes.end()));
  std::ostringstream dump;
  hexDump(dump, again.data(), again.size());
  const std::string lines = dump.str();
  size_t count = 0;
  for (char c : lines) count += c == '\n';
  QXSCSI_FUZZ_CHECK(count == (again.size() + 15) / 16);
  return 0;
}
