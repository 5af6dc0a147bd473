// Device names: adapter names, generic-device names and upper-casing.
#include <gtest/gtest.h>

#include <string>

#include "qxscsi/naming.h"

namespace {

class NamesTest : public ::testing::Test {
 protected:
  std::string name;
};

TEST_F(NamesTest, AdapterNameGoesInFront) {
  QXScsi::formatScsiName(name, 0);
  EXPECT_EQ(name, "//./scsi0:");
  name.clear();
  QXScsi::formatScsiName(name, 65535);
  EXPECT_EQ(name, "//./scsi65535:");
  name = "abc";
  QXScsi::formatScsiName(name, 7);
  EXPECT_EQ(name, "//./scsi7:abc");
}

TEST_F(NamesTest, GenericDeviceMarkerAnywhereInAnyCase) {
  for (const char* yes : {"scsidev", "SCSIDEV", "/dev/scsidev/host0", "/dev/ScsiDev3", "xSCSIDEVx"})
    EXPECT_TRUE(QXScsi::isScsiName(yes)) << yes;
  for (const char* no : {"", "scsidv", "scsi dev", "//./scsi0:", "scsid", "/dev/sg0"})
    EXPECT_FALSE(QXScsi::isScsiName(no)) << no;
  QXScsi::formatScsiName(name, 3);
  EXPECT_FALSE(QXScsi::isScsiName(name));
}

TEST_F(NamesTest, ToUpperAppends) {
  std::string out = "X";
  QXScsi::toUpper("a1b", out);
  EXPECT_EQ(out, "XA1B");
  out.clear();
  QXScsi::toUpper("", out);
  EXPECT_EQ(out, "");
}

TEST_F(NamesTest, ToUpperKeepsBytesAboveAscii) {
  // Characters with the top bit set are negative as char; they pass through unchanged.
  const std::string source = "\xE9z\xFF";
  std::string out;
  QXScsi::toUpper(source, out);
  EXPECT_EQ(out, "\xE9Z\xFF");
  EXPECT_FALSE(
      QXScsi::isScsiName("\xFF"
                         "scsi\xE9"
                         "dev"));
}

}  // namespace
