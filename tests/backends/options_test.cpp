// Emulated device names: what is accepted, what is refused, and which names share a device.
#include <gtest/gtest.h>

#include "options.h"

namespace qxscsi::backends::emulated {
namespace {

class OptionsTest : public ::testing::Test {
 protected:
  Options options;
  std::string error;
  bool parse(const std::string& name) {
    error.clear();
    return Options::parse(name, options, error);
  }
  std::string key(const std::string& name) {
    EXPECT_TRUE(parse(name)) << error;
    return options.deviceKey();
  }
};

TEST_F(OptionsTest, DefaultsPerType) {
  ASSERT_TRUE(parse("emulated:disk"));
  EXPECT_EQ(options.type(), "disk");
  EXPECT_EQ(options.number("luns"), 1u);
  EXPECT_EQ(options.number("capacity"), 2048u);
  EXPECT_EQ(options.number("block"), 512u);
  EXPECT_EQ(options.text("serial").substr(0, 2), "QX");
  EXPECT_EQ(options.text("serial").size(), 10u);
  ASSERT_TRUE(parse("emulated:tape"));
  EXPECT_EQ(options.number("capacity"), 1048576u);
  EXPECT_EQ(options.number("slots"), 0u);  // not a tape option
  ASSERT_TRUE(parse("emulated:changer"));
  EXPECT_EQ(options.number("slots"), 8u);
  EXPECT_EQ(options.number("drives"), 1u);
}

TEST_F(OptionsTest, RefusedNames) {
  struct Case {
    const char* name;
    const char* says;
  };
  const Case cases[] = {
      {"emulated", "not an emulated device name"},
      {"Emulated:disk", "not an emulated device name"},
      {"emulated:", "unknown emulated device type \"\""},
      {"emulated:disk?", "not of the form key=value"},
      {"emulated:disk?luns", "not of the form key=value"},
      {"emulated:disk?=2", "not of the form key=value"},
      {"emulated:disk?luns=2&", "not of the form key=value"},
      {"emulated:disk?slots=2", "unknown option \"slots\" for emulated:disk"},
      {"emulated:disk?luns=2&luns=3", "given twice"},
      {"emulated:disk?luns=0", "from 1 to 256"},
      {"emulated:disk?luns=257", "from 1 to 256"},
      {"emulated:disk?luns=+2", "not a decimal number"},
      {"emulated:disk?capacity=4294967296", "not a decimal number"},
      {"emulated:disk?luns=2&lun=2", "lun 2 does not exist"},
      {"emulated:disk?capacity=1000000&block=4096", "larger than the limit"},
      {"emulated:disk?serial=has space", "serial"},
      {"emulated:disk?serial=12345678901234567", "serial"},
      {"emulated:tape?capacity=268435457", "from 1 to 268435456"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(parse(c.name)) << c.name;
    EXPECT_NE(error.find(c.says), std::string::npos) << c.name << ": " << error;
  }
}

TEST_F(OptionsTest, LargestAcceptedValues) {
  EXPECT_TRUE(parse("emulated:disk?capacity=65536&block=4096")) << error;  // exactly 256 MiB
  EXPECT_TRUE(parse("emulated:disk?luns=256&lun=255&capacity=1&block=1")) << error;
  EXPECT_TRUE(parse("emulated:changer?slots=1024&drives=64&adapter=65535")) << error;
}

TEST_F(OptionsTest, NamesOfOneShapeShareADeviceAndTheLunDoesNotCount) {
  EXPECT_EQ(key("emulated:disk"), key("emulated:disk?block=512&capacity=2048"));
  EXPECT_EQ(key("emulated:disk?luns=2"), key("emulated:disk?lun=1&luns=2"));
  EXPECT_EQ(key("emulated:disk?capacity=8&luns=2"), key("emulated:disk?luns=2&capacity=8"));
  EXPECT_NE(key("emulated:disk"), key("emulated:disk?id=x"));
  EXPECT_NE(key("emulated:disk"), key("emulated:disk?capacity=8"));
  EXPECT_NE(key("emulated:disk"), key("emulated:tape"));
  EXPECT_NE(key("emulated:disk?adapter=1"), key("emulated:disk"));
}

TEST_F(OptionsTest, SerialIsStableAndCanBeGiven) {
  ASSERT_TRUE(parse("emulated:tape?id=a"));
  std::string first = options.text("serial");
  ASSERT_TRUE(parse("emulated:tape?id=a"));
  EXPECT_EQ(options.text("serial"), first);
  ASSERT_TRUE(parse("emulated:tape?id=b"));
  EXPECT_NE(options.text("serial"), first);
  ASSERT_TRUE(parse("emulated:tape?serial=Tape_01-x"));
  EXPECT_EQ(options.text("serial"), "Tape_01-x");
}

}  // namespace
}  // namespace qxscsi::backends::emulated
