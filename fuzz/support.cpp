// Shared pieces of the fuzz targets.
#include <cstdio>
#include <cstdlib>

#include "fuzz_input.h"

namespace qxscsi::fuzz {

void violated(const char* what) {
  std::fprintf(stderr, "fuzz: invariant violated: %s\n", what);
  std::abort();
}

}  // namespace qxscsi::fuzz
