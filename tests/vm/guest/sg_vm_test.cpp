// Runs inside the test VM: the SG back-end against a disk (0:0:1:0) and an empty CD-ROM (0:0:2:0)
// on an LSI 53C895A parallel SCSI adapter, cross-checked with sg3_utils.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qxscsi/backends/install.h"
#include "qxscsi/qxscsi.h"
#include "vm_support.h"

namespace {

using namespace QXScsiPlatform;
using qxscsi::test::CmdPtr;
using qxscsi::test::nodeAt;
using qxscsi::test::runTool;
using qxscsi::test::settle;

constexpr unsigned char checkCondition = 0x02;

class SgVmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    disk = nodeAt("0:0:1:0");
    cd = nodeAt("0:0:2:0");
    ASSERT_FALSE(disk.empty()) << "no sg node for the disk";
    ASSERT_FALSE(cd.empty()) << "no sg node for the CD";
  }

  std::string disk;
  std::string cd;
};

// Runs first: nothing but INQUIRY (which no unit attention holds up) reached the CD before.
TEST_F(SgVmTest, EmptyCdReportsUnitAttentionThenMediumNotPresent) {
  QXScsiSPITarget target(cd.c_str(), nullptr);
  ASSERT_TRUE(target.valid()) << target.implementationError();
  CmdPtr first(target.cmdTestUnitReady());
  ASSERT_TRUE(first);
  EXPECT_EQ(checkCondition, first->scsiStatus());
  QXScsiSenseData ua = first->senseData();
  EXPECT_EQ(0x06, ua.senseKey());
  EXPECT_EQ(0x29, ua.additionalSenseCode());
  EXPECT_EQ(0x00, ua.additionalSenseQualifier());

  CmdPtr second(target.cmdTestUnitReady());
  ASSERT_TRUE(second);
  EXPECT_EQ(checkCondition, second->scsiStatus());
  QXScsiSenseData notReady = second->senseData();
  EXPECT_EQ(0x02, notReady.senseKey());
  EXPECT_EQ(0x3a, notReady.additionalSenseCode());
}

TEST_F(SgVmTest, SixStandardCommandsOnTheDisk) {
  QXScsiSPITarget target(disk.c_str(), nullptr);
  ASSERT_TRUE(target.valid()) << target.implementationError();
  settle(target);

  unsigned char inquiry[96] = {};
  CmdPtr cmd(target.cmdInquiry(inquiry, sizeof inquiry));
  ASSERT_TRUE(cmd);
  EXPECT_EQ(0, cmd->scsiStatus());
  EXPECT_EQ(0x00, inquiry[0] & 0x1f) << "direct-access device";
  EXPECT_EQ(0, std::memcmp(inquiry + 16, "QEMU HARDDISK", 13));

  cmd.reset(target.cmdTestUnitReady());
  ASSERT_TRUE(cmd);
  EXPECT_EQ(0, cmd->scsiStatus());

  unsigned char sense[18];
  std::memset(sense, 0xff, sizeof sense);
  cmd.reset(target.cmdRequestSense(sense, sizeof sense));
  ASSERT_TRUE(cmd);
  EXPECT_EQ(0, cmd->scsiStatus());
  EXPECT_EQ(0x70, sense[0] & 0x7f);
  EXPECT_EQ(0x00, sense[2] & 0x0f) << "no sense pending";

  unsigned char luns[8];
  std::memset(luns, 0xff, sizeof luns);
  unsigned long count = sizeof luns;
  cmd.reset(target.cmdReportLuns(luns, &count));
  ASSERT_TRUE(cmd);
  EXPECT_EQ(0, cmd->scsiStatus());
  EXPECT_EQ(1u, count);
  EXPECT_EQ(0, luns[0]);

  // The emulated disk has no copy manager: both copy commands come back with ILLEGAL REQUEST.
  cmd.reset(target.cmdExtendedCopy(0, false, false, 0, nullptr, 0));
  ASSERT_TRUE(cmd);
  if (cmd->scsiStatus() != 0) {
    EXPECT_EQ(checkCondition, cmd->scsiStatus());
    EXPECT_EQ(0x05, cmd->senseData().senseKey());
  }
  unsigned char results[64] = {};
  cmd.reset(target.cmdReceiveCopyResults(3, 0, results, sizeof results));
  ASSERT_TRUE(cmd);
  if (cmd->scsiStatus() != 0) {
    EXPECT_EQ(checkCondition, cmd->scsiStatus());
    EXPECT_EQ(0x05, cmd->senseData().senseKey());
  }
}

