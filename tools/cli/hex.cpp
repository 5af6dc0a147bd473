// Hex parsing and dumping.
#include "cli/hex.h"

#include <cctype>
#include <cstdio>

namespace qxscsi::cli {
namespace {

int digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool separator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ',' || c == ':' || c == '-'; }

}  // namespace

bool parseHex(std::string_view text, std::vector<uint8_t>& out, std::string& error) {
  size_t i = 0;
  while (i < text.size()) {
    if (separator(text[i])) {
      ++i;
      continue;
    }
    size_t start = i;
    if (text[i] == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
    size_t digits = 0;
    std::vector<uint8_t> group;
    int high = -1;
    while (i < text.size() && !separator(text[i])) {
      int d = digit(text[i]);
      if (d < 0) {
        error = "bad hex character '" + std::string(1, std::isprint(static_cast<unsigned char>(text[i])) ? text[i] : '?') +
                "' at offset " + std::to_string(i);
        return false;
      }
      if (high < 0) {
        high = d;
      } else {
        group.push_back(static_cast<uint8_t>(high << 4 | d));
        high = -1;
      }
      ++digits;
      ++i;
    }
    if (digits == 0) {
      error = "hex prefix without digits at offset " + std::to_string(start);
      return false;
    }
    if (high >= 0) {
      if (digits != 1) {
        error = "odd number of hex digits in '" + std::string(text.substr(start, i - start)) + "'";
        return false;
      }
      group.push_back(static_cast<uint8_t>(high));  // a lone digit is one byte, as in "0 0 5"
    }
    out.insert(out.end(), group.begin(), group.end());
  }
  return true;
}

void hexDump(std::ostream& os, const uint8_t* data, size_t length) {
  char line[96];
  for (size_t off = 0; off < length; off += 16) {
    int n = std::snprintf(line, sizeof line, "%04zx  ", off);
    std::string text(line, static_cast<size_t>(n));
    std::string chars;
    for (size_t j = 0; j < 16; ++j) {
      if (off + j < length) {
        std::snprintf(line, sizeof line, "%02x ", data[off + j]);
        text += line;
        chars += std::isprint(data[off + j]) ? static_cast<char>(data[off + j]) : '.';
      } else {
        text += "   ";
      }
      if (j == 7) text += ' ';
    }
    os << text << ' ' << chars << '\n';
  }
}

std::string toHex(const uint8_t* data, size_t length) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  s.reserve(length * 2);
  for (size_t i = 0; i < length; ++i) {
    s += digits[data[i] >> 4];
    s += digits[data[i] & 15];
  }
  return s;
}

namespace {

// Length of the valid UTF-8 sequence at `p` (n bytes left), 0 when it is not one.
size_t utf8Sequence(const unsigned char* p, size_t n) {
  auto cont = [&](size_t i, unsigned lo, unsigned hi) { return i < n && p[i] >= lo && p[i] <= hi; };
  unsigned c = p[0];
  if (c >= 0xc2 && c <= 0xdf) return cont(1, 0x80, 0xbf) ? 2 : 0;
  if (c >= 0xe0 && c <= 0xef) {
    unsigned lo = c == 0xe0 ? 0xa0 : 0x80, hi = c == 0xed ? 0x9f : 0xbf;
    return cont(1, lo, hi) && cont(2, 0x80, 0xbf) ? 3 : 0;
  }
  if (c >= 0xf0 && c <= 0xf4) {
    unsigned lo = c == 0xf0 ? 0x90 : 0x80, hi = c == 0xf4 ? 0x8f : 0xbf;
    return cont(1, lo, hi) && cont(2, 0x80, 0xbf) && cont(3, 0x80, 0xbf) ? 4 : 0;
  }
  return 0;
}

}  // namespace

std::string untrustedText(const uint8_t* data, size_t length) {
  std::string s;
  s.reserve(length);
  char escape[8];
  for (size_t i = 0; i < length;) {
    unsigned c = data[i];
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      s += static_cast<char>(c);
      ++i;
      continue;
    }
    size_t n = c >= 0x80 ? utf8Sequence(data + i, length - i) : 0;
    // U+0080 to U+009F are control characters as well.
    if (n > 0 && !(c == 0xc2 && data[i + 1] < 0xa0)) {
      s.append(reinterpret_cast<const char*>(data + i), n);
      i += n;
      continue;
    }
    std::snprintf(escape, sizeof escape, "\\x%02x", c);
    s += escape;
    ++i;
  }
  return s;
}

std::string untrustedText(std::string_view bytes) {
  return untrustedText(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

int parsePageNumber(std::string_view text, int max) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  } else if (text.size() > 1 && (text.back() == 'h' || text.back() == 'H')) {
    base = 16;
    text.remove_suffix(1);
  }
  if (text.empty()) return -1;
  long value = 0;
  for (char c : text) {
    int digit = c >= '0' && c <= '9' ? c - '0' : -1;
    if (base == 16 && digit < 0 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) digit = (c | 0x20) - 'a' + 10;
    if (digit < 0) return -1;
    value = value * base + digit;
    if (value > max) return -1;
  }
  return static_cast<int>(value);
}

}  // namespace qxscsi::cli
