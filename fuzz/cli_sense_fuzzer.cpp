// The command-line tool's sense decoding on arbitrary bytes (exact-size buffers), and the whole
// decode-sense path from hex text: decode, text report and JSON.
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/hex.h"
#include "cli/sense_report.h"
#include "fuzz_input.h"

namespace {

void decode(const uint8_t* sense, size_t length) {
  using namespace qxscsi::cli;
  const size_t meaningful = senseLength(sense, length);
  QXSCSI_FUZZ_CHECK(meaningful <= length);
  const SenseReport report = decodeSense(sense, length);
  QXSCSI_FUZZ_CHECK(report.length <= length);
  QXSCSI_FUZZ_CHECK(!report.present || report.length == meaningful);
  QXSCSI_FUZZ_CHECK(report.senseKey < 16 && report.responseCode < 0x80);
  std::ostringstream text;
  printSense(text, report, "  ");
  QXSCSI_FUZZ_CHECK(!text.str().empty());
  // Throws on text that is not UTF-8: the report must hold none.
  printSenseDecoded(text, report, sense);
  const std::string json = senseJson(report, sense).dump();
  QXSCSI_FUZZ_CHECK(!json.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qxscsi::fuzz::Input in(data, size);
  if (in.byte() % 2 == 0) {
    // Raw bytes in a buffer of exactly their length.
    const std::vector<uint8_t> rest = in.rest();
    std::unique_ptr<uint8_t[]> exact(new uint8_t[rest.size() + (rest.empty() ? 1 : 0)]);
    std::copy(rest.begin(), rest.end(), exact.get());
    decode(rest.empty() ? nullptr : exact.get(), rest.size());
    return 0;
  }
  // Hex text, as the decode-sense command takes it.
  const std::vector<uint8_t> rest = in.rest();
  std::vector<uint8_t> bytes;
  std::string error;
  if (!qxscsi::cli::parseHex(std::string(rest.begin(), rest.end()), bytes, error)) return 0;
  decode(bytes.data(), bytes.size());
  return 0;
}
