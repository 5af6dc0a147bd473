// Classification of refused logins from libiscsi's message text.
#include <gtest/gtest.h>

#include "login_status.h"

namespace qxscsi::backends::iscsi {
namespace {

class IscsiLoginStatusTest : public ::testing::Test {};

// Login refusals as libiscsi words them: "... Status: <text>(<class * 256 + detail>)".
TEST_F(IscsiLoginStatusTest, RefusalTextsAreClassifiedByStatusCode) {
  EXPECT_EQ(classifyLoginFailure("Failed to log in to target. Status: Target not found(515)"),
            SessionResult::notFound);
  EXPECT_EQ(classifyLoginFailure("Failed to log in to target. Status: Target removed(516)"),
            SessionResult::notFound);
  EXPECT_EQ(classifyLoginFailure("Failed to log in to target. Status: Authentication failure(513)"),
            SessionResult::loginDenied);
  EXPECT_EQ(classifyLoginFailure("Failed to log in to target. Status: Authorization failure(514)"),
            SessionResult::loginDenied);
  EXPECT_EQ(classifyLoginFailure("Failed to log in to target. Status: Target error(768)"),
            SessionResult::loginFailed);
  EXPECT_EQ(classifyLoginFailure("Failed to log in to target. Status: Too many connections(518)"),
            SessionResult::loginFailed);
  EXPECT_EQ(classifyLoginFailure(""), SessionResult::loginFailed);
  EXPECT_EQ(classifyLoginFailure("Status: (515"), SessionResult::loginFailed);
  EXPECT_EQ(classifyLoginFailure("Status: x()"), SessionResult::loginFailed);
  EXPECT_EQ(classifyLoginFailure("Status: x(5150000000)"), SessionResult::loginFailed);
  EXPECT_EQ(classifyLoginFailure("(515) without the word"), SessionResult::loginFailed);
}

}  // namespace
}  // namespace qxscsi::backends::iscsi
