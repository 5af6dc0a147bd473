// Flag words of targets and implementations: flags 1 to 32, flag n in bit n - 1.
#pragma once

namespace qxscsi::detail {

inline bool flagInRange(int flag) { return flag >= 1 && flag <= 32; }

// Clears flag, then sets it when on; numbers outside 1..32 leave the word alone.
inline void setFlag(unsigned long& word, int flag, bool on) {
  if (!flagInRange(flag)) return;
  const unsigned long bit = 1UL << (flag - 1);
  word &= ~bit;
  if (on) word |= bit;
}

// Whether flag is set; false for numbers outside 1..32.
inline bool testFlag(unsigned long word, int flag) {
  return flagInRange(flag) && (word & (1UL << (flag - 1))) != 0;
}

}  // namespace qxscsi::detail
