// iSCSI URL parsing: accepted forms, limits, and every rejected shape.
#include <gtest/gtest.h>

#include "url.h"

namespace qxscsi::backends::iscsi {
namespace {

class IscsiUrlTest : public ::testing::Test {
 protected:
  Url parsed(const std::string& text) {
    Url u;
    std::string error;
    EXPECT_TRUE(parseUrl(text, &u, &error)) << text << ": " << error;
    return u;
  }
  std::string rejected(const std::string& text) {
    Url u;
    std::string error;
    EXPECT_FALSE(parseUrl(text, &u, &error)) << text;
    EXPECT_NE(error.find("bad iSCSI URL"), std::string::npos) << error;
    return error;
  }
};

TEST_F(IscsiUrlTest, FullFormGivesEveryPart) {
  Url u = parsed("iscsi://alice%s3cret@127.0.0.1:3261/iqn.2026-12.org.example:disk/7");
  EXPECT_EQ(u.user, "alice");
  EXPECT_EQ(u.password, "s3cret");
  EXPECT_EQ(u.host, "127.0.0.1");
  EXPECT_EQ(u.port, 3261);
  EXPECT_EQ(u.target, "iqn.2026-12.org.example:disk");
  EXPECT_EQ(u.lun, 7);
  EXPECT_EQ(u.portal(), "127.0.0.1:3261");
}

TEST_F(IscsiUrlTest, DefaultsAndOptionalParts) {
  Url u = parsed("iscsi://localhost/iqn.x:y/0");
  EXPECT_EQ(u.port, 3260);
  EXPECT_TRUE(u.user.empty());
  EXPECT_TRUE(u.password.empty());
  EXPECT_EQ(u.portal(), "localhost:3260");
  Url v = parsed("iscsi://bob@h/t/1");
  EXPECT_EQ(v.user, "bob");
  EXPECT_TRUE(v.password.empty());
  // A password may hold '@' and '%': the host starts after the last '@', the password after the first '%'.
  Url w = parsed("iscsi://bob%p@ss%w@h:1/t/1");
  EXPECT_EQ(w.user, "bob");
  EXPECT_EQ(w.password, "p@ss%w");
  EXPECT_EQ(w.host, "h");
}

TEST_F(IscsiUrlTest, Ipv6HostsNeedBrackets) {
  Url u = parsed("iscsi://[::1]:3262/iqn.x:y/2");
  EXPECT_EQ(u.host, "::1");
  EXPECT_EQ(u.port, 3262);
  EXPECT_EQ(u.portal(), "[::1]:3262");
  EXPECT_EQ(parsed("iscsi://[fe80::2]/t/0").portal(), "[fe80::2]:3260");
  rejected("iscsi://::1:3260/t/0");
  rejected("iscsi://[::1/t/0");
  rejected("iscsi://[::1]x/t/0");
  rejected("iscsi://[::1]:/t/0");
}

TEST_F(IscsiUrlTest, TargetNamesArePercentDecodedAndMayBeLong) {
  EXPECT_EQ(parsed("iscsi://h/iqn.2026-12.org.example%3Adisk/1").target, "iqn.2026-12.org.example:disk");
  std::string iqn = "iqn.2026-12.org.example.storage.department.building-seven:" + std::string(80, 'a');
  ASSERT_GT(iqn.size(), 64u);
  EXPECT_EQ(parsed("iscsi://127.0.0.1/" + iqn + "/3").target, iqn);
  rejected("iscsi://h/iqn%3/1");
  rejected("iscsi://h/iqn%zz/1");
  rejected("iscsi://h/iqn%00x/1");
  rejected("iscsi://h/iqn%/1");
}

TEST_F(IscsiUrlTest, PortAndLunLimits) {
  EXPECT_EQ(parsed("iscsi://h:1/t/0").port, 1);
  EXPECT_EQ(parsed("iscsi://h:65535/t/0").port, 65535);
  EXPECT_EQ(parsed("iscsi://h/t/16383").lun, 16383);
  EXPECT_EQ(parsed("iscsi://h/t/255").lun, 255);
  rejected("iscsi://h:0/t/0");
  rejected("iscsi://h:65536/t/0");
  rejected("iscsi://h:99999999999/t/0");
  rejected("iscsi://h:/t/0");
  rejected("iscsi://h:+1/t/0");
  rejected("iscsi://h:12a/t/0");
  rejected("iscsi://h/t/16384");
  rejected("iscsi://h/t/-1");
  rejected("iscsi://h/t/1x");
  rejected("iscsi://h/t/ 1");
  rejected("iscsi://h/t/");
  rejected("iscsi://h/t/1/");
}

TEST_F(IscsiUrlTest, MissingPartsAreRefused) {
  rejected("");
  rejected("iscsi:/h/t/1");
  rejected("ISCSI://h/t/1");
  rejected("iscsi://");
  rejected("iscsi://h");
  rejected("iscsi://h/");
  rejected("iscsi://h/t");
  rejected("iscsi:///t/1");
  rejected("iscsi://:3260/t/1");
  rejected("iscsi://h//1");
  rejected("iscsi://h/a/b/1");
  rejected("iscsi://@h/t/1");
  rejected("iscsi://%pw@h/t/1");
  rejected(std::string("iscsi://h/t\0x/1", 16));
}

TEST_F(IscsiUrlTest, SchemeTestLooksOnlyAtThePrefix) {
  EXPECT_TRUE(isIscsiName("iscsi://"));
  EXPECT_TRUE(isIscsiName("iscsi://anything"));
  EXPECT_FALSE(isIscsiName("iscsi:/"));
  EXPECT_FALSE(isIscsiName("emulated:disk"));
  EXPECT_FALSE(isIscsiName(""));
  EXPECT_FALSE(isIscsiName(" iscsi://h/t/1"));
}

TEST_F(IscsiUrlTest, PortalsWithOrWithoutScheme) {
  Url u;
  std::string error;
  ASSERT_TRUE(parsePortal("127.0.0.1", &u, &error)) << error;
  EXPECT_EQ(u.portal(), "127.0.0.1:3260");
  EXPECT_TRUE(u.target.empty());
  ASSERT_TRUE(parsePortal("iscsi://bob%pw@[::1]:3999/", &u, &error)) << error;
  EXPECT_EQ(u.portal(), "[::1]:3999");
  EXPECT_EQ(u.user, "bob");
  EXPECT_EQ(u.password, "pw");
  for (const char* bad : {"", "iscsi://", "host:0", "host:x", "iscsi://h/iqn.x:y/1", "h/t", "::1"}) {
    EXPECT_FALSE(parsePortal(bad, &u, &error)) << bad;
    EXPECT_NE(error.find("bad iSCSI portal"), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace qxscsi::backends::iscsi
