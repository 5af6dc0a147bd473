// Reads typed values off a fuzzer's input, front to back; an exhausted input yields zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "wire/bytes.h"

namespace qxscsi::fuzz {

// A cursor over the bytes libFuzzer hands in (borrowed for the cursor's life).
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t remaining() const { return size_ - at_; }
  bool empty() const { return at_ == size_; }

  uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  bool flag() { return (byte() & 1) != 0; }
  // Big-endian, missing bytes read as 0. The bytes are read one statement each, in input order.
  uint16_t u16() {
    unsigned char b[2];
    for (unsigned char& c : b) c = byte();
    return static_cast<uint16_t>(wire::getBe16(b));
  }
  uint32_t u32() {
    unsigned char b[4];
    for (unsigned char& c : b) c = byte();
    return wire::getBe32(b);
  }
  // At most n of the remaining bytes, as a new vector of exactly that many bytes.
  std::vector<uint8_t> bytes(size_t n) {
    if (n > remaining()) n = remaining();
    std::vector<uint8_t> out(data_ + at_, data_ + at_ + n);
    at_ += n;
    return out;
  }
  // Every byte not read yet.
  std::vector<uint8_t> rest() { return bytes(remaining()); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// Stops the process the way a sanitizer finding does, so libFuzzer keeps the input.
[[noreturn]] void violated(const char* what);

#define QXSCSI_FUZZ_CHECK(cond)                   \
  do {                                            \
    if (!(cond)) ::qxscsi::fuzz::violated(#cond); \
  } while (0)

}  // namespace qxscsi::fuzz
