// The SG target implementation against a scripted system: opening, addressing, commands, release.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "sg_target.h"
#include "qxscsi/commands.h"
#include "qxscsi/devices.h"
#include "qxscsi/sense.h"
#include "support/fake_sg_system.h"

namespace qxscsi::backends::sg {
namespace {

using namespace QXScsiPlatform;
using testing::FakeSgSystem;

class SgTargetImplTest : public ::testing::Test {
 protected:
  void SetUp() override {
    system.addAdapter(0);
    system.addNode("sg0", 21, 0, "0:0:1:0");
    system.addNode("sg1", 21, 1, "0:0:2:0");
    system.addNode("sg2", 21, 2, "1:0:1:0");
  }

  std::unique_ptr<QXScsiCmd> inquiry(const QXScsiAddress& address = QXScsiAddress()) {
    static const unsigned char cdb[6] = {0x12, 0, 0, 0, 96, 0};
    std::unique_ptr<QXScsiCmd> cmd(new QXScsiCmd(cdb, 6, buffer, sizeof buffer, 0));
    cmd->setTimeout(7);
    cmd->setScsiAddress(address);
    return cmd;
  }

  static bool lunOf(const QXScsiAddress& a, unsigned& bus, unsigned& target, unsigned& lun) {
    QXScsiLunAddress l;
    if (!a.toLunAddress(l)) return false;
    bus = l.bus();
    target = l.target();
    lun = l.lun();
    return true;
  }

