// Iterative page: a buffer page standing on one variable-length descriptor.
#include <cstdint>
#include <cstring>
#include <string>

#include "qxscsi/pages.h"

QXScsiIterativePage::QXScsiIterativePage(unsigned long limit) : QXScsiBufferPage(nullptr, 0, limit) {}

QXScsiIterativePage::QXScsiIterativePage(const unsigned char* beginning, unsigned long size,
                                         unsigned long limit)
    : QXScsiBufferPage(beginning, size, limit) {}

std::ostrstream& QXScsiIterativePage::traceTo(std::ostrstream& out, short level, const char* title,
                                              bool terminate) const {
  trace().tracePrefix(out, title != nullptr ? title : "BUFFER PAGE", level);
  std::string pad;
  trace().indent(pad, level);
  out << pad << "page length: " << pageLength() << std::endl;
  out << pad << "actual page length: " << actualPageLength() << std::endl;
  trace().terminate(out, terminate);
  return out;
}

bool QXScsiIterativePage::checkNoPages() const { return false; }

unsigned short QXScsiIterativePage::minPageLength() const { return 0; }

// Compared as unsigned addresses; a length of 0 stands for the address one byte before.
bool QXScsiIterativePage::checkTerminate(const unsigned char* listBeginning,
                                         unsigned short listLength) const {
  const std::uintptr_t pageLast =
      reinterpret_cast<std::uintptr_t>(pageBeginning()) + actualPageLength() - std::uintptr_t{1};
  const std::uintptr_t listLast =
      reinterpret_cast<std::uintptr_t>(listBeginning) + listLength - std::uintptr_t{1};
  return pageLast >= listLast;
}

unsigned short QXScsiIterativePage::nextPageLength(const unsigned char*) const { return 0; }

unsigned short QXScsiIterativePage::actualPageLength() const {
  return static_cast<unsigned short>(pageLength() + minPageLength());
}

// An invalid page has no descriptor to skip: it answers null rather than an offset from null.
const unsigned char* QXScsiIterativePage::nextPageBeginning() const {
  return isValid() ? pageBeginning() + actualPageLength() : nullptr;
}

bool QXScsiIterativePage::lastPage() const { return !isValid() || pageLength() == 0; }

unsigned short QXScsiIterativePage::pageLength() const { return 0; }

bool QXScsiIterativePage::operator==(const QXScsiIterativePage& other) const {
  if (pageSize() != other.pageSize()) return false;
  if (pageSize() == 0) return true;
  return std::memcmp(pageBeginning(), other.pageBeginning(), pageSize()) == 0;
}
