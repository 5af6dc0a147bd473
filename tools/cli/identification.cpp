// VPD page 83h: designation descriptors, walked with the library's page iterators.
#include <cstdio>
#include <string>

#include "cli/hex.h"
#include "cli/vpd_fields.h"
#include "qxscsi/designation.h"
#include "qxscsi/iterators.h"

namespace qxscsi::cli {

void describeDeviceIdentification(const uint8_t* page, size_t length, Output& out) {
  const qxscsi::DesignationDescriptorList list =
      qxscsi::DesignationDescriptorList::fromVpdPage(page, static_cast<unsigned long>(length));
  nlohmann::json designators = nlohmann::json::array();
  out.text() << "designation descriptors:\n";
  for (auto it = QXScsiPageIterators::begin(list), e = QXScsiPageIterators::end(list); it != e; ++it) {
    qxscsi::DesignationDescriptorPage d(*it);
    if (!d.headerReadable()) break;
    unsigned short present = d.availableDesignatorLength();
    std::string value;
    if (d.codeSet() == 2 || d.codeSet() == 3) {  // ASCII or UTF-8 designator, padding dropped
      size_t n = present;
      while (n > 0 && (d.designator()[n - 1] == 0 || d.designator()[n - 1] == ' ')) --n;
      value = untrustedText(d.designator(), n);
    } else {
      value = toHex(d.designator(), present);
    }
    out.text() << "  " << designatorTypeName(d.designatorType()) << ", " << associationName(d.association())
               << ", " << codeSetName(d.codeSet()) << ": " << value
               << (d.complete() ? "" : " (cut short: descriptor runs past the page)") << '\n';
    nlohmann::json j;
    j["designator_type"] = d.designatorType();
    j["designator_type_text"] = designatorTypeName(d.designatorType());
    j["association"] = d.association();
    j["code_set"] = d.codeSet();
    j["designator_hex"] = toHex(d.designator(), present);
    j["designator"] = value;
    j["complete"] = d.complete();
    designators.push_back(j);
  }
  out.doc()["designators"] = designators;
}

}  // namespace qxscsi::cli