  FakeSgSystem system;
  SgTargetImpl impl{system};
  unsigned char buffer[96] = {};
  QXScsiDevice device;
};

TEST_F(SgTargetImplTest, NodeOpenGivesHandleAdapterAndAddress) {
  ASSERT_TRUE(impl.access("/dev/sg1", -1));
  EXPECT_GT(impl.handle(), 2);
  EXPECT_EQ(0, impl.adapter());
  EXPECT_EQ(0, impl.implementationError());
  QXScsiAddress address;
  bool flag = false;
  ASSERT_TRUE(impl.getScsiAddress(address, flag));
  EXPECT_TRUE(address.defined());
  unsigned bus, target, lun;
  ASSERT_TRUE(lunOf(address, bus, target, lun));
  EXPECT_EQ(0u, bus);
  EXPECT_EQ(2u, target);
  EXPECT_EQ(0u, lun);
  EXPECT_EQ(O_RDWR | O_NONBLOCK | O_CLOEXEC, system.opens.at(0).flags);
}

TEST_F(SgTargetImplTest, ExclusiveAccessAndBusyNode) {
  ASSERT_TRUE(impl.accessExclusive("/dev/sg0", -1));
  EXPECT_EQ(O_RDWR | O_NONBLOCK | O_CLOEXEC | O_EXCL, system.opens.at(0).flags);
  ASSERT_TRUE(impl.release());

  system.readWriteErrors["/dev/sg0"] = EBUSY;
  EXPECT_FALSE(impl.accessExclusive("/dev/sg0", -1));
  EXPECT_EQ(deviceBusy_c, impl.implementationError());
  EXPECT_EQ(-1, impl.handle());
  std::string message;
  impl.implementationErrorMsg(message);
  EXPECT_EQ("cannot open /dev/sg0: busy (open for exclusive use)", message);
}

TEST_F(SgTargetImplTest, MissingNodeAndUnknownNamesFail) {
  EXPECT_FALSE(impl.access("/dev/sg7", -1));
  EXPECT_EQ(deviceNotFound_c, impl.implementationError());
  EXPECT_EQ(-1, impl.handle());
  EXPECT_EQ(-1, impl.adapter());
  for (const char* name : {"", "sg0", "//./nonsense", "//./scsi70000:", "/nowhere/sg9"}) {
    EXPECT_FALSE(impl.access(name, -1)) << name;
    EXPECT_EQ(unknownDeviceName_c, impl.implementationError()) << name;
  }
  EXPECT_FALSE(impl.access(nullptr, -1));
  EXPECT_TRUE(system.openDescriptors.empty());
}

TEST_F(SgTargetImplTest, NotOpenRefusesEverything) {
  std::unique_ptr<QXScsiCmd> cmd = inquiry();
  EXPECT_FALSE(impl.executeCommand(*cmd, device));
  EXPECT_EQ(notOpen_c, impl.implementationError());
  QXScsiAddress address;
  bool flag = true;
  EXPECT_FALSE(impl.getScsiAddress(address, flag));
  EXPECT_EQ(notOpen_c, impl.implementationError());
  EXPECT_FALSE(impl.accessScsiTarget(QXScsiLunAddress(0, 1, 0)));
  EXPECT_FALSE(impl.release());
  EXPECT_EQ(notOpen_c, impl.implementationError());
  EXPECT_TRUE(system.headers.empty());
}

TEST_F(SgTargetImplTest, CommandUsesCallersBuffersAndReturnsStatusSenseResidual) {
  ASSERT_TRUE(impl.access("/dev/sg1", -1));
  system.onSgIo = [](int, sg_io_hdr_t& h) {
    h.status = 0x02;
    h.sb_len_wr = 18;
    std::memset(h.sbp, 0x55, h.mx_sb_len);  // bytes beyond sb_len_wr must not reach the record
    std::memset(h.sbp, 0, 18);
    h.sbp[0] = 0x70;
    h.sbp[2] = 0x02;
    h.sbp[7] = 10;
    h.sbp[12] = 0x3a;
    h.resid = 60;
    h.driver_status = 0x08;
    return 0;
  };
  std::unique_ptr<QXScsiCmd> cmd = inquiry();
  ASSERT_TRUE(impl.executeCommand(*cmd, device));
  const sg_io_hdr_t& h = system.headers.at(0);
  EXPECT_EQ(impl.handle(), system.ioDescriptors.at(0));
  EXPECT_EQ(static_cast<void*>(buffer), h.dxferp);
  const unsigned char* cdb;
  unsigned char cdbLength;
  cmd->getCDB(cdb, cdbLength);
  EXPECT_EQ(cdb, h.cmdp);
  EXPECT_EQ(7000u, h.timeout);
  EXPECT_EQ(0x02, cmd->scsiStatus());
  QXScsiSenseData sense = cmd->senseData();
  unsigned char* bytes;
  unsigned char length;
  sense.getBuffer(bytes, length);
  EXPECT_EQ(0x70, bytes[0]);
  EXPECT_EQ(0x02, sense.senseKey());
  EXPECT_EQ(0x3a, sense.additionalSenseCode());
  EXPECT_EQ(0x00, bytes[18]) << "only the bytes the driver wrote are stored";
  EXPECT_EQ(0, cmd->implementationError());
  qxscsi::backends::CommandFacts facts;
  ASSERT_TRUE(impl.lastCommand(facts));
  EXPECT_EQ(60u, facts.residual);
}

TEST_F(SgTargetImplTest, TransportFailureFailsTheCommand) {
  ASSERT_TRUE(impl.access("/dev/sg1", -1));
  system.onSgIo = [](int, sg_io_hdr_t& h) {
    h.host_status = 0x03;
    return 0;
  };
  std::unique_ptr<QXScsiCmd> cmd = inquiry();
  EXPECT_FALSE(impl.executeCommand(*cmd, device));
  EXPECT_EQ(commandTimeout_c, impl.implementationError());
  std::string hint;
  impl.implementationErrorHint(hint);
  EXPECT_NE(std::string::npos, hint.find("host status 3"));

  system.onSgIo = nullptr;  // the next good command clears the error
  ASSERT_TRUE(impl.executeCommand(*cmd, device));
  EXPECT_EQ(0, impl.implementationError());
  hint = "kept";
  impl.implementationErrorHint(hint);
  EXPECT_EQ("kept", hint);
}

TEST_F(SgTargetImplTest, ReleaseClosesOwnDescriptorOnceAndIsHarmlessTwice) {
  ASSERT_TRUE(impl.access("/dev/sg0", -1));
  int fd = impl.handle();
  EXPECT_TRUE(impl.release());
  EXPECT_FALSE(impl.release());
  EXPECT_EQ(notOpen_c, impl.implementationError());
  ASSERT_EQ(1u, system.closed.size());
  EXPECT_EQ(fd, system.closed[0]);
  EXPECT_EQ(-1, impl.handle());
}

TEST_F(SgTargetImplTest, ReopenWithoutReleaseClosesTheFirstNode) {
  ASSERT_TRUE(impl.access("/dev/sg0", -1));
  ASSERT_TRUE(impl.access("/dev/sg1", -1));
  EXPECT_EQ(1u, system.openDescriptors.size());
  EXPECT_EQ("/dev/sg1", system.openDescriptors.begin()->second);
}

TEST_F(SgTargetImplTest, DestructionClosesWhatItOpened) {
  {
    SgTargetImpl local(system);
    ASSERT_TRUE(local.access("/dev/sg0", -1));
    ASSERT_TRUE(local.access("//./scsi0:", -1));
    ASSERT_TRUE(local.accessScsiTarget(QXScsiLunAddress(0, 2, 0)));
    EXPECT_EQ(1u, system.openDescriptors.size());
  }
  EXPECT_TRUE(system.openDescriptors.empty());
}

TEST_F(SgTargetImplTest, AdoptedHandleStaysOpen) {
  int fd = system.open("/dev/sg1", O_RDWR);  // the caller's own descriptor
  impl.access(&fd);
  impl.disableImplicitRelease();
  EXPECT_EQ(fd, impl.handle());
  QXScsiAddress address;
  bool flag;
  ASSERT_TRUE(impl.getScsiAddress(address, flag));
  unsigned bus, target, lun;
  ASSERT_TRUE(lunOf(address, bus, target, lun));
  EXPECT_EQ(2u, target);
  std::unique_ptr<QXScsiCmd> cmd = inquiry();
  ASSERT_TRUE(impl.executeCommand(*cmd, device));
  EXPECT_EQ(fd, system.ioDescriptors.at(0));

  EXPECT_TRUE(impl.release());
  EXPECT_FALSE(impl.release());
  EXPECT_TRUE(system.closed.empty());
  EXPECT_EQ(1u, system.openDescriptors.count(fd));
}

TEST_F(SgTargetImplTest, DroppingTheHandleKeepsTheOpeningError) {
  EXPECT_FALSE(impl.access("/dev/sg7", -1));
  int none = -1;
  impl.access(&none);
  EXPECT_EQ(deviceNotFound_c, impl.implementationError());
  EXPECT_EQ(-1, impl.handle());

  ASSERT_TRUE(impl.access("/dev/sg0", -1));
  impl.access(&none);  // drops an open node: closes it, since it was opened here
  EXPECT_EQ(-1, impl.handle());
  EXPECT_TRUE(system.openDescriptors.empty());
  impl.access(static_cast<void*>(nullptr));
}

TEST_F(SgTargetImplTest, AdapterNameOpensNoNodeAndHasNoAddress) {
  EXPECT_FALSE(impl.access("//./scsi3:", -1));
  EXPECT_EQ(deviceNotFound_c, impl.implementationError());

  ASSERT_TRUE(impl.access("//./scsi0:", -1));
  EXPECT_TRUE(system.opens.empty());
  EXPECT_EQ(-1, impl.handle());
  EXPECT_EQ(0, impl.adapter());
  QXScsiAddress address;
  bool flag;
  EXPECT_FALSE(impl.getScsiAddress(address, flag));
  EXPECT_EQ(noScsiAddress_c, impl.implementationError());
  EXPECT_FALSE(impl.accessScsiTarget(QXScsiDevice("//./scsi0:")));
  EXPECT_EQ(targetAccessNotApplicable_c, impl.implementationError());
}

TEST_F(SgTargetImplTest, AdapterCommandGoesToTheNodeOfTheRecordsAddress) {
  ASSERT_TRUE(impl.access("//./scsi0:", -1));
  std::unique_ptr<QXScsiCmd> cmd = inquiry(QXScsiLunAddress(0, 2, 0));
  ASSERT_TRUE(impl.executeCommand(*cmd, device));
  ASSERT_TRUE(impl.executeCommand(*cmd, device));
  ASSERT_EQ(1u, system.opens.size()) << "the LUN's node is opened once";
  EXPECT_EQ("/dev/sg1", system.opens[0].path);
  EXPECT_EQ(impl.handle(), system.ioDescriptors.at(1));

  cmd = inquiry(QXScsiLunAddress(0, 1, 0));
  ASSERT_TRUE(impl.executeCommand(*cmd, device));
  EXPECT_EQ("/dev/sg0", system.opens.at(1).path);
  EXPECT_EQ(impl.handle(), system.ioDescriptors.at(2));

  EXPECT_TRUE(impl.release());
  EXPECT_EQ(2u, system.closed.size());
  EXPECT_TRUE(system.openDescriptors.empty());
}

TEST_F(SgTargetImplTest, AdapterCommandNeedsAnExistingLunAddress) {
  ASSERT_TRUE(impl.access("//./scsi0:", -1));
  std::unique_ptr<QXScsiCmd> cmd = inquiry();
  EXPECT_FALSE(impl.executeCommand(*cmd, device));
  EXPECT_EQ(invalidRequest_c, impl.implementationError());
  cmd = inquiry(QXScsiAddress(QXScsiAddress::byteMethod));
  EXPECT_FALSE(impl.executeCommand(*cmd, device));
  EXPECT_EQ(invalidRequest_c, impl.implementationError());
  cmd = inquiry(QXScsiLunAddress(0, 5, 0));
  EXPECT_FALSE(impl.executeCommand(*cmd, device));
  EXPECT_EQ(deviceNotFound_c, impl.implementationError());
  cmd = inquiry(QXScsiLunAddress(1, 1, 0));  // 1:0:1:0 is on another host: here bus 1 of host 0
  EXPECT_FALSE(impl.executeCommand(*cmd, device));
  EXPECT_EQ(deviceNotFound_c, impl.implementationError());
  EXPECT_TRUE(system.headers.empty());
}

TEST_F(SgTargetImplTest, AdapterTargetAccessOpensTheLunExclusively) {
  ASSERT_TRUE(impl.accessExclusive("//./scsi0:", -1));
  EXPECT_FALSE(impl.accessScsiTarget(QXScsiLunAddress(0, 9, 0)));
  EXPECT_EQ(deviceNotFound_c, impl.implementationError());
  system.readWriteErrors["/dev/sg1"] = EBUSY;
  EXPECT_FALSE(impl.accessScsiTarget(QXScsiLunAddress(0, 2, 0)));
  EXPECT_EQ(deviceBusy_c, impl.implementationError());
  ASSERT_TRUE(impl.accessScsiTarget(QXScsiLunAddress(0, 1, 0)));
  EXPECT_EQ(O_RDWR | O_NONBLOCK | O_CLOEXEC | O_EXCL, system.opens.back().flags);
  EXPECT_GT(impl.handle(), 2);
}

TEST_F(SgTargetImplTest, NodeTargetAccessChecksTheNodesOwnAddress) {
  ASSERT_TRUE(impl.access("/dev/sg1", -1));
  EXPECT_TRUE(impl.accessScsiTarget(QXScsiLunAddress(0, 2, 0)));
  EXPECT_TRUE(impl.accessScsiTarget(QXScsiDevice("/dev/sg1")));
  EXPECT_FALSE(impl.accessScsiTarget(QXScsiLunAddress(0, 1, 0)));
  EXPECT_EQ(deviceNotFound_c, impl.implementationError());
  EXPECT_FALSE(impl.accessScsiTarget(QXScsiAddress(QXScsiAddress::otherMethod)));
  EXPECT_EQ(targetAccessNotApplicable_c, impl.implementationError());
}

TEST_F(SgTargetImplTest, NodeWithoutSysfsAddressAnswersNoAddress) {
  NodeNumber number;
  number.major = 10;
  system.nodes["/dev/odd"] = number;
  ASSERT_TRUE(impl.access("/dev/odd", -1));
  EXPECT_EQ(-1, impl.adapter());
  QXScsiAddress address;
  bool flag;
  EXPECT_FALSE(impl.getScsiAddress(address, flag));
  EXPECT_EQ(noScsiAddress_c, impl.implementationError());
  EXPECT_FALSE(address.defined());
}

TEST_F(SgTargetImplTest, LunsBeyondOneByteHaveNoBusTargetLunAddress) {
  system.addNode("sg5", 21, 5, "0:0:1:256");
  ASSERT_TRUE(impl.access("/dev/sg5", -1));
  QXScsiAddress address;
  bool flag;
  EXPECT_FALSE(impl.getScsiAddress(address, flag));
  EXPECT_EQ(noScsiAddress_c, impl.implementationError());
}

}  // namespace
}  // namespace qxscsi::backends::sg
