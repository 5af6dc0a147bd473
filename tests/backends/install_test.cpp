// Set-up and tear-down of the back-ends, and routing of device names through real targets.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qxpattern/singleton.h"
#include "qxscsi/backends/install.h"
#include "qxscsi/commands.h"
#include "qxscsi/target.h"

namespace qxscsi::backends {
namespace {

using QXScsiPlatform::deviceBusy_c;
using QXScsiPlatform::invalidRequest_c;
using QXScsiPlatform::unknownDeviceName_c;
using Bytes = std::vector<unsigned char>;

// A back-end that takes names beginning with "fake:" and counts what it is asked.
class CountingBackend : public Backend {
 public:
  explicit CountingBackend(int* created) : created_(created) {}
  const char* name() const override { return "fake"; }
  bool takes(const std::string& n) const override { return n.rfind("fake:", 0) == 0; }
  std::unique_ptr<QXScsiTargetImpl> create(const std::string&) override {
    ++*created_;
    return nullptr;  // behaves as a back-end out of resources
  }

 private:
  int* created_;
};

class InstallTest : public ::testing::Test {
 protected:
  // Opens `name` the way a target opened by name does: parameters, then device access.
  static bool open(QXScsiTarget& t, const char* name, const char* exclusive = nullptr) {
    QXScsiTarget::Parameters params;
    QXScsi::setParameter("access_target", "y", params);
    if (exclusive) QXScsi::setParameter("exclusive_access", exclusive, params);
    return t.initScsiTarget(name, QXScsiDevice(std::string(name)), -1, &params);
  }

  static std::string hint(QXScsiTarget& t) {
    std::string h;
    t.implementationErrorHint(h);
    return h;
  }

  // Runs a 10-byte READ or WRITE of one block at `lba` through cmdCall.
  static bool block(QXScsiTarget& t, bool write, unsigned lba, Bytes& data) {
    unsigned char cdb[10] = {static_cast<unsigned char>(write ? 0x2A : 0x28),
                             0,
                             0,
                             0,
                             0,
                             static_cast<unsigned char>(lba),
                             0,
                             0,
                             1,
                             0};
    QXScsiAnyArgs args(cdb, 10, data.data(), data.size(), write ? 1 : 0);
    QXScsiCmd* cmd = t.cmdCall(args, 0);
    bool ok = cmd && cmd->scsiStatus() == 0;
    QXScsiFreeCmd(cmd);
    return ok;
  }

