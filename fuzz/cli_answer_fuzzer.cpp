// The command-line tool's decoders of device answers on hostile bytes (exact-size buffers):
// standard INQUIRY data and VPD pages (every decoded one and undecoded ones), into text and JSON.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/output.h"
#include "cli/vpd.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qxscsi::fuzz::Input in(data, size);
  const uint8_t selector = in.byte();
  const std::vector<uint8_t> rest = in.rest();
  std::unique_ptr<uint8_t[]> exact(new uint8_t[rest.size() + 1]);
  std::copy(rest.begin(), rest.end(), exact.get());
  qxscsi::cli::Options options;
  options.json = true;  // the text is formatted all the same, into a stream that drops it
  qxscsi::cli::Output out(options);
  if (selector % 2 == 0) {
    qxscsi::cli::describeStandardInquiry(exact.get(), rest.size(), out);
  } else {
    // A page that claims the page code of a decoded page, as a device may send it in answer.
    static const uint8_t decoded[] = {0x00, 0x80, 0x83, 0x86, 0x89, 0xB0, 0xB1, 0xB2, 0xB3};
    if (rest.size() > 1 && selector % 4 == 1) exact[1] = decoded[(selector >> 2) % sizeof decoded];
    qxscsi::cli::describeVpdPage(exact.get(), rest.size(), out);
  }
  // Throws on text that is not UTF-8: every string from the device must have been escaped.
  const std::string json = out.doc().dump();
  QXSCSI_FUZZ_CHECK(!json.empty());
  return 0;
}