TEST_F(SgVmTest, WriteThenReadTenThroughCmdCall) {
  QXScsiSPITarget target(disk.c_str(), nullptr);
  ASSERT_TRUE(target.valid());
  settle(target);

  std::vector<unsigned char> out(8 * 512), in(8 * 512, 0);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<unsigned char>(i * 7 + 3);
  const unsigned char write10[10] = {0x2a, 0, 0, 0, 0x01, 0x00, 0, 0, 8, 0};  // LBA 256, 8 blocks
  QXScsiAnyArgs writeArgs(write10, 10, out.data(), out.size(), 1);
  CmdPtr cmd(target.cmdCall(writeArgs, 0));
  ASSERT_TRUE(cmd) << target.implementationError();
  EXPECT_EQ(0, cmd->scsiStatus());

  const unsigned char read10[10] = {0x28, 0, 0, 0, 0x01, 0x00, 0, 0, 8, 0};
  QXScsiAnyArgs readArgs(read10, 10, in.data(), in.size(), 0);
  cmd.reset(target.cmdCall(readArgs, 5));
  ASSERT_TRUE(cmd);
  EXPECT_EQ(0, cmd->scsiStatus());
  EXPECT_EQ(out, in);

  // Reading past the end of the 64 MiB disk: ILLEGAL REQUEST, LBA out of range.
  const unsigned char beyond[10] = {0x28, 0, 0, 0x02, 0x00, 0x00, 0, 0, 1, 0};
  QXScsiAnyArgs beyondArgs(beyond, 10, in.data(), 512, 0);
  cmd.reset(target.cmdCall(beyondArgs, 0));
  ASSERT_TRUE(cmd);
  EXPECT_EQ(checkCondition, cmd->scsiStatus());
  EXPECT_EQ(0x05, cmd->senseData().senseKey());
  EXPECT_EQ(0x21, cmd->senseData().additionalSenseCode());
}

TEST_F(SgVmTest, ResidualOfAShortTransferIsOffered) {
  QXScsiSPITarget target(disk.c_str(), nullptr);
  ASSERT_TRUE(target.valid());
  // The list of supported VPD pages is far shorter than the 255 bytes asked for.
  unsigned char pages[255] = {};
  const unsigned char inquiry[6] = {0x12, 0x01, 0x00, 0x00, 0xff, 0x00};
  QXScsiAnyArgs args(inquiry, 6, pages, sizeof pages, 0);
  CmdPtr cmd(target.cmdCall(args, 0));
  ASSERT_TRUE(cmd);
  ASSERT_EQ(0, cmd->scsiStatus());
  qxscsi::backends::CommandFacts facts;
  ASSERT_TRUE(qxscsi::backends::lastCommand(target, facts));
  const int returned = ((pages[2] << 8) | pages[3]) + 4;
  ASSERT_LT(returned, 255);
  // The residual is what the driver counted; sym53c8xx on this adapter counts none (sg_raw agrees).
  const int residual = static_cast<int>(facts.residual);
  std::printf("residual of the supported-pages INQUIRY: %d (page list %d bytes)\n", residual, returned);
  EXPECT_GE(residual, 0);
  EXPECT_LE(residual, 255 - returned);
}

