// Designation descriptors (Device Identification VPD page 83h) as iterative pages and lists.
#include <algorithm>
#include <cstdint>
#include <ios>
#include <string>

#include "qxscsi/designation.h"
#include "wire/bytes.h"

namespace qxscsi {

DesignationDescriptorPage::DesignationDescriptorPage(unsigned long limit) : QXScsiIterativePage(limit) {}

DesignationDescriptorPage::DesignationDescriptorPage(const unsigned char* beginning, unsigned long size,
                                                     unsigned long limit)
    : QXScsiIterativePage(beginning, size, limit) {}

DesignationDescriptorPage::DesignationDescriptorPage(const QXScsiBufferPage& page)
    : QXScsiIterativePage(page.pageBeginning(), page.pageSize(), page.limit()) {}

DesignationDescriptorPage::~DesignationDescriptorPage() {}

std::ostrstream& DesignationDescriptorPage::traceTo(std::ostrstream& out, short level, const char* title,
                                                    bool terminate) const {
  QXScsiIterativePage::traceTo(out, level, title != nullptr ? title : "DESIGNATION DESCRIPTOR", false);
  std::string pad;
  trace().indent(pad, level);
  out << pad << "code set: " << static_cast<unsigned>(codeSet()) << std::endl;
  out << pad << "association: " << static_cast<unsigned>(association()) << std::endl;
  out << pad << "designator type: " << static_cast<unsigned>(designatorType()) << std::endl;
  out << pad << "designator:";
  const unsigned char* bytes = designator();
  const std::ios_base::fmtflags flags = out.flags();
  const char fill = out.fill();
  out << std::hex << std::noshowbase << std::right;
  for (unsigned short i = 0; i < availableDesignatorLength(); ++i) {
    out << ' ';
    out.width(2);
    out.fill('0');
    out << static_cast<unsigned>(bytes[i]);
  }
  out.flags(flags);
  out.fill(fill);
  out << std::endl;
  trace().terminate(out, terminate);
  return out;
}

bool DesignationDescriptorPage::checkNoPages() const { return !headerReadable(); }

unsigned short DesignationDescriptorPage::nextPageLength(const unsigned char* beginning) const {
  if (!isValid() || beginning == nullptr) return 0;
  const std::uintptr_t from = reinterpret_cast<std::uintptr_t>(pageBeginning());
  const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(beginning);
  if (at < from || limit() < headerLength_c || at - from > limit() - headerLength_c) return 0;
  return beginning[3];
}

unsigned short DesignationDescriptorPage::availableDesignatorLength() const {
  if (!headerReadable()) return 0;
  return static_cast<unsigned short>(std::min<unsigned long>(designatorLength(), limit() - headerLength_c));
}

DesignationDescriptorList::DesignationDescriptorList() {}

DesignationDescriptorList::DesignationDescriptorList(const unsigned char* beginning, unsigned long size,
                                                     unsigned long limit)
    : QXScsiListOfIterativePages(beginning, size, limit) {}

DesignationDescriptorList::DesignationDescriptorList(const DesignationDescriptorList& other)
    : QXScsiListOfIterativePages(other) {}

DesignationDescriptorList& DesignationDescriptorList::operator=(const DesignationDescriptorList& other) {
  QXScsiListOfIterativePages::operator=(other);
  return *this;
}

DesignationDescriptorList::~DesignationDescriptorList() {}

DesignationDescriptorList DesignationDescriptorList::fromVpdPage(const unsigned char* vpd,
                                                                 unsigned long returned) {
  if (vpd == nullptr || returned < 4) return DesignationDescriptorList();
  const unsigned long pageLength = qxscsi::wire::getBe16(vpd + 2);
  return DesignationDescriptorList(vpd + 4, pageLength, std::min(pageLength, returned - 4));
}

QXScsiIterativePage* DesignationDescriptorList::actualPagePtr(QXScsiIterativePage& page,
                                                              bool& borrowed) const {
  borrowed = true;
  // The list's own pages are of the format's class already (iterators walk with cursor_).
  if (&page == &cursor_ || &page == &reader_) return &page;
  reader_.offsetPageBeginning(page.pageBeginning(), page.pageSize(), page.limit());
  return &reader_;
}

QXScsiListOfIterativePages* DesignationDescriptorList::duplicate() const {
  return new DesignationDescriptorList(listBeginning(), listSize(), limit());
}

QXScsiListOfIterativePages* DesignationDescriptorList::copy(const unsigned char* beginning,
                                                            unsigned long size, unsigned long limit) const {
  return new DesignationDescriptorList(beginning, size, limit);
}

QXScsiIterativePage& DesignationDescriptorList::actualPage(QXScsiIterativePage& page) const {
  cursor_.offsetPageBeginning(page.pageBeginning(), page.pageSize(), page.limit());
  return cursor_;
}

const char* codeSetName(unsigned char codeSet) {
  switch (codeSet) {
    case 1:
      return "binary";
    case 2:
      return "ASCII";
    case 3:
      return "UTF-8";
    default:
      return "reserved";
  }
}

const char* associationName(unsigned char association) {
  switch (association) {
    case 0:
      return "logical unit";
    case 1:
      return "target port";
    case 2:
      return "target device";
    default:
      return "reserved";
  }
}

const char* designatorTypeName(unsigned char designatorType) {
  static const char* const names[] = {"vendor specific",
                                      "T10 vendor ID",
                                      "EUI-64",
                                      "NAA",
                                      "relative target port",
                                      "target port group",
                                      "logical unit group",
                                      "MD5 logical unit identifier",
                                      "SCSI name string",
                                      "protocol specific port identifier",
                                      "UUID"};
  return designatorType < sizeof(names) / sizeof(names[0]) ? names[designatorType] : "reserved";
}

}  // namespace qxscsi
