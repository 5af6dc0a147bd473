// Decoding of vital product data pages (00h, 80h, 83h, 86h, 89h, B0h to B3h) and page arguments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/output.h"

namespace qxscsi::cli {

// Decodes a VPD page of `length` bytes (header included) into text and JSON. Reads nothing
// beyond `length`.
void describeVpdPage(const uint8_t* page, size_t length, Output& out);

// Reads a VPD page argument as sg_vpd takes it: decimal ("131"), "0x83", "83h", or an
// abbreviation of a decoded page (sv 00h, sn 80h, di 83h, ei 86h, ai 89h, bl B0h, bdc B1h, lbpv B2h,
// ref B3h). False, with the reason in `error`, for anything else or a value above 255.
bool parseVpdPage(const std::string& text, int& page, std::string& error);

// A hint for an ILLEGAL REQUEST answering a request for `page` given as `text`: names the page
// asked for, and the hex reading when a plain decimal text reads as a decoded page in hex ("83").
std::string vpdRefusalHint(const std::string& text, int page);

}  // namespace qxscsi::cli
