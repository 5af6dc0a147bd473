// CHAP credentials: which source wins each field, which combinations are refused, and masking.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "credentials.h"

namespace qxscsi::backends::iscsi {
namespace {

struct ChapCase {
  const char* what;
  Chap given;
  const char* urlUser;
  const char* urlPassword;
  std::map<std::string, std::string> env;
  Chap expected;
};

TEST(IscsiCredentialsTest, ParametersWinOverTheUrlWhichWinsOverTheEnvironment) {
  const std::map<std::string, std::string> fullEnv = {{kEnvUser, "envu"},
                                                      {kEnvPassword, "envp"},
                                                      {kEnvTargetUser, "envtu"},
                                                      {kEnvTargetPassword, "envtp"}};
  const ChapCase cases[] = {
      {"nothing anywhere", {}, "", "", {}, {}},
      {"environment only", {}, "", "", fullEnv, {"envu", "envp", "envtu", "envtp"}},
      {"url over environment", {}, "urlu", "urlp", fullEnv, {"urlu", "urlp", "envtu", "envtp"}},
      {"url user, environment password", {}, "urlu", "", {{kEnvPassword, "envp"}}, {"urlu", "envp", "", ""}},
      {"parameters over both", {"pu", "pp", "ptu", "ptp"}, "urlu", "urlp", fullEnv, {"pu", "pp", "ptu", "ptp"}},
      {"parameter password only", {"", "pp", "", ""}, "urlu", "urlp", {}, {"urlu", "pp", "", ""}},
      {"a user without password", {}, "urlu", "", {}, {"urlu", "", "", ""}},
  };
  for (const ChapCase& c : cases) {
    Url url;
    url.user = c.urlUser;
    url.password = c.urlPassword;
    Environment env = [&c](const char* name) -> const char* {
      auto it = c.env.find(name);
      return it == c.env.end() ? nullptr : it->second.c_str();
    };
    Chap got;
    std::string error;
    ASSERT_TRUE(resolveChap(c.given, url, env, &got, &error)) << c.what << ": " << error;
    EXPECT_EQ(got.user, c.expected.user) << c.what;
    EXPECT_EQ(got.password, c.expected.password) << c.what;
    EXPECT_EQ(got.targetUser, c.expected.targetUser) << c.what;
    EXPECT_EQ(got.targetPassword, c.expected.targetPassword) << c.what;
  }
}

TEST(IscsiCredentialsTest, UnusableCombinationsAreRefusedWithoutTheSecret) {
  const Chap bad[] = {
      {"", "s3cret-one", "", ""},         // a password without a user
      {"u", "s3cret-one", "tu", ""},      // a target user without its password
      {"u", "s3cret-one", "", "s3cret-two"},  // a target password without its user
      {"", "", "tu", "s3cret-two"},       // mutual without the initiator's part
  };
  for (const Chap& c : bad) {
    Chap got;
    got.user = "untouched";
    std::string error;
    EXPECT_FALSE(resolveChap(c, Url(), Environment(), &got, &error)) << c.user << "/" << c.targetUser;
    EXPECT_NE(error.find("iSCSI credentials"), std::string::npos) << error;
    EXPECT_EQ(error.find("s3cret"), std::string::npos) << error;
    EXPECT_EQ(got.user, "untouched");
  }
}

TEST(IscsiCredentialsTest, MaskingHidesOnlyThePassword) {
  const std::pair<const char*, const char*> cases[] = {
      {"iscsi://alice%wonder@host:3260/iqn.x:y/1", "iscsi://alice%***@host:3260/iqn.x:y/1"},
      {"alice%wonder@host:3260", "alice%***@host:3260"},
      {"iscsi://alice%a%b@c@host/iqn.x:y/1", "iscsi://alice%***@host/iqn.x:y/1"},  // last '@' ends it
      {"iscsi://alice@host/iqn.x:y/1", "iscsi://alice@host/iqn.x:y/1"},          // no password
      {"iscsi://host/iqn.x%3Ay@z/1", "iscsi://host/iqn.x%3Ay@z/1"},              // '%' and '@' in the path
      {"iscsi://alice%@host/t/1", "iscsi://alice%***@host/t/1"},
      {"", ""},
  };
  for (auto [in, out] : cases) EXPECT_EQ(maskPassword(in), out) << in;
}

}  // namespace
}  // namespace qxscsi::backends::iscsi