TEST_F(SgVmTest, SpiTargetByAdapterBusTargetLunReachesTheDisk) {
  QXScsiSPITarget target(static_cast<unsigned short>(0), 0, 1, 0, nullptr);
  ASSERT_TRUE(target.valid()) << target.implementationError();
  EXPECT_EQ(0, target.adapter());
  QXScsiAddress address;
  ASSERT_TRUE(target.getScsiAddress(address));
  QXScsiLunAddress lun;
  ASSERT_TRUE(address.toLunAddress(lun));
  EXPECT_EQ(1, lun.target());

  unsigned char inquiry[36] = {};
  CmdPtr cmd(target.cmdInquiry(inquiry, sizeof inquiry));
  ASSERT_TRUE(cmd);
  EXPECT_EQ(0, std::memcmp(inquiry + 16, "QEMU HARDDISK", 13));
  EXPECT_GT(target.handle(), 2);

  // The same adapter at target 2 is the CD; at target 5 there is nothing.
  QXScsiSPITarget cdTarget(static_cast<unsigned short>(0), 0, 2, 0, nullptr);
  cmd.reset(cdTarget.cmdInquiry(inquiry, sizeof inquiry));
  ASSERT_TRUE(cmd);
  EXPECT_EQ(0x05, inquiry[0] & 0x1f);
  QXScsiSPITarget nobody(static_cast<unsigned short>(0), 0, 5, 0, nullptr);
  EXPECT_EQ(nullptr, nobody.cmdInquiry(inquiry, sizeof inquiry));
  EXPECT_EQ(deviceNotFound_c, nobody.implementationError());
}

TEST_F(SgVmTest, AdapterNameHasNoAddressAndMissingAdapterFails) {
  QXScsiSPITarget adapter("//./scsi0:", nullptr);
  EXPECT_TRUE(adapter.valid()) << adapter.implementationError();
  QXScsiAddress address;
  EXPECT_FALSE(adapter.getScsiAddress(address));
  EXPECT_TRUE(adapter.ignoreUndefinedAddress());

  QXScsiSPITarget missing(static_cast<unsigned short>(7), 0, 1, 0, nullptr);
  EXPECT_FALSE(missing.valid());
  EXPECT_EQ(deviceNotFound_c, missing.implementationError());
}

TEST_F(SgVmTest, SpiTargetByNameKnowsItsAddress) {
  QXScsiSPITarget target(disk.c_str(), nullptr);
  ASSERT_TRUE(target.valid());
  EXPECT_EQ(0, target.adapter());
  EXPECT_GT(target.handle(), 2);
  QXScsiAddress address;
  ASSERT_TRUE(target.getScsiAddress(address));
  QXScsiLunAddress lun;
  ASSERT_TRUE(address.toLunAddress(lun));
  EXPECT_EQ(0, lun.bus());
  EXPECT_EQ(1, lun.target());
  EXPECT_EQ(0, lun.lun());
}

TEST_F(SgVmTest, ExclusiveAccessKeepsOthersOut) {
  QXScsiTarget::Parameters exclusive;
  QXScsi::setParameter(QXScsi::exclusiveAccessParam(), "y", exclusive);
  auto first = std::make_unique<QXScsiSPITarget>(disk.c_str(), &exclusive);
  ASSERT_TRUE(first->valid()) << first->implementationError();

  QXScsiTarget::Parameters again = exclusive;
  QXScsiSPITarget second(disk.c_str(), &again);
  EXPECT_FALSE(second.valid());
  EXPECT_EQ(deviceBusy_c, second.implementationError());
  QXScsiSPITarget shared(disk.c_str(), nullptr);
  EXPECT_FALSE(shared.valid()) << "an exclusive holder keeps ordinary openers out too";

  first.reset();
  QXScsiTarget::Parameters third = exclusive;
  QXScsiSPITarget later(disk.c_str(), &third);
  EXPECT_TRUE(later.valid()) << later.implementationError();
}

