// Device-name search: the system's pattern table (its terminating row alone) and the search
// loop over tables with rows, probing names through factory-made SPI target implementations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "naming/search.h"
#include "qxscsi/naming.h"
#include "support/recording_device.h"

namespace {

using qxscsi::naming::DeviceNamePattern;
using qxscsi::naming::searchDeviceName;
using qxscsi::test::FactoryRegistration;
using qxscsi::test::RecordingDevice;
using Names = std::vector<std::string>;

const DeviceNamePattern twoRows[] = {
    {1, "/dev/sg%d"},
    {2, "/dev/alt%d"},
    {0, nullptr},
};

class DeviceNameSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device.accessResult = false;  // names not listed below do not open
    device.names["/dev/sg0"] = {3, QXScsiLunAddress(0, 0, 0), 4};
    device.names["/dev/sg1"] = {4, QXScsiLunAddress(1, 2, 3), 4};
    device.names["/dev/sg2"] = {5, QXScsiLunAddress(1, 2, 4), 5};
    device.names["/dev/alt0"] = {6, QXScsiLunAddress(0, 0, 0), 4};
    device.names["/dev/alt1"] = {8, QXScsiLunAddress(1, 2, 3), 4};
  }

  RecordingDevice device;
  FactoryRegistration registration{device};
  std::string name = "previous";
};

TEST_F(DeviceNameSearchTest, SystemTableFindsNothingAndEmptiesName) {
  for (int key : {-1, 0, 1, 7}) {
    name = "previous";
    EXPECT_FALSE(QXScsi::getScsiDeviceName(name, 4, 1, 2, 3, key)) << key;
    EXPECT_EQ(name, "") << key;
  }
  EXPECT_FALSE(QXScsi::getScsiDeviceName(name, -1, 300, -5, 0, -1));
  EXPECT_EQ(device.created, 0);  // nothing probed
}

TEST_F(DeviceNameSearchTest, RowStopsAtFirstMatch) {
  EXPECT_TRUE(searchDeviceName(twoRows, name, 4, 1, 2, 3, 1));
  EXPECT_EQ(name, "/dev/sg1");
  EXPECT_EQ(device.openedNames, (Names{"/dev/sg0", "/dev/sg1"}));
}

TEST_F(DeviceNameSearchTest, RowEndsAtFirstNameWithoutHandle) {
  EXPECT_FALSE(searchDeviceName(twoRows, name, 4, 9, 9, 9, 1));
  EXPECT_EQ(name, "");
  EXPECT_EQ(device.openedNames, (Names{"/dev/sg0", "/dev/sg1", "/dev/sg2", "/dev/sg3"}));
}

TEST_F(DeviceNameSearchTest, LastMatchingRowWins) {
  EXPECT_TRUE(searchDeviceName(twoRows, name, 4, 1, 2, 3, -1));
  EXPECT_EQ(name, "/dev/alt1");
  EXPECT_EQ(device.openedNames, (Names{"/dev/sg0", "/dev/sg1", "/dev/alt0", "/dev/alt1"}));
}

TEST_F(DeviceNameSearchTest, KeySelectsItsRowOnly) {
  EXPECT_TRUE(searchDeviceName(twoRows, name, 4, 0, 0, 0, 2));
  EXPECT_EQ(name, "/dev/alt0");
  EXPECT_EQ(device.openedNames, Names{"/dev/alt0"});
  device.openedNames.clear();
  EXPECT_FALSE(searchDeviceName(twoRows, name, 4, 0, 0, 0, 3));
  EXPECT_TRUE(device.openedNames.empty());
}

TEST_F(DeviceNameSearchTest, AdapterMustMatchToo) {
  // /dev/sg2 reports 1/2/4 on adapter 5.
  EXPECT_FALSE(searchDeviceName(twoRows, name, 4, 1, 2, 4, 1));
  EXPECT_TRUE(searchDeviceName(twoRows, name, 5, 1, 2, 4, 1));
  EXPECT_EQ(name, "/dev/sg2");
}

TEST_F(DeviceNameSearchTest, ArgumentsOutsideByteRangeNeverMatch) {
  device.names["/dev/sg0"] = {3, QXScsiLunAddress(1, 2, 3), 4};
  EXPECT_FALSE(searchDeviceName(twoRows, name, 4, 257, 2, 3, 1));
  EXPECT_FALSE(searchDeviceName(twoRows, name, 4, 1, 2, -253, 1));
  EXPECT_TRUE(searchDeviceName(twoRows, name, 4, 1, 2, 3, 1));
}

TEST_F(DeviceNameSearchTest, ProbesOpenWithAccessTargetOn) {
  searchDeviceName(twoRows, name, 4, 1, 2, 3, 1);
  ASSERT_FALSE(device.parameterLists.empty());
  ASSERT_EQ(device.parameterLists[0].size(), 1u);
  EXPECT_EQ(device.parameterLists[0][0].name(), "access_target");
  EXPECT_EQ(device.parameterLists[0][0].value(), "y");
  EXPECT_EQ(device.parameterLists.back().size(), 1u);  // the probe list never grows
}

TEST_F(DeviceNameSearchTest, ProbeThatOpensWithoutHandleEndsRow) {
  // An implementation that opens and still reports handle 0 (no handle) must not keep the
  // search probing forever.
  device.accessResult = true;
  device.openedHandle = 0;
  const DeviceNamePattern anyName[] = {{1, "/dev/other%d"}, {0, nullptr}};
  EXPECT_FALSE(searchDeviceName(anyName, name, 4, 7, 7, 7, -1));
  EXPECT_EQ(device.openedNames, Names{"/dev/other0"});
}

TEST_F(DeviceNameSearchTest, ProbeImplementationsAreReleasedWhenReplaced) {
  searchDeviceName(twoRows, name, 4, 9, 9, 9, -1);
  EXPECT_EQ(device.created, device.destroyed);
  EXPECT_EQ(device.created, 7);  // one per probe: sg0..sg3 and alt0..alt2
}

TEST_F(DeviceNameSearchTest, RowWithoutPatternIsSkipped) {
  const DeviceNamePattern broken[] = {{1, nullptr}, {1, "/dev/sg%d"}, {0, nullptr}};
  EXPECT_TRUE(searchDeviceName(broken, name, 4, 1, 2, 3, 1));
  EXPECT_EQ(name, "/dev/sg1");
}

}  // namespace
