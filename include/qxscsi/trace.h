// Trace output: the formatter that gives every trace one indented layout in a caller's stream.
#pragma once

#include <string>

// The trace interface is the (deprecated) strstream family; keep the warning local to it.
#pragma push_macro("__DEPRECATED")
#undef __DEPRECATED
#include <strstream>
#pragma pop_macro("__DEPRECATED")

#include "qxscsi/export.h"

// Stateless formatter. It never takes text out of the stream (no str(), no freeze()):
// the stream and its text stay the caller's. Every line ends with std::endl.
class QXSCSI_EXPORT QXScsiTrace {
 public:
  QXScsiTrace() {}
  ~QXScsiTrace() {}

  // Appends 4 x level blanks to s (nothing for level <= 0); returns s.
  std::string& indent(std::string& s, short level) const;
  // Writes indentation, title and a line end; writes nothing for a null title.
  std::ostrstream& tracePrefix(std::ostrstream& os, const char* title, short level) const;
  // Writes indentation, "*** END ***" and a line end.
  std::ostrstream& traceSeparator(std::ostrstream& os, short level) const;
  // Writes one NUL character when terminate is true.
  std::ostrstream& terminate(std::ostrstream& os, bool terminate) const;
  // Writes nothing.
  std::ostrstream& traceDebug(std::ostrstream& os) const;
};
