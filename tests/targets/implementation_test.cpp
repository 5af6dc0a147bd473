// Defaults of the implementation base class, its flag store and its record services.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qxscsi/implementation.h"

namespace {

class ImplementationBaseTest : public ::testing::Test {
 protected:
  QXScsiTargetImpl impl;
  const unsigned char cdb[6] = {0x12, 0, 0, 0, 36, 0};
  QXScsiCmd cmd{cdb, 6, nullptr, 0, QXScsi::noData_c};
};

TEST_F(ImplementationBaseTest, BareBaseFailsDeviceOperationsAndAllowsTargetAccess) {
  EXPECT_FALSE(impl.access("/dev/sg0", -1));
  EXPECT_FALSE(impl.accessExclusive("/dev/sg0", -1));
  EXPECT_FALSE(impl.release());
  EXPECT_FALSE(impl.executeCommand(cmd, QXScsiDevice()));
  EXPECT_TRUE(impl.accessScsiTarget(QXScsiLunAddress(0, 1, 2)));
  EXPECT_TRUE(impl.accessScsiTarget(QXScsiDevice("x")));
  EXPECT_EQ(impl.implementationError(), 0);
  EXPECT_EQ(impl.implementationVersion(), 0);
}

TEST_F(ImplementationBaseTest, GetScsiAddressClearsFlagAndLeavesAddressUntouched) {
  QXScsiLunAddress address(1, 2, 3);
  bool flag = true;
  EXPECT_FALSE(impl.getScsiAddress(address, flag));
  EXPECT_FALSE(flag);
  EXPECT_TRUE(address.defined());
  EXPECT_EQ(address.bus(), 1);
  EXPECT_EQ(address.target(), 2);
  EXPECT_EQ(address.lun(), 3);
}

TEST_F(ImplementationBaseTest, QueriesAnswerNoValue) {
  EXPECT_EQ(impl.handle(), 0);
  EXPECT_EQ(impl.adapter(), -1);
  EXPECT_EQ(impl.os_platform(), -1);
  EXPECT_EQ(impl.scsi_transport(), -1);
  for (unsigned long state : {0UL, 1UL, 0xFFFFFFFFUL, ~0UL}) EXPECT_FALSE(impl.isTargetState(state));
  std::string message = "old";
  impl.implementationErrorMsg(message);
  EXPECT_EQ(message, "");
  std::string hint = "keep me";
  impl.implementationErrorHint(hint);
  EXPECT_EQ(hint, "keep me");
  int h = 5;
  impl.access(&h);  // does nothing
  EXPECT_EQ(impl.handle(), 0);
  impl.overrideDefaultBehavior(std::vector<QXScsi::ParameterData>(2));
}

TEST_F(ImplementationBaseTest, HintIsStoredAndReplaced) {
  EXPECT_EQ(impl.hint(), "");
  std::string first = "first";
  EXPECT_TRUE(impl.hintFrom(first));
  EXPECT_EQ(impl.hint(), "first");
  std::string second = "";
  EXPECT_TRUE(impl.hintFrom(second));
  EXPECT_EQ(impl.hint(), "");
}

TEST_F(ImplementationBaseTest, ImplicitReleaseIsDisabledForGood) {
  EXPECT_FALSE(impl.implicitReleaseDisabled());
  impl.disableImplicitRelease();
  EXPECT_TRUE(impl.implicitReleaseDisabled());
  impl.disableImplicitRelease();
  EXPECT_TRUE(impl.implicitReleaseDisabled());
}

TEST_F(ImplementationBaseTest, FlagStoreSetsAndClearsSingleBits) {
  impl.override(6, true);
  EXPECT_TRUE(impl.override(6));
  EXPECT_FALSE(impl.override(5));
  EXPECT_FALSE(impl.override(7));
  impl.override(1, true);
  impl.override(32, true);
  EXPECT_TRUE(impl.override(1));
  EXPECT_TRUE(impl.override(32));
  impl.override(6, false);
  EXPECT_FALSE(impl.override(6));
  EXPECT_TRUE(impl.override(1));
  EXPECT_TRUE(impl.override(32));
  impl.override(32, true);  // setting twice keeps it set
  impl.override(32, false);
  EXPECT_FALSE(impl.override(32));
  EXPECT_TRUE(impl.override(1));
}

TEST_F(ImplementationBaseTest, FlagNumbersOutsideTheStoreAreIgnored) {
  for (int flag : {0, -1, 33, 64, 1000}) {
    impl.override(flag, true);
    EXPECT_FALSE(impl.override(flag)) << flag;
  }
  for (int flag = 1; flag <= 32; ++flag) EXPECT_FALSE(impl.override(flag)) << flag;
}

TEST_F(ImplementationBaseTest, RecordServicesWriteIntoTheRecord) {
  impl.setCmdScsiStatus(cmd, 0x02);
  EXPECT_EQ(cmd.scsiStatus(), 0x02);
  impl.incompleteSense(cmd, true);
  EXPECT_TRUE(cmd.incompleteSense());
  impl.setCmdErrorCode(cmd, -2, "first");
  impl.setCmdErrorCode(cmd, -5, nullptr);
  EXPECT_EQ(cmd.implementationError(), -5);
  std::string message;
  cmd.implementationErrorMsg(message);
  EXPECT_EQ(message, "first");
}

TEST_F(ImplementationBaseTest, SenseDataIsCutAt255Bytes) {
  std::vector<unsigned char> sense(300);
  for (size_t i = 0; i < sense.size(); ++i) sense[i] = static_cast<unsigned char>(i + 1);
  impl.setCmdSenseData(cmd, sense.data(), sense.size());
  unsigned char* bytes = nullptr;
  unsigned char length = 0;
  cmd.senseData().getBuffer(bytes, length);
  EXPECT_EQ(length, 255);
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[254], 255);
}

}  // namespace
