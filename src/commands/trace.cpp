// The trace formatter.
#include "qxscsi/trace.h"

std::string& QXScsiTrace::indent(std::string& s, short level) const {
  if (level > 0) s.append(static_cast<std::string::size_type>(level) * 4, ' ');
  return s;
}

std::ostrstream& QXScsiTrace::tracePrefix(std::ostrstream& os, const char* title, short level) const {
  if (title != nullptr) {
    std::string pad;
    os << indent(pad, level) << title << std::endl;
  }
  return os;
}

std::ostrstream& QXScsiTrace::traceSeparator(std::ostrstream& os, short level) const {
  std::string pad;
  os << indent(pad, level) << "*** END ***" << std::endl;
  return os;
}

std::ostrstream& QXScsiTrace::terminate(std::ostrstream& os, bool terminate) const {
  if (terminate) os << std::ends;
  return os;
}

std::ostrstream& QXScsiTrace::traceDebug(std::ostrstream& os) const { return os; }
