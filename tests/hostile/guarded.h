// Test support for hostile devices: caller buffers with guard bytes on both sides.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace qxscsi::hostile {

// `size` bytes filled with `fill` between two runs of guard bytes. Anything written outside the
// bytes handed out shows up in intact(); the sanitizer build catches reads as well.
class Guarded {
 public:
  static constexpr size_t guard_c = 32;
  static constexpr unsigned char guardByte_c = 0xC7;

  explicit Guarded(size_t size, unsigned char fill = 0xA5)
      : bytes_(size + 2 * guard_c, guardByte_c), size_(size) {
    std::fill(data(), data() + size, fill);
  }
  unsigned char* data() { return bytes_.data() + guard_c; }
  const unsigned char* data() const { return bytes_.data() + guard_c; }
  size_t size() const { return size_; }
  unsigned char operator[](size_t i) const { return bytes_[guard_c + i]; }
  bool intact() const {
    auto guard = [](unsigned char c) { return c == guardByte_c; };
    return std::all_of(bytes_.begin(), bytes_.begin() + guard_c, guard) &&
           std::all_of(bytes_.end() - guard_c, bytes_.end(), guard);
  }
  // True when bytes [from, to) still hold `fill`.
  bool untouched(size_t from, size_t to, unsigned char fill = 0xA5) const {
    return std::all_of(bytes_.begin() + guard_c + from, bytes_.begin() + guard_c + to,
                       [fill](unsigned char c) { return c == fill; });
  }

 private:
  std::vector<unsigned char> bytes_;
  size_t size_;
};

}  // namespace qxscsi::hostile
