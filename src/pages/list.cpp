// List of iterative pages: walks a run of variable-length descriptors one descriptor at a time.
#include <algorithm>
#include <cstdint>
#include <string>

#include "qxscsi/pages.h"

namespace {

// Deletes a page that actualPagePtr answered as a new object; leaves borrowed ones alone.
class Answer {
 public:
  Answer(QXScsiIterativePage* page, bool borrowed) : page_(page), borrowed_(borrowed) {}
  ~Answer() {
    if (!borrowed_) delete page_;
  }
  Answer(const Answer&) = delete;
  Answer& operator=(const Answer&) = delete;
  QXScsiIterativePage* operator->() const { return page_; }
  QXScsiIterativePage* get() const { return page_; }

 private:
  QXScsiIterativePage* page_;
  bool borrowed_;
};

Answer interpret(const QXScsiListOfIterativePages& list, QXScsiIterativePage& page) {
  bool borrowed = false;
  QXScsiIterativePage* answer = list.actualPagePtr(page, borrowed);
  return Answer(answer, borrowed);
}

std::uintptr_t address(const unsigned char* p) { return reinterpret_cast<std::uintptr_t>(p); }

}  // namespace

QXScsiListOfIterativePages::QXScsiListOfIterativePages()
    : beginning_(nullptr), size_(0), limit_(0), actualPage_(0ul) {}

QXScsiListOfIterativePages::QXScsiListOfIterativePages(const unsigned char* beginning, unsigned long size,
                                                       unsigned long limit)
    : beginning_(beginning), size_(size), limit_(limit), actualPage_(0ul) {}

QXScsiListOfIterativePages::~QXScsiListOfIterativePages() {}

QXScsiIterativePage* QXScsiListOfIterativePages::actualPagePtr(QXScsiIterativePage& page,
                                                               bool& borrowed) const {
  borrowed = true;
  return &page;
}

QXScsiListOfIterativePages* QXScsiListOfIterativePages::duplicate() const { return nullptr; }

QXScsiListOfIterativePages* QXScsiListOfIterativePages::copy(const unsigned char*, unsigned long,
                                                             unsigned long) const {
  return nullptr;
}

QXScsiIterativePage& QXScsiListOfIterativePages::actualPage(QXScsiIterativePage& page) const {
  actualPage_.offsetPageBeginning(page.pageBeginning(), page.pageSize(), page.limit());
  return actualPage_;
}

QXScsiIterativePage* QXScsiListOfIterativePages::next(QXScsiIterativePage& page) const {
  if (!page.isValid()) {
    // Start: the header of the first descriptor must tell its length. No bound is tested here.
    QXScsiIterativePage probe(beginning_, page.minPageLength(), limit_);
    Answer first = interpret(*this, probe);
    if (first.get() == nullptr || first->checkNoPages()) return nullptr;
    page.offsetPageBeginning(beginning_, first->actualPageLength(), limit_);
    return &page;
  }
  // Lists are measured in 16 bits, as descriptor lengths are.
  const unsigned short endBound = static_cast<unsigned short>(std::min(size_, limit_));
  {
    Answer current = interpret(*this, page);
    if (current.get() == nullptr || current->checkTerminate(beginning_, endBound) || current->lastPage())
      return nullptr;
    const unsigned char* nextBeginning = current->nextPageBeginning();
    // A descriptor whose measured length does not move the walk forward would hold it in place
    // for ever (a 16-bit length that wraps to 0): the walk ends there.
    if (address(nextBeginning) <= address(page.pageBeginning())) return nullptr;
    const unsigned long nextSize =
        static_cast<unsigned long>(current->nextPageLength(nextBeginning)) + current->minPageLength();
    const std::uintptr_t offset = address(nextBeginning) - address(beginning_);
    const unsigned long room = offset < limit_ ? limit_ - static_cast<unsigned long>(offset) : 0;
    page.offsetPageBeginning(nextBeginning, nextSize, room);
  }
  Answer moved = interpret(*this, page);
  if (moved.get() == nullptr || moved->lastPage()) return nullptr;
  return &page;
}

std::ostrstream& QXScsiListOfIterativePages::traceTo(std::ostrstream& out, short level, const char* title,
                                                     bool terminate) const {
  trace_.tracePrefix(out, title != nullptr ? title : "LIST OF BUFFER PAGES", level);
  if (empty()) return trace_.terminate(out, terminate);
  std::string pad;
  trace_.indent(pad, level);
  out << pad << "buffer length: " << size_ << std::endl;
  QXScsiIterativePage cursor(limit_);
  const short inner = static_cast<short>(level + 1);
  while (next(cursor) != nullptr) {
    Answer page = interpret(*this, cursor);
    // A page the list cannot interpret is still shown, with the lengths of the cursor's own class.
    const QXScsiIterativePage& shown = page.get() != nullptr ? *page.get() : cursor;
    shown.traceTo(out, inner, nullptr, false);
    trace_.traceSeparator(out, inner);
  }
  return trace_.terminate(out, terminate);
}
