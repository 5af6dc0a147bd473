// Bounded decimal parsing for names, URLs, parameters and options (header-only, internal).
#pragma once

#include <string>

namespace qxscsi::wire {

// `text` as a number of decimal digits only (no sign, no space, at least one digit) whose value
// lies in [min, max]. False, leaving `out` alone, otherwise; never overflows.
inline bool parseDecimal(const std::string& text, unsigned long long min, unsigned long long max,
                         unsigned long long& out) {
  if (text.empty()) return false;
  unsigned long long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    unsigned digit = static_cast<unsigned>(c - '0');
    if (v > (max - digit) / 10) return false;  // v * 10 + digit would exceed max
    v = v * 10 + digit;
  }
  if (v < min) return false;
  out = v;
  return true;
}

// The same into any integer type, for the common bounds of one field.
template <typename T>
bool parseDecimal(const std::string& text, T min, T max, T& out) {
  unsigned long long v = 0;
  if (min < 0 || !parseDecimal(text, static_cast<unsigned long long>(min), static_cast<unsigned long long>(max), v))
    return false;
  out = static_cast<T>(v);
  return true;
}

}  // namespace qxscsi::wire
