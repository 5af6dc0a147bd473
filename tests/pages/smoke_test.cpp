#include <gtest/gtest.h>
#include "qxscsi/qxscsi.h"
TEST(Smoke, Walk) {
  const unsigned char buf[] = {1, 3, 0, 2, 0xAA, 0xBB, 2, 0, 0, 1, 'x'};
  qxscsi::DesignationDescriptorList list(buf, sizeof buf, sizeof buf);
  int n = 0;
  for (auto it = QXScsiPageIterators::begin(list), e = QXScsiPageIterators::end(list); it != e; ++it) {
    qxscsi::DesignationDescriptorPage p(*it);
    ++n;
    (void)p;
  }
  EXPECT_EQ(n, 2);
}
