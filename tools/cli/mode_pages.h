// Field-by-field decoders of the mode pages that modes knows (01h, 08h, 0Ah, 1Ch).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>

#include <nlohmann/json.hpp>

namespace qxscsi::cli {

// The name of page `code`/`subpage` when it is decoded field by field; null otherwise.
const char* modePageName(unsigned code, unsigned subpage);

// Writes the fields of the page in `page` (its `length` bytes, header included, all received) as
// lines on `text` and as `fields`; false (nothing written) for a page it does not know. Fields
// past the page's end are left out.
bool describeModePage(const uint8_t* page, size_t length, std::ostream& text, nlohmann::json& fields);

}  // namespace qxscsi::cli