  std::unique_ptr<Installation> installation = install();
};

TEST_F(InstallTest, RegistersTheFactoryAndRemovesItAtTearDown) {
  ASSERT_NE(installation, nullptr);
  EXPECT_EQ(Installation::current(), installation.get());
  EXPECT_NE(QXSingletonController::instance().singleton("13QXScsiFactory"), nullptr);
  installation.reset();
  EXPECT_EQ(Installation::current(), nullptr);
  EXPECT_EQ(QXSingletonController::instance().singleton("13QXScsiFactory"), nullptr);
}

TEST_F(InstallTest, OneInstallationAtATime) {
  EXPECT_EQ(install(), nullptr);
  EXPECT_EQ(Installation::current(), installation.get());  // the refused one undid nothing of ours
  installation.reset();
  installation = install();
  EXPECT_NE(installation, nullptr);
}

TEST_F(InstallTest, OpensEveryEmulatedTypeAndReportsItsAddress) {
  for (const char* name :
       {"emulated:disk", "emulated:tape", "emulated:changer", "emulated:disk?luns=4&lun=3&target=5"}) {
    QXScsiTarget t;
    ASSERT_TRUE(open(t, name)) << name << ": " << hint(t);
    EXPECT_TRUE(t.valid());
    QXScsiAddress a;
    ASSERT_TRUE(t.getScsiAddress(a)) << name;
    QXScsiLunAddress lun;
    ASSERT_TRUE(a.toLunAddress(lun));
    EXPECT_EQ(lun.bus(), 0);
    EXPECT_EQ(lun.target(), std::strchr(name, '?') ? 5 : 0) << name;
    EXPECT_EQ(lun.lun(), std::strchr(name, '?') ? 3 : 0) << name;
  }
}

TEST_F(InstallTest, UnknownNameFailsAccessWithAClearHint) {
  QXScsiTarget t;
  EXPECT_FALSE(open(t, "nowhere:disk"));
  EXPECT_FALSE(t.valid());
  EXPECT_EQ(t.implementationError(), unknownDeviceName_c);
  EXPECT_NE(hint(t).find("nowhere:disk"), std::string::npos) << hint(t);
  EXPECT_NE(hint(t).find("emulated"), std::string::npos) << hint(t);
  // The next command tries again and fails the same way, without a record.
  unsigned char cdb[6] = {};
  QXScsiAnyArgs args(cdb, 6);
  EXPECT_EQ(t.cmdCall(args, 0), nullptr);
  EXPECT_EQ(t.implementationError(), unknownDeviceName_c);
}

TEST_F(InstallTest, EmptyNameAndBadOptionsFailWithTheirReason) {
  QXScsiTarget empty;
  EXPECT_FALSE(empty.initScsiTarget("", QXScsiDevice(), -1, nullptr));
  EXPECT_EQ(empty.implementationError(), unknownDeviceName_c);

  QXScsiTarget t;
  EXPECT_FALSE(open(t, "emulated:disk?colour=red"));
  EXPECT_EQ(t.implementationError(), invalidRequest_c);
  EXPECT_NE(hint(t).find("unknown option \"colour\""), std::string::npos) << hint(t);
  EXPECT_FALSE(open(t, "emulated:floppy"));
  EXPECT_NE(hint(t).find("floppy"), std::string::npos) << hint(t);
  EXPECT_FALSE(open(t, "emulated:disk?luns=2&lun=2"));
  EXPECT_NE(hint(t).find("lun 2 does not exist"), std::string::npos) << hint(t);
}

TEST_F(InstallTest, WithoutInstallationNoImplementationIsMade) {
  installation.reset();
  QXScsiTarget t;
  EXPECT_FALSE(open(t, "emulated:disk"));
  EXPECT_EQ(t.implementationError(), -4);
}

TEST_F(InstallTest, TwoTargetsOnOneNameShareTheMedia) {
  QXScsiTarget writer, reader, other;
  ASSERT_TRUE(open(writer, "emulated:disk"));
  ASSERT_TRUE(open(reader, "emulated:disk?block=512"));  // the same device, default spelled out
  ASSERT_TRUE(open(other, "emulated:disk?id=other"));
  Bytes data(512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7);
  ASSERT_TRUE(block(writer, true, 9, data));
  Bytes back(512, 0xEE);
  ASSERT_TRUE(block(reader, false, 9, back));
  EXPECT_EQ(back, data);
  ASSERT_TRUE(block(other, false, 9, back));
  EXPECT_EQ(back, Bytes(512, 0));
}

TEST_F(InstallTest, MediaLastAsLongAsTheInstallation) {
  Bytes data(512, 0x5A), back(512, 0xEE);
  {
    QXScsiTarget t;
    ASSERT_TRUE(open(t, "emulated:disk"));
    ASSERT_TRUE(block(t, true, 1, data));
  }
  {
    QXScsiTarget t;  // every target gone, the installation keeps the device
    ASSERT_TRUE(open(t, "emulated:disk"));
    ASSERT_TRUE(block(t, false, 1, back));
    EXPECT_EQ(back, data);
  }
  installation.reset();
  installation = install();
  QXScsiTarget t;
  ASSERT_TRUE(open(t, "emulated:disk"));
  ASSERT_TRUE(block(t, false, 1, back));
  EXPECT_EQ(back, Bytes(512, 0));
}

TEST_F(InstallTest, ExclusiveAccessIsHonoured) {
  QXScsiTarget first, second, otherLun;
  ASSERT_TRUE(open(first, "emulated:tape?luns=2", "y"));
  EXPECT_FALSE(open(second, "emulated:tape?luns=2"));
  EXPECT_EQ(second.implementationError(), deviceBusy_c);
  EXPECT_NE(hint(second).find("exclusive"), std::string::npos) << hint(second);
  EXPECT_TRUE(open(otherLun, "emulated:tape?luns=2&lun=1"));  // other units stay free
  EXPECT_TRUE(first.close(false));
  EXPECT_TRUE(open(second, "emulated:tape?luns=2"));
  QXScsiTarget third;
  EXPECT_FALSE(open(third, "emulated:tape?luns=2", "y"));  // shared opening blocks exclusive use
  EXPECT_EQ(third.implementationError(), deviceBusy_c);
}

TEST_F(InstallTest, ReopeningReleasesFirstSoExclusiveUseSurvivesIt) {
  QXScsiTarget t;
  ASSERT_TRUE(open(t, "emulated:disk", "y"));
  bool wasOpen = false;
  EXPECT_TRUE(t.open(wasOpen, nullptr));
  EXPECT_TRUE(wasOpen);
}

TEST_F(InstallTest, ShortBufferTakesWhatFitsAndReportsTheOverflow) {
  // Was: refused without a record (-15). A real disk sends what fits and reports the rest.
  QXScsiTarget t;
  ASSERT_TRUE(open(t, "emulated:disk"));
  Bytes data(512, 0x5C);
  ASSERT_TRUE(block(t, true, 1, data));
  unsigned char cdb[10] = {0x28, 0, 0, 0, 0, 0, 0, 0, 2, 0};  // two blocks
  Bytes buffer(1000, 0xEE);
  QXScsiAnyArgs args(cdb, 10, buffer.data(), 1000, 0);
  QXScsiCmd* cmd = t.cmdCall(args, 0);
  ASSERT_NE(cmd, nullptr) << hint(t);
  EXPECT_EQ(cmd->scsiStatus(), 0);
  QXScsiFreeCmd(cmd);
  CommandFacts facts;
  ASSERT_TRUE(lastCommand(t, facts));
  EXPECT_TRUE(facts.overflow);
  EXPECT_EQ(facts.residual, 24u);
  EXPECT_EQ(facts.requested, 1000u);
  EXPECT_EQ(facts.transferred, 1000u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 512), Bytes(512, 0));
  EXPECT_EQ(Bytes(buffer.begin() + 512, buffer.end()), Bytes(488, 0x5C));
}

TEST_F(InstallTest, TargetOutlivingTheInstallationKeepsItsDeviceButOpensNoNewName) {
  QXScsiTarget t;
  ASSERT_TRUE(open(t, "emulated:disk"));
  Bytes data(512, 0x33), back(512, 0);
  ASSERT_TRUE(block(t, true, 0, data));
  installation.reset();
  ASSERT_TRUE(block(t, false, 0, back));
  EXPECT_EQ(back, data);
  bool wasOpen = false;
  EXPECT_FALSE(t.open(wasOpen, nullptr));
  EXPECT_NE(hint(t).find("torn down"), std::string::npos) << hint(t);
}

TEST_F(InstallTest, CustomBackEndListAndABackEndThatMakesNothing) {
  installation.reset();
  int created = 0;
  std::vector<std::unique_ptr<Backend>> list;
  list.push_back(std::make_unique<CountingBackend>(&created));
  installation = install(std::move(list));
  ASSERT_NE(installation, nullptr);
  EXPECT_EQ(installation->backendFor("emulated:disk"), nullptr);
  QXScsiTarget t;
  EXPECT_FALSE(open(t, "fake:thing"));
  EXPECT_EQ(created, 1);
  EXPECT_EQ(t.implementationError(), QXScsiPlatform::outOfResources_c);
  EXPECT_FALSE(open(t, "emulated:disk"));
  EXPECT_EQ(t.implementationError(), unknownDeviceName_c);
}

TEST_F(InstallTest, RoutedImplementationIsTheBackEndsOwn) {
  EXPECT_EQ(routedImplementation(nullptr), nullptr);
  QXScsiTarget t;
  QXScsiTargetImpl* router = t.getScsiTargetImpl();
  ASSERT_NE(router, nullptr);
  EXPECT_EQ(routedImplementation(router), nullptr);  // nothing routed yet
  ASSERT_TRUE(open(t, "emulated:disk"));
  QXScsiTargetImpl* routed = routedImplementation(router);
  ASSERT_NE(routed, nullptr);
  EXPECT_NE(routed, router);
  EXPECT_EQ(routedImplementation(routed), routed);
  EXPECT_EQ(routed->adapter(), 0);
}

TEST_F(InstallTest, ListsTheEmulatedDevices) {
  std::vector<DeviceGroup> groups;
  std::string error;
  ASSERT_TRUE(installation->list("", 10, groups, error)) << error;
  std::vector<std::string> names;
  for (const DeviceGroup& g : groups) names.insert(names.end(), g.devices.begin(), g.devices.end());
  EXPECT_EQ(names, (std::vector<std::string>{"emulated:disk", "emulated:tape", "emulated:changer"}));
}

}  // namespace
}  // namespace qxscsi::backends
