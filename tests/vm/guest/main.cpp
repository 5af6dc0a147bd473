// Entry of the in-VM test program: installs the back-ends (device paths reach the SG back-end), runs the
// tests.
#include <gtest/gtest.h>

#include "qxscsi/backends/install.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  std::unique_ptr<qxscsi::backends::Installation> installation = qxscsi::backends::install();
  if (!installation) {
    std::fprintf(stderr, "cannot install the back-ends\n");
    return 1;
  }
  return RUN_ALL_TESTS();
}