TEST_F(SgVmTest, AdoptedHandleStaysTheCallers) {
  int fd = ::open(disk.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  {
    QXScsiSPITarget target(fd, nullptr);
    ASSERT_TRUE(target.valid()) << target.implementationError();
    EXPECT_EQ(fd, target.handle());
    QXScsiAddress address;
    ASSERT_TRUE(target.getScsiAddress(address));
    settle(target);
    CmdPtr cmd(target.cmdTestUnitReady());
    ASSERT_TRUE(cmd);
    EXPECT_EQ(0, cmd->scsiStatus());
    EXPECT_TRUE(target.close(false));
  }
  EXPECT_NE(-1, ::fcntl(fd, F_GETFD)) << "the adopted descriptor was closed";
  ::close(fd);
}

TEST_F(SgVmTest, MissingNodeFailsClearly) {
  QXScsiSPITarget target("/dev/sg99", nullptr);
  EXPECT_FALSE(target.valid());
  EXPECT_EQ(deviceNotFound_c, target.implementationError());
  EXPECT_EQ(-1, target.handle());
}

TEST_F(SgVmTest, SecondReleaseIsHarmless) {
  QXScsiSPITarget target(disk.c_str(), nullptr);
  ASSERT_TRUE(target.valid());
  const int fd = target.handle();
  ASSERT_GT(fd, 2);
  EXPECT_TRUE(target.close(false));
  EXPECT_EQ(-1, ::fcntl(fd, F_GETFD)) << "the descriptor stayed open";
  EXPECT_FALSE(target.close(false));
  EXPECT_EQ(notOpen_c, target.implementationError());
  // Reopening after the double release works.
  bool wasOpen = false;
  EXPECT_TRUE(target.open(wasOpen, nullptr));
  EXPECT_GT(target.handle(), 2);
}

TEST_F(SgVmTest, InquiryEqualsSgInq) {
  for (const std::string& node : {disk, cd}) {
    QXScsiSPITarget target(node.c_str(), nullptr);
    ASSERT_TRUE(target.valid());
    unsigned char inquiry[96] = {};
    CmdPtr cmd(target.cmdInquiry(inquiry, sizeof inquiry));
    ASSERT_TRUE(cmd);
    const size_t length = inquiry[4] + 5u;
    std::string peer;
    ASSERT_TRUE(runTool("sg_inq --raw --len=96 " + node, peer));
    ASSERT_EQ(length, peer.size()) << node;
    EXPECT_EQ(0, std::memcmp(inquiry, peer.data(), length)) << node;
  }
}

TEST_F(SgVmTest, ReportLunsEqualsSgLuns) {
  QXScsiSPITarget target(disk.c_str(), nullptr);
  ASSERT_TRUE(target.valid());
  std::string peer;
  ASSERT_TRUE(runTool("sg_luns --raw " + disk, peer));
  ASSERT_GE(peer.size(), 8u);
  const auto* raw = reinterpret_cast<const unsigned char*>(peer.data());
  const unsigned long listLength = (raw[0] << 24) | (raw[1] << 16) | (raw[2] << 8) | raw[3];
  ASSERT_EQ(listLength + 8, peer.size());

  // The whole response through cmdCall, byte for byte.
  std::vector<unsigned char> full(peer.size() + 64, 0);
  const unsigned long allocation = full.size();
  const unsigned char reportLuns[12] = {0xa0,
                                        0,
                                        0,
                                        0,
                                        0,
                                        0,
                                        static_cast<unsigned char>(allocation >> 24),
                                        static_cast<unsigned char>(allocation >> 16),
                                        static_cast<unsigned char>(allocation >> 8),
                                        static_cast<unsigned char>(allocation),
                                        0,
                                        0};
  QXScsiAnyArgs args(reportLuns, 12, full.data(), full.size(), 0);
  CmdPtr cmd(target.cmdCall(args, 0));
  ASSERT_TRUE(cmd);
  EXPECT_EQ(0, cmd->scsiStatus());
  EXPECT_EQ(0, std::memcmp(full.data(), raw, peer.size()));

  // The standard command's one byte per logical unit.
  unsigned char luns[16];
  unsigned long count = sizeof luns;
  cmd.reset(target.cmdReportLuns(luns, &count));
  ASSERT_TRUE(cmd);
  ASSERT_EQ(listLength / 8, count);
  for (unsigned long i = 0; i < count; ++i) EXPECT_EQ(raw[8 + 8 * i + 1], luns[i]);
}

}  // namespace
