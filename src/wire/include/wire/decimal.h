// Bounded decimal parsing for names, URLs, parameters and options (header-only, internal).
#pragma once

#include <cstddef>
#include <string>
#include <type_traits>

namespace qxscsi::wire {

// The run of decimal digits that starts at `text[pos]`, read up to the first other character
// or the end, as a number in [min, max]; `pos` then stands after the run. False, leaving `pos`
// and `out` alone, when there is no digit at `pos` or the value lies outside the bounds (leading
// zeros count for nothing); never overflows.
inline bool parseDecimalPrefix(const std::string& text, std::size_t& pos, unsigned long long min,
                               unsigned long long max, unsigned long long& out) {
  std::size_t at = pos;
  unsigned long long v = 0;
  bool above = false;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    const unsigned digit = static_cast<unsigned>(text[at] - '0');
    // v * 10 + digit would exceed max: the rest of the run is still read, the value stays refused.
    if (digit > max || v > (max - digit) / 10) above = true;
    if (!above) v = v * 10 + digit;
  }
  if (at == pos || above || v < min) return false;
  pos = at;
  out = v;
  return true;
}

// `text` as a number of decimal digits only (no sign, no space, at least one digit) whose value
// lies in [min, max]. False, leaving `out` alone, otherwise; never overflows.
inline bool parseDecimal(const std::string& text, unsigned long long min, unsigned long long max,
                         unsigned long long& out) {
  std::size_t pos = 0;
  unsigned long long v = 0;
  if (!parseDecimalPrefix(text, pos, min, max, v) || pos != text.size()) return false;
  out = v;
  return true;
}

// The same into any integer type, for the common bounds of one field. Digits make no negative
// number: a negative min counts as 0, and a negative max refuses every text.
template <typename T>
bool parseDecimal(const std::string& text, T min, T max, T& out) {
  static_assert(std::is_integral_v<T>, "parseDecimal reads integers");
  if constexpr (std::is_signed_v<T>) {
    if (max < 0) return false;
    if (min < 0) min = 0;
  }
  unsigned long long v = 0;
  if (!parseDecimal(text, static_cast<unsigned long long>(min), static_cast<unsigned long long>(max), v))
    return false;
  out = static_cast<T>(v);
  return true;
}

}  // namespace qxscsi::wire
