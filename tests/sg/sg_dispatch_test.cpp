// The SG back-end behind a target obtained from the factory: parameters, addresses, errors, closing.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <memory>

#include "qxpattern/singleton.h"
#include "sg_target.h"
#include "qxscsi/qxscsi.h"
#include "support/fake_sg_system.h"

namespace qxscsi::backends::sg {
namespace {

using namespace QXScsiPlatform;
using testing::FakeSgSystem;

// The factory's creator is a plain function: it reaches the fixture's fake through this pointer.
FakeSgSystem* currentSystem = nullptr;
QXAbstractProduct* createWithFake() { return new SgTargetImpl(*currentSystem); }

class SgDispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    system.addAdapter(0);
    system.addNode("sg0", 21, 0, "0:0:1:0");
    system.addNode("sg1", 21, 1, "0:0:2:0");
    currentSystem = &system;
    QXSingletonController& registry = QXSingletonController::instance();
    registry.registerSingleton(factoryName, &QXScsiFactory::createInstance, &QXScsiFactory::deleteInstance);
    static_cast<QXScsiFactory*>(registry.singleton(factoryName))
        ->registerScsiTargetImpl(&createWithFake, &SgTargetImpl::destroy);
  }
  void TearDown() override {
    QXSingletonController::instance().unregisterSingleton(factoryName);
    currentSystem = nullptr;
  }

  static QXScsiTarget::Parameters accessTarget() {
    QXScsiTarget::Parameters params;
    QXScsi::setParameter(QXScsi::accessScsiTargetParam(), "y", params);
    return params;
  }

  const std::string factoryName = typeid(QXScsiFactory).name();
  FakeSgSystem system;
};

TEST_F(SgDispatchTest, OpeningANodeTakesItsAddressFromSysfs) {
  QXScsiTarget target;
  QXScsiTarget::Parameters params = accessTarget();
  ASSERT_TRUE(target.initScsiTarget("/dev/sg1", QXScsiDevice("/dev/sg1"), -1, &params));
  QXScsiAddress address;
  ASSERT_TRUE(target.getScsiAddress(address));
  QXScsiLunAddress lun;
  ASSERT_TRUE(address.toLunAddress(lun));
  EXPECT_EQ(0, lun.bus());
  EXPECT_EQ(2, lun.target());
  EXPECT_EQ(0, lun.lun());
}

TEST_F(SgDispatchTest, ExclusiveAccessParameterOpensWithExcl) {
  QXScsiTarget target;
  QXScsiTarget::Parameters params;
  QXScsi::setParameter(QXScsi::exclusiveAccessParam(), "y", params);
  ASSERT_TRUE(target.initScsiTarget("/dev/sg0", QXScsiDevice("/dev/sg0"), -1, &params));
  EXPECT_EQ(O_EXCL, system.opens.at(0).flags & O_EXCL);
}

TEST_F(SgDispatchTest, FailedCommandReportsTheBackEndsError) {
  QXScsiTarget target;
  ASSERT_TRUE(target.initScsiTarget("/dev/sg0", QXScsiDevice("/dev/sg0"), -1, nullptr));
  system.onSgIo = [](int, sg_io_hdr_t&) { return -ENODEV; };
  const unsigned char tur[6] = {};
  QXScsiAnyArgs args(tur, 6);
  EXPECT_EQ(nullptr, target.cmdCall(args, 0));
  EXPECT_EQ(0, target.localError());
  EXPECT_EQ(deviceNotFound_c, target.implementationError());
  EXPECT_EQ(30000u, system.headers.at(0).timeout) << "the default descriptor's 30 seconds";
}

TEST_F(SgDispatchTest, AdapterNameWithAddressOpensTheLunAtTargetAccess) {
  QXScsiTarget target;
  QXScsiTarget::Parameters params = accessTarget();
  ASSERT_TRUE(target.initScsiTarget("//./scsi0:", QXScsiLunAddress(0, 2, 0), -1, &params));
  EXPECT_EQ("/dev/sg1", system.opens.at(0).path);

  QXScsiTarget missing;
  EXPECT_FALSE(missing.initScsiTarget("//./scsi0:", QXScsiLunAddress(0, 4, 0), -1, &params));
  EXPECT_EQ(deviceNotFound_c, missing.implementationError());
}

TEST_F(SgDispatchTest, AdapterNameByDeviceIgnoresItsMissingAddress) {
  QXScsiTarget target;
  QXScsiTarget::Parameters params = accessTarget();
  ASSERT_TRUE(target.initScsiTarget("//./scsi0:", QXScsiDevice("//./scsi0:"), -1, &params));
  EXPECT_TRUE(target.ignoreUndefinedAddress());
  QXScsiAddress address;
  EXPECT_FALSE(target.getScsiAddress(address));
  EXPECT_TRUE(system.opens.empty());

  // Without an address a command cannot pick a LUN.
  const unsigned char tur[6] = {};
  QXScsiAnyArgs args(tur, 6);
  EXPECT_EQ(nullptr, target.cmdCall(args, 0));
  EXPECT_EQ(invalidRequest_c, target.implementationError());
}

TEST_F(SgDispatchTest, CloseTwiceClosesOnce) {
  QXScsiTarget target;
  ASSERT_TRUE(target.initScsiTarget("/dev/sg0", QXScsiDevice("/dev/sg0"), -1, nullptr));
  EXPECT_TRUE(target.close(false));
  EXPECT_FALSE(target.close(false));
  EXPECT_EQ(notOpen_c, target.implementationError());
  EXPECT_EQ(1u, system.closed.size());
}

TEST_F(SgDispatchTest, AdoptedHandleSurvivesTheTarget) {
  int fd = system.open("/dev/sg0", O_RDWR);
  {
    QXScsiTarget target;
    ASSERT_TRUE(target.access(&fd));
    EXPECT_TRUE(target.getScsiTargetImpl()->implicitReleaseDisabled());
    EXPECT_EQ(fd, target.getScsiTargetImpl()->handle());
  }
  EXPECT_TRUE(system.closed.empty());
  EXPECT_EQ(1u, system.openDescriptors.count(fd));
}

TEST_F(SgDispatchTest, LastTargetReleasesTheNode) {
  {
    QXScsiTarget first;
    ASSERT_TRUE(first.initScsiTarget("/dev/sg0", QXScsiDevice("/dev/sg0"), -1, nullptr));
    QXScsiTarget second;
    second = first;
    EXPECT_FALSE(second.close(false)) << "shared: refused";
    EXPECT_TRUE(system.closed.empty());
  }
  EXPECT_EQ(1u, system.closed.size());
  EXPECT_TRUE(system.openDescriptors.empty());
}

}  // namespace
}  // namespace qxscsi::backends::sg
