// A descriptor format for the fuzz targets whose header can be longer than the data behind it.
#pragma once

#include "qxscsi/pages.h"

namespace qxscsi::fuzz {

// Descriptors with a header of headerLength bytes (at least 2) whose last two bytes hold the
// big-endian length of the body. Reads no byte at or past limit(): an unreadable header
// measures 0, like a descriptor that announces an empty body.
class LongHeaderPage : public QXScsiIterativePage {
 public:
  LongHeaderPage(unsigned short headerLength, bool emptyWhenUnreadable)
      : QXScsiIterativePage(0ul),
        header_(headerLength < 2 ? 2 : headerLength),
        emptyWhenUnreadable_(emptyWhenUnreadable) {}

  // Without emptyWhenUnreadable, a list whose first header is cut short still gives out one page.
  bool checkNoPages() const override;
  unsigned short minPageLength() const override { return header_; }
  unsigned short nextPageLength(const unsigned char* beginning) const override;
  unsigned short pageLength() const override;

  bool headerReadable() const { return isValid() && limit() >= header_; }

 private:
  unsigned short header_;
  bool emptyWhenUnreadable_;
};

// How a LongHeaderList answers actualPagePtr.
enum class Answer { kept, created, noneWhenCut };

// A list of LongHeaderPage descriptors; every page object it creates is counted in *live.
class LongHeaderList : public QXScsiListOfIterativePages {
 public:
  LongHeaderList(const unsigned char* beginning, unsigned long size, unsigned long limit,
                 unsigned short headerLength, bool emptyWhenUnreadable, Answer answer, long* live);
  ~LongHeaderList() override;

  QXScsiIterativePage* actualPagePtr(QXScsiIterativePage& page, bool& borrowed) const override;
  QXScsiListOfIterativePages* duplicate() const override;
  QXScsiListOfIterativePages* copy(const unsigned char* beginning, unsigned long size,
                                   unsigned long limit) const override;
  QXScsiIterativePage& actualPage(QXScsiIterativePage& page) const override;

 private:
  unsigned short header_;
  bool emptyWhenUnreadable_;
  Answer answer_;
  long* live_;
  mutable LongHeaderPage reader_;
  mutable LongHeaderPage cursor_;
};

}  // namespace qxscsi::fuzz
