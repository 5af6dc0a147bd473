// Classification of refused logins from libiscsi's message text.
#include <gtest/gtest.h>

#include "login_status.h"

namespace qxscsi::iscsi {
namespace {

class IscsiLoginStatusTest : public ::testing::Test {};

// Login refusals as libiscsi words them: "... Status: <text>(<class * 256 + detail>)".
TEST_F(IscsiLoginStatusTest, RefusalTextsAreClassifiedByStatusCode) {
  EXPECT_EQ(classifyLoginFailure("Failed to log in to target. Status: Target not found(515)"),
            Outcome::notFound);
  EXPECT_EQ(classifyLoginFailure("Failed to log in to target. Status: Target removed(516)"),
            Outcome::notFound);
  EXPECT_EQ(classifyLoginFailure("Failed to log in to target. Status: Authentication failure(513)"),
            Outcome::loginDenied);
  EXPECT_EQ(classifyLoginFailure("Failed to log in to target. Status: Authorization failure(514)"),
            Outcome::loginDenied);
  EXPECT_EQ(classifyLoginFailure("Failed to log in to target. Status: Target error(768)"),
            Outcome::loginFailed);
  EXPECT_EQ(classifyLoginFailure("Failed to log in to target. Status: Too many connections(518)"),
            Outcome::loginFailed);
  EXPECT_EQ(classifyLoginFailure(""), Outcome::loginFailed);
  EXPECT_EQ(classifyLoginFailure("Status: (515"), Outcome::loginFailed);
  EXPECT_EQ(classifyLoginFailure("Status: x()"), Outcome::loginFailed);
  EXPECT_EQ(classifyLoginFailure("Status: x(5150000000)"), Outcome::loginFailed);
  EXPECT_EQ(classifyLoginFailure("(515) without the word"), Outcome::loginFailed);
}

}  // namespace
}  // namespace qxscsi::iscsi
