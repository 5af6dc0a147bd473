// Data pages: buffer page, iterative page and list of iterative pages over caller-owned bytes.
#pragma once

#include "qxscsi/export.h"
#include "qxscsi/trace.h"

// A view of one region of a byte buffer. Never owns, copies or frees the bytes.
class QXSCSI_EXPORT QXScsiBufferPage {
 public:
  // Invalid page: null beginning, size 0, limit 0.
  QXScsiBufferPage();
  // Refers to the caller's bytes, which the caller keeps alive.
  QXScsiBufferPage(const unsigned char* beginning, unsigned long size, unsigned long limit);
  // Copies beginning, size and limit; the bytes stay with their owner.
  QXScsiBufferPage(const QXScsiBufferPage& other)
      : beginning_(other.beginning_), size_(other.size_), limit_(other.limit_) {}
  QXScsiBufferPage& operator=(const QXScsiBufferPage& other) {
    setBufferPage(other.beginning_, other.size_, other.limit_);
    return *this;
  }

  virtual ~QXScsiBufferPage() {}
  // Writes title (default "BUFFER PAGE:"), "buffer length: " and "buffer limit: " into the caller's stream.
  virtual std::ostrstream& traceTo(std::ostrstream& out, short level, const char* title,
                                   bool terminate) const;

  // Re-aims the view at the caller's bytes.
  void setBufferPage(const unsigned char* beginning, unsigned long size, unsigned long limit) {
    beginning_ = beginning;
    size_ = size;
    limit_ = limit;
  }
  // True when the beginning is not null.
  bool isValid() const { return beginning_ != nullptr; }
  // Borrowed pointer to the first byte (owned by the caller of setBufferPage).
  const unsigned char* pageBeginning() const { return beginning_; }
  unsigned long pageSize() const { return size_; }
  // Bytes that may be read from the beginning on.
  unsigned long limit() const { return limit_; }
  // The page's own stateless formatter.
  const QXScsiTrace& trace() const { return trace_; }

 private:
  const unsigned char* beginning_;
  unsigned long size_;
  unsigned long limit_;
  QXScsiTrace trace_;
};

// A buffer page standing on one variable-length descriptor. This class knows no descriptor
// format (every length is 0); a subclass for a format reads its header.
class QXSCSI_EXPORT QXScsiIterativePage : public QXScsiBufferPage {
 public:
  // Before the first descriptor of a list: null beginning, size 0, the given limit.
  explicit QXScsiIterativePage(unsigned long limit);
  // On the caller's bytes.
  QXScsiIterativePage(const unsigned char* beginning, unsigned long size, unsigned long limit);
  QXScsiIterativePage(const QXScsiIterativePage& other) : QXScsiBufferPage(other) {}
  // Copies beginning, size and limit; the object keeps its own class.
  QXScsiIterativePage& operator=(const QXScsiIterativePage& other) {
    QXScsiBufferPage::operator=(other);
    return *this;
  }

  ~QXScsiIterativePage() override {}
  // Writes title (default "BUFFER PAGE"), "page length: " and "actual page length: ".
  std::ostrstream& traceTo(std::ostrstream& out, short level, const char* title,
                           bool terminate) const override;
  // Asked of a page spanning the first header: true when the list holds no descriptor.
  virtual bool checkNoPages() const;
  // Length of the fixed header that the length field does not count.
  virtual unsigned short minPageLength() const;
  // True when this page's last byte lies at or past the list's last byte.
  virtual bool checkTerminate(const unsigned char* listBeginning, unsigned short listLength) const;
  // Length field of the descriptor at beginning (borrowed; not yet this page's position).
  virtual unsigned short nextPageLength(const unsigned char* beginning) const;
  // pageLength() + minPageLength(), kept to 16 bits.
  virtual unsigned short actualPageLength() const;
  // Borrowed pointer just behind this descriptor.
  virtual const unsigned char* nextPageBeginning() const;
  // True when the beginning is null or pageLength() is 0.
  virtual bool lastPage() const;
  // Length field of the descriptor this page stands on.
  virtual unsigned short pageLength() const;

  // Moves the page onto the caller's bytes.
  void offsetPageBeginning(const unsigned char* beginning, unsigned long size, unsigned long limit) {
    setBufferPage(beginning, size, limit);
  }
  // Equal sizes and equal bytes; limits play no part.
  bool operator==(const QXScsiIterativePage& other) const;
  bool operator!=(const QXScsiIterativePage& other) const { return !(*this == other); }
};

// A run of variable-length descriptors in a caller's buffer, walked one descriptor at a time.
// Abstract: a concrete list answers copies of itself and pages of its format's page class.
class QXSCSI_EXPORT QXScsiListOfIterativePages {
 public:
  // Empty list: null beginning, size 0, limit 0.
  QXScsiListOfIterativePages();
  // Over the caller's bytes, which the caller keeps alive.
  QXScsiListOfIterativePages(const unsigned char* beginning, unsigned long size, unsigned long limit);

  // The page through which page's descriptor is read. borrowed true: do not delete the answer;
  // false: the caller deletes it. May answer null. This class answers &page, borrowed.
  virtual QXScsiIterativePage* actualPagePtr(QXScsiIterativePage& page, bool& borrowed) const;
  virtual ~QXScsiListOfIterativePages();
  // New list of the same class over the same bytes; the caller owns it.
  virtual QXScsiListOfIterativePages* duplicate() const = 0;
  // New list of the same class over the given bytes; the caller owns it.
  virtual QXScsiListOfIterativePages* copy(const unsigned char* beginning, unsigned long size,
                                           unsigned long limit) const = 0;
  // Sets the list's own actual page to page's position and answers it (owned by the list).
  virtual QXScsiIterativePage& actualPage(QXScsiIterativePage& page) const;
  // Writes title (default "LIST OF BUFFER PAGES"), "buffer length: " and every page.
  virtual std::ostrstream& traceTo(std::ostrstream& out, short level, const char* title,
                                   bool terminate) const;

  // True when the list beginning is null.
  bool empty() const { return beginning_ == nullptr; }
  // Borrowed pointer to the first descriptor.
  const unsigned char* listBeginning() const { return beginning_; }
  unsigned long listSize() const { return size_; }
  unsigned long limit() const { return limit_; }
  // Moves page (the caller's) to the first or next descriptor; answers &page, or null at the end.
  // Call only on a list that is not empty.
  QXScsiIterativePage* next(QXScsiIterativePage& page) const;

 private:
  const unsigned char* beginning_;
  unsigned long size_;
  unsigned long limit_;
  mutable QXScsiIterativePage actualPage_;
  QXScsiTrace trace_;
};
