// The parallel-SCSI target: opening by name (with the "access_target" default), by name or
// adapter number with bus/target/LUN, around a caller's handle; handle and adapter queries,
// assignment, and the SPI free functions. Implementations come from the factory singleton.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "qxscsi/parameters.h"
#include "qxscsi/target.h"
#include "qxscsiplatform/errors.h"
#include "support/recording_device.h"

namespace {

using qxscsi::test::bytesOf;
using qxscsi::test::FactoryRegistration;
using qxscsi::test::RecordingDevice;
using Bytes = std::vector<unsigned char>;
using Parameters = std::vector<QXScsi::ParameterData>;

class SPITargetTest : public ::testing::Test {
 protected:
  // The target's current address as bytes, or nothing when it is undefined.
  static Bytes addressOf(const QXScsiTarget& target) {
    QXScsiAddress address;
    return target.getScsiAddress(address) ? bytesOf(address) : Bytes{};
  }

  RecordingDevice device;
  std::unique_ptr<FactoryRegistration> registration = std::make_unique<FactoryRegistration>(device);
};

TEST_F(SPITargetTest, NameAloneOpensWithAccessTargetOn) {
  QXScsiSPITarget target("/dev/sg1");
  EXPECT_TRUE(target.valid());
  ASSERT_EQ(device.parameterLists.size(), 1u);
  ASSERT_EQ(device.parameterLists[0].size(), 1u);
  EXPECT_EQ(device.parameterLists[0][0].name(), "access_target");
  EXPECT_EQ(device.parameterLists[0][0].value(), "y");
  EXPECT_TRUE(target.override(1));
  EXPECT_TRUE(target.override(2));
  EXPECT_EQ(device.openedNames, std::vector<std::string>{"/dev/sg1"});
  // Flag 1: the target was accessed and its address asked for.
  EXPECT_EQ(addressOf(target), (Bytes{0x80, 1, 2, 3, 0, 0, 0, 0}));
}

TEST_F(SPITargetTest, NameWithCallersListAddsExactlyOneRecordToIt) {
  Parameters params;
  QXScsi::setParameter("firmware", "1.0", params);
  QXScsiSPITarget target("/dev/sg1", &params);
  ASSERT_EQ(params.size(), 2u);
  EXPECT_EQ(params[1].name(), "access_target");
  EXPECT_EQ(params[1].value(), "y");
  EXPECT_EQ(device.parameterLists.at(0).size(), 2u);
  EXPECT_TRUE(target.override(1));
}

TEST_F(SPITargetTest, CallersAccessTargetValueIsKept) {
  Parameters params;
  QXScsi::setParameter("access_target", "n", params);
  QXScsiSPITarget target("/dev/sg1", &params);
  EXPECT_EQ(params.size(), 1u);
  EXPECT_TRUE(target.valid());
  EXPECT_FALSE(target.override(1));
  EXPECT_FALSE(target.override(2));
  EXPECT_EQ(device.count("getScsiAddress"), 0);
}

TEST_F(SPITargetTest, FailedTargetAccessFailsTheNameOpening) {
  device.addressResult = false;  // with error 0: the address query fails the access
  QXScsiSPITarget target("/dev/sg1");
  EXPECT_FALSE(target.valid());
  EXPECT_EQ(device.adoptedHandles, std::vector<int>{QXScsi::invalidHandleValue_c});
}

TEST_F(SPITargetTest, NameAndAddressKeepCallersListAndAddress) {
  Parameters params;
  QXScsi::setParameter("firmware", "1.0", params);
  QXScsiSPITarget target("/dev/sg1", 4, 5, 6, &params);
  EXPECT_TRUE(target.valid());
  EXPECT_EQ(params.size(), 1u);
  EXPECT_FALSE(target.override(1));
  EXPECT_EQ(addressOf(target), (Bytes{0x80, 4, 5, 6, 0, 0, 0, 0}));
}

TEST_F(SPITargetTest, AdapterNumberOpensItsAdapterName) {
  QXScsiSPITarget first(static_cast<unsigned short>(0), 0, 1, 0);
  QXScsiSPITarget last(static_cast<unsigned short>(65535), 0, 1, 0);
  EXPECT_TRUE(first.valid());
  EXPECT_EQ(device.openedNames, (std::vector<std::string>{"//./scsi0:", "//./scsi65535:"}));
  EXPECT_EQ(addressOf(first), (Bytes{0x80, 0, 1, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(device.parameterLists.empty());  // no default added to a missing list
}

TEST_F(SPITargetTest, FailedOpeningLeavesImplementationWithoutHandle) {
  device.accessResult = false;
  QXScsiSPITarget byName("/dev/sg1");
  QXScsiSPITarget byAdapter(static_cast<unsigned short>(2), 0, 0, 0);
  EXPECT_FALSE(byName.valid());
  EXPECT_FALSE(byAdapter.valid());
  EXPECT_EQ(byName.handle(), QXScsi::invalidHandleValue_c);
  EXPECT_EQ(device.adoptedHandles, (std::vector<int>{-1, -1}));
}

TEST_F(SPITargetTest, NullNameIsAFailedOpening) {
  QXScsiSPITarget target(static_cast<const char*>(nullptr));
  EXPECT_FALSE(target.valid());
  EXPECT_TRUE(device.openedNames.empty());
  EXPECT_EQ(device.adoptedHandles, std::vector<int>{-1});
}

TEST_F(SPITargetTest, HandleIsAdoptedAndAddressReadFromImplementation) {
  QXScsiSPITarget target(5);
  EXPECT_TRUE(target.valid());
  EXPECT_EQ(device.adoptedHandles, std::vector<int>{5});
  EXPECT_EQ(target.handle(), 5);
  EXPECT_TRUE(target.getScsiTargetImpl()->implicitReleaseDisabled());
  EXPECT_EQ(addressOf(target), (Bytes{0x80, 1, 2, 3, 0, 0, 0, 0}));
  EXPECT_TRUE(device.openedNames.empty());
}

TEST_F(SPITargetTest, HandleWithoutReportedAddressIsDropped) {
  device.addressResult = false;
  QXScsiSPITarget target(5);
  EXPECT_FALSE(target.valid());
  EXPECT_EQ(device.adoptedHandles, (std::vector<int>{5, -1}));
  EXPECT_EQ(target.handle(), QXScsi::invalidHandleValue_c);
}

TEST_F(SPITargetTest, HandleAndAddressNeverAskImplementationForAddress) {
  QXScsiSPITarget target(5, 7, 8, 9);
  EXPECT_TRUE(target.valid());
  EXPECT_EQ(device.count("getScsiAddress"), 0);
  EXPECT_EQ(device.adoptedHandles, std::vector<int>{5});
  EXPECT_EQ(addressOf(target), (Bytes{0x80, 7, 8, 9, 0, 0, 0, 0}));
}

TEST_F(SPITargetTest, WithoutImplementationHandleConstructorFailsAndQueriesAnswerNoValue) {
  registration.reset();  // no factory singleton: no implementation can be had
  QXScsiSPITarget byHandle(5);
  QXScsiSPITarget byHandleAndAddress(5, 1, 2, 3);
  QXScsiSPITarget byName("/dev/sg1");
  EXPECT_FALSE(byHandle.valid());
  EXPECT_FALSE(byHandleAndAddress.valid());
  EXPECT_FALSE(byName.valid());
  EXPECT_EQ(byHandle.handle(), QXScsi::invalidHandleValue_c);
  EXPECT_EQ(byHandle.adapter(), -1);
  EXPECT_EQ(device.created, 0);
}

TEST_F(SPITargetTest, AssignedTargetsShareOneImplementation) {
  QXScsiSPITarget opened("/dev/sg1");
  QXScsiSPITarget other;
  other = opened;
  EXPECT_EQ(other.handle(), opened.handle());
  EXPECT_EQ(other.handle(), 7);
  EXPECT_EQ(other.getScsiTargetImpl(), opened.getScsiTargetImpl());
  EXPECT_EQ(opened.getReferenceCount(), 2);
  EXPECT_TRUE(other.valid());
}

TEST_F(SPITargetTest, ImplementationOutlivesTheTargetItWasAssignedFrom) {
  QXScsiSPITarget kept;
  {
    QXScsiSPITarget temporary("/dev/sg1");
    kept = temporary;
  }
  EXPECT_EQ(device.destroyed, 0);
  EXPECT_EQ(kept.handle(), 7);
  EXPECT_EQ(kept.getReferenceCount(), 1);
}

TEST_F(SPITargetTest, FreeGetScsiAddressAnswersFalseAndObtainsImplementation) {
  QXScsiSPITarget target;
  int a = 1, b = 2, c = 3, d = 4;
  EXPECT_FALSE(QXScsi::getScsiAddress(a, b, c, target, d));
  EXPECT_EQ(a, -1);
  EXPECT_EQ(b, -1);
  EXPECT_EQ(c, -1);
  EXPECT_EQ(d, 4);
  EXPECT_EQ(device.created, 1);
}

TEST_F(SPITargetTest, EstablishedConnectionFailureIsRecognisedFromTargetError) {
  QXScsiSPITarget target("/dev/sg1");
  device.error = QXScsiPlatform::establishedConnectionFailed_c;
  EXPECT_TRUE(QXScsi::failureInEstablishedScsiTcpConnection(target));
  device.error = QXScsiPlatform::connectionFailed_c;
  EXPECT_FALSE(QXScsi::failureInEstablishedScsiTcpConnection(target));
  device.error = 0;
  EXPECT_FALSE(QXScsi::failureInEstablishedScsiTcpConnection(target));
  // A local error hides the implementation's: it is what the target reports.
  device.error = QXScsiPlatform::establishedConnectionFailed_c;
  target.localError(-2);
  EXPECT_FALSE(QXScsi::failureInEstablishedScsiTcpConnection(target));
}

}  // namespace
