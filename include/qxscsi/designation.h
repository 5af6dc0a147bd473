// Designation descriptors of the Device Identification VPD page (83h) as iterative pages and lists.
#pragma once

#include <cstdint>

#include "qxscsi/export.h"
#include "qxscsi/pages.h"

namespace qxscsi {

// One designation descriptor (SPC): a 4-byte header whose byte 3 is the length of the designator
// that follows. Reads no byte at or beyond limit(): a field whose byte lies outside answers 0.
class QXSCSI_EXPORT DesignationDescriptorPage final : public QXScsiIterativePage {
 public:
  static constexpr unsigned short headerLength_c = 4;

  // Before the first descriptor of a list (null beginning, size 0).
  explicit DesignationDescriptorPage(unsigned long limit = 0);
  // On the caller's bytes.
  DesignationDescriptorPage(const unsigned char* beginning, unsigned long size, unsigned long limit);
  // Same position as page (for example a page that an input iterator answered).
  explicit DesignationDescriptorPage(const QXScsiBufferPage& page);
  DesignationDescriptorPage(const DesignationDescriptorPage& other) = default;
  DesignationDescriptorPage& operator=(const DesignationDescriptorPage& other) = default;
  ~DesignationDescriptorPage() override;

  // Base lines plus the decoded header and the designator bytes present (hex).
  // Default title "DESIGNATION DESCRIPTOR".
  std::ostrstream& traceTo(std::ostrstream& out, short level, const char* title,
                           bool terminate) const override;
  // True when the first header does not lie whole inside the limit.
  bool checkNoPages() const override;
  unsigned short minPageLength() const override { return headerLength_c; }
  // Byte 3 at beginning, or 0 when that header lies outside this page's limit.
  unsigned short nextPageLength(const unsigned char* beginning) const override;
  // Byte 3, or 0 when the header is not readable.
  unsigned short pageLength() const override { return designatorLength(); }
  // The base answers, computed without further virtual calls.
  bool checkTerminate(const unsigned char* listBeginning, unsigned short listLength) const override {
    return lastByte(pageBeginning(), actualPageLength()) >= lastByte(listBeginning, listLength);
  }
  unsigned short actualPageLength() const override {
    return static_cast<unsigned short>(pageLength() + headerLength_c);
  }
  const unsigned char* nextPageBeginning() const override {
    return isValid() ? pageBeginning() + actualPageLength() : nullptr;
  }
  bool lastPage() const override { return !isValid() || pageLength() == 0; }

  // Valid page with all four header bytes inside the limit.
  bool headerReadable() const { return isValid() && limit() >= headerLength_c; }
  // Header and the whole designator lie inside the limit.
  bool complete() const { return headerReadable() && limit() - headerLength_c >= designatorLength(); }
  unsigned char protocolIdentifier() const { return headerReadable() ? pageBeginning()[0] >> 4 : 0; }
  unsigned char codeSet() const { return headerReadable() ? pageBeginning()[0] & 0x0F : 0; }
  // PIV: the protocol identifier field is valid.
  bool protocolIdentifierValid() const { return headerReadable() && (pageBeginning()[1] & 0x80) != 0; }
  unsigned char association() const { return headerReadable() ? (pageBeginning()[1] >> 4) & 0x03 : 0; }
  unsigned char designatorType() const { return headerReadable() ? pageBeginning()[1] & 0x0F : 0; }
  // The length field (byte 3), which may announce more bytes than the buffer holds.
  unsigned char designatorLength() const { return headerReadable() ? pageBeginning()[3] : 0; }
  // Borrowed pointer to the designator (the caller's bytes), or null when the header is not readable.
  const unsigned char* designator() const {
    return headerReadable() ? pageBeginning() + headerLength_c : nullptr;
  }
  // Designator bytes really present: the length field cut to the limit.
  unsigned short availableDesignatorLength() const;
  // Equal sizes and bytes, read only within the limits: a page cut short by its limit equals none.
  bool operator==(const DesignationDescriptorPage& other) const {
    return pageSize() <= limit() && other.pageSize() <= other.limit() &&
           QXScsiIterativePage::operator==(other);
  }
  bool operator!=(const DesignationDescriptorPage& other) const { return !(*this == other); }

 private:
  // Address of the last byte of length bytes at p (the byte before p for length 0).
  static std::uintptr_t lastByte(const unsigned char* p, unsigned short length) {
    return reinterpret_cast<std::uintptr_t>(p) + length - std::uintptr_t{1};
  }
};

// A list of designation descriptors. Answers borrowed pages kept by the list, so walking it
// allocates nothing per step; its actual page is a DesignationDescriptorPage.
class QXSCSI_EXPORT DesignationDescriptorList final : public QXScsiListOfIterativePages {
 public:
  // Empty list.
  DesignationDescriptorList();
  // Over the caller's descriptors: size as stated by their owner, limit = bytes present.
  DesignationDescriptorList(const unsigned char* beginning, unsigned long size, unsigned long limit);
  DesignationDescriptorList(const DesignationDescriptorList& other);
  DesignationDescriptorList& operator=(const DesignationDescriptorList& other);
  ~DesignationDescriptorList() override;

  // The descriptors of a Device Identification VPD page of which `returned` bytes are present
  // at vpd (the caller's). Size: the page length field; limit: the bytes present of the page.
  // Empty when the 4-byte page header is not all present.
  static DesignationDescriptorList fromVpdPage(const unsigned char* vpd, unsigned long returned);

  // Answers a page kept by the list (borrowed true), valid until the next call.
  QXScsiIterativePage* actualPagePtr(QXScsiIterativePage& page, bool& borrowed) const override;
  // New list over the same bytes; the caller owns it.
  QXScsiListOfIterativePages* duplicate() const override;
  // New list over the given bytes; the caller owns it.
  QXScsiListOfIterativePages* copy(const unsigned char* beginning, unsigned long size,
                                   unsigned long limit) const override;
  // The list's own DesignationDescriptorPage, set to page's position.
  QXScsiIterativePage& actualPage(QXScsiIterativePage& page) const override;

 private:
  mutable DesignationDescriptorPage cursor_;
  mutable DesignationDescriptorPage reader_;
};

// Names of header fields for human-readable output (static strings).
QXSCSI_EXPORT const char* codeSetName(unsigned char codeSet);
QXSCSI_EXPORT const char* associationName(unsigned char association);
QXSCSI_EXPORT const char* designatorTypeName(unsigned char designatorType);

}  // namespace qxscsi
