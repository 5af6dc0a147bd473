// Platform utilities: the error table back-ends share and the established-connection check.
#include <gtest/gtest.h>

#include <climits>
#include <set>

#include "qxscsiplatform/connection.h"
#include "qxscsiplatform/errors.h"

namespace {

using namespace QXScsiPlatform;

class PlatformTest : public ::testing::Test {
 protected:
  const std::set<long> table{noScsiAddress_c,
                             targetAccessNotApplicable_c,
                             unknownDeviceName_c,
                             deviceNotFound_c,
                             accessDenied_c,
                             deviceBusy_c,
                             notOpen_c,
                             invalidRequest_c,
                             commandTimeout_c,
                             connectionFailed_c,
                             establishedConnectionFailed_c,
                             hostAdapterError_c,
                             driverError_c,
                             ioError_c,
                             outOfResources_c};
};

TEST_F(PlatformTest, OnlyAnEstablishedConnectionFailureIsReported) {
  EXPECT_TRUE(failureInEstablishedScsiTcpConnection(establishedConnectionFailed_c));
  EXPECT_TRUE(failureInEstablishedScsiTcpConnection(-18));
  for (long value = -64; value <= 64; ++value) {
    if (value == -18) continue;
    EXPECT_FALSE(failureInEstablishedScsiTcpConnection(value)) << value;
  }
  EXPECT_FALSE(failureInEstablishedScsiTcpConnection(connectionFailed_c));
  EXPECT_FALSE(failureInEstablishedScsiTcpConnection(LONG_MIN));
  EXPECT_FALSE(failureInEstablishedScsiTcpConnection(LONG_MAX));
  EXPECT_FALSE(failureInEstablishedScsiTcpConnection(-18L + (1L << 32))) << "no 32-bit truncation";
}

TEST_F(PlatformTest, ErrorValuesAreDistinctAndClearOfTheTargetsOwnValues) {
  EXPECT_EQ(table.size(), 15u);
  EXPECT_EQ(noScsiAddress_c, -7);
  EXPECT_EQ(targetAccessNotApplicable_c, -8);
  for (long value : table) {
    if (value == -7 || value == -8) continue;
    EXPECT_LT(value, -9) << value;
  }
}

}  // namespace
