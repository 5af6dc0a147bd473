// Decoding of vital product data pages 00h, 80h and 83h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cli/output.h"

namespace qxscsi::cli {

// Decodes a VPD page of `length` bytes (header included) into text and JSON. Reads nothing
// beyond `length`.
void describeVpdPage(const uint8_t* page, size_t length, Output& out);

}  // namespace qxscsi::cli
