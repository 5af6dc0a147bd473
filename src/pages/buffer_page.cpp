// Buffer page: a view of one region of a caller's buffer.
#include <string>

#include "qxscsi/pages.h"

QXScsiBufferPage::QXScsiBufferPage() : beginning_(nullptr), size_(0), limit_(0) {}

QXScsiBufferPage::QXScsiBufferPage(const unsigned char* beginning, unsigned long size, unsigned long limit)
    : beginning_(beginning), size_(size), limit_(limit) {}

std::ostrstream& QXScsiBufferPage::traceTo(std::ostrstream& out, short level, const char* title,
                                           bool terminate) const {
  trace_.tracePrefix(out, title != nullptr ? title : "BUFFER PAGE:", level);
  std::string pad;
  trace_.indent(pad, level);
  out << pad << "buffer length: " << size_ << std::endl;
  out << pad << "buffer limit: " << limit_ << std::endl;
  trace_.terminate(out, terminate);
  return out;
}
