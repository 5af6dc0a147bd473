// Fixed-format sense data as the emulated devices report it, with the codes they use.
#pragma once

#include <array>
#include <cstdint>

namespace qxscsi::backends::emulated {

// Sense keys.
enum SenseKey : unsigned char {
  noSense_c = 0x0,
  notReady_c = 0x2,
  mediumError_c = 0x3,
  hardwareError_c = 0x4,
  illegalRequest_c = 0x5,
  unitAttention_c = 0x6,
  blankCheck_c = 0x8,
  copyAborted_c = 0xA,
  volumeOverflow_c = 0xD,
  miscompare_c = 0xE,
};

// One fixed-format sense record (response code 70h, additional length 10, 18 bytes).
class Sense {
 public:
  static constexpr unsigned length_c = 18;

  // NO SENSE with ASC/ASCQ 00h/00h.
  Sense();
  Sense(unsigned char key, unsigned char asc, unsigned char ascq);

  // VALID set and the information field (bytes 3 to 6) holding `value`.
  Sense& information(uint32_t value);
  Sense& fileMark();
  Sense& endOfMedium();
  Sense& incorrectLength();
  // Sense-key-specific field pointer: SKSV set, C/D when it points into the CDB,
  // the byte index, and the bit index when `bit` is 0 to 7.
  Sense& fieldPointer(bool inCdb, unsigned byteIndex, int bit = -1);

  unsigned char key() const { return bytes_[2] & 0x0F; }
  unsigned char asc() const { return bytes_[12]; }
  unsigned char ascq() const { return bytes_[13]; }
  const std::array<unsigned char, length_c>& bytes() const { return bytes_; }

 private:
  std::array<unsigned char, length_c> bytes_;
};

}  // namespace qxscsi::backends::emulated
