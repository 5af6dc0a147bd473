// Opening SCSI generic nodes, finding them through sysfs and parsing their names.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "qxscsiplatform/errors.h"
#include "sg_node.h"
#include "support/fake_sg_system.h"

namespace qxscsi::backends::sg {
namespace {

using namespace QXScsiPlatform;
using testing::FakeSgSystem;

class SgNodeTest : public ::testing::Test {
 protected:
  FakeSgSystem system;
};

TEST_F(SgNodeTest, ScsiIdParsesWholeTextOnly) {
  ScsiId id;
  ASSERT_TRUE(parseScsiId("2:0:15:7", id));
  EXPECT_EQ(2u, id.host);
  EXPECT_EQ(0u, id.channel);
  EXPECT_EQ(15u, id.id);
  EXPECT_EQ(7u, id.lun);
  ASSERT_TRUE(parseScsiId("0:0:1:281474976710656", id));
  EXPECT_EQ(281474976710656ull, id.lun);

  ScsiId untouched;
  untouched.host = 9;
  for (const char* bad : {"", "0:0:1", "0:0:1:", "0:0:1:0:0", "a:0:1:0", "-1:0:1:0", "0:0:1:0x", " 0:0:1:0",
                          "4294967296:0:1:0", "0:0:1:18446744073709551616", "0::1:0"}) {
    EXPECT_FALSE(parseScsiId(bad, untouched)) << bad;
    EXPECT_EQ(9u, untouched.host) << bad;
  }
}

TEST_F(SgNodeTest, AdapterNameNeedsExactForm) {
  unsigned adapter = 99;
  ASSERT_TRUE(parseAdapterName("//./scsi0:", adapter));
  EXPECT_EQ(0u, adapter);
  ASSERT_TRUE(parseAdapterName("//./scsi65535:", adapter));
  EXPECT_EQ(65535u, adapter);
  adapter = 99;
  for (const char* bad : {"//./scsi65536:", "//./scsi:", "//./scsi0", "//./scsi0:x",
                          "//./scsi-1:", "/dev/sg0", "//./SCSI0:", "//./scsi 0:", ""}) {
    EXPECT_FALSE(parseAdapterName(bad, adapter)) << bad;
    EXPECT_EQ(99u, adapter) << bad;
  }
}

TEST_F(SgNodeTest, OpenReadWriteNonBlockingAboveStandardDescriptors) {
  system.addNode("sg0", 21, 0, "0:0:1:0");
  int fd = openNode(system, "/dev/sg0", false);
  EXPECT_GT(fd, 2);
  ASSERT_EQ(1u, system.opens.size());
  EXPECT_EQ(O_RDWR | O_NONBLOCK | O_CLOEXEC, system.opens[0].flags);
}

TEST_F(SgNodeTest, ExclusiveOpenAddsExclAndReportsBusy) {
  system.addNode("sg0", 21, 0, "0:0:1:0");
  EXPECT_GT(openNode(system, "/dev/sg0", true), 2);
  EXPECT_EQ(O_RDWR | O_NONBLOCK | O_CLOEXEC | O_EXCL, system.opens[0].flags);

  system.readWriteErrors["/dev/sg0"] = EBUSY;
  EXPECT_EQ(deviceBusy_c, openNode(system, "/dev/sg0", true));
  EXPECT_EQ(2u, system.opens.size()) << "busy is not retried read-only";
}

TEST_F(SgNodeTest, ReadOnlyFallbackWhenWritingIsRefused) {
  system.addNode("st0", 9, 0, "0:0:3:0");
  for (int refusal : {EACCES, EROFS, EPERM}) {
    system.opens.clear();
    system.readWriteErrors["/dev/st0"] = refusal;
    EXPECT_GT(openNode(system, "/dev/st0", true), 2);
    ASSERT_EQ(2u, system.opens.size());
    EXPECT_EQ(O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_EXCL, system.opens[1].flags);
  }
  system.opens.clear();
  system.readOnlyErrors["/dev/st0"] = EACCES;
  EXPECT_EQ(accessDenied_c, openNode(system, "/dev/st0", false));
}

TEST_F(SgNodeTest, OpenFailuresMapToImplementationErrors) {
  EXPECT_EQ(deviceNotFound_c, openNode(system, "/dev/sg9", false));
  EXPECT_EQ(1u, system.opens.size()) << "a missing node is not retried read-only";
  system.addNode("sg0", 21, 0, "0:0:1:0");
  system.readWriteErrors["/dev/sg0"] = ENXIO;
  EXPECT_EQ(deviceNotFound_c, openNode(system, "/dev/sg0", false));
  system.readWriteErrors["/dev/sg0"] = EMFILE;
  EXPECT_EQ(outOfResources_c, openNode(system, "/dev/sg0", false));
  system.readWriteErrors["/dev/sg0"] = EIO;
  EXPECT_EQ(ioError_c, openNode(system, "/dev/sg0", false));
  EXPECT_TRUE(system.openDescriptors.empty());
}

TEST_F(SgNodeTest, LowDescriptorIsMovedAboveTwoAndOriginalClosed) {
  system.addNode("sg0", 21, 0, "0:0:1:0");
  system.nextDescriptor = 0;
  int fd = openNode(system, "/dev/sg0", false);
  EXPECT_GE(fd, 3);
  ASSERT_EQ(1u, system.closed.size());
  EXPECT_EQ(0, system.closed[0]);
  EXPECT_EQ(1u, system.openDescriptors.size());
  EXPECT_EQ(1u, system.openDescriptors.count(fd));
}

TEST_F(SgNodeTest, FailedMoveOfLowDescriptorLeaksNothing) {
  system.addNode("sg0", 21, 0, "0:0:1:0");
  system.nextDescriptor = 2;
  system.duplicateErrno = EMFILE;
  EXPECT_EQ(outOfResources_c, openNode(system, "/dev/sg0", false));
  EXPECT_TRUE(system.openDescriptors.empty());
}

TEST_F(SgNodeTest, NodeAddressComesFromSysfsDeviceLink) {
  system.addNode("sg1", 21, 1, "3:1:2:5");
  int fd = openNode(system, "/dev/sg1", false);
  ScsiId id;
  ASSERT_TRUE(nodeScsiId(system, fd, id));
  EXPECT_EQ(3u, id.host);
  EXPECT_EQ(1u, id.channel);
  EXPECT_EQ(2u, id.id);
  EXPECT_EQ(5u, id.lun);

  // A block node is looked up under /sys/dev/block.
  NodeNumber disk;
  disk.block = true;
  disk.major = 8;
  system.nodes["/dev/sda"] = disk;
  system.links["/sys/dev/block/8:0/device"] = "../../../0:0:1:0";
  fd = openNode(system, "/dev/sda", false);
  ASSERT_TRUE(nodeScsiId(system, fd, id));
  EXPECT_EQ(1u, id.id);
}

TEST_F(SgNodeTest, NodeAddressUnknownWithoutUsableLink) {
  system.addNode("sg0", 21, 0, "0:0:1:0");
  system.links["/sys/dev/char/21:0/device"] = "../../../host0";
  int fd = openNode(system, "/dev/sg0", false);
  ScsiId id;
  EXPECT_FALSE(nodeScsiId(system, fd, id));
  system.links.clear();
  EXPECT_FALSE(nodeScsiId(system, fd, id));
  EXPECT_FALSE(nodeScsiId(system, 77, id)) << "closed descriptor";
}

TEST_F(SgNodeTest, FindsSgNodeByFullAddress) {
  system.addNode("sg0", 21, 0, "0:0:1:0");
  system.addNode("sg1", 21, 1, "0:0:2:0");
  system.addNode("sg2", 21, 2, "1:0:2:0");
  ScsiId id;
  id.id = 2;
  EXPECT_EQ("/dev/sg1", findSgNode(system, id));
  id.host = 1;
  EXPECT_EQ("/dev/sg2", findSgNode(system, id));
  id.lun = 1;
  EXPECT_EQ("", findSgNode(system, id));
}

TEST_F(SgNodeTest, ListsSgNodesInNumericOrder) {
  system.addNode("sg10", 21, 10, "0:0:3:0");
  system.addNode("sg2", 21, 2, "0:0:2:0");
  system.directories["/sys/class/scsi_generic/"].push_back("sgx");
  system.addNode("sg0", 21, 0, "0:0:1:0");
  const std::vector<std::string> expected = {"/dev/sg0", "/dev/sg2", "/dev/sg10"};
  EXPECT_EQ(expected, listSgNodes(system));
}

TEST_F(SgNodeTest, AdapterExistsThroughScsiHostClass) {
  system.addAdapter(0);
  EXPECT_TRUE(adapterExists(system, 0));
  EXPECT_FALSE(adapterExists(system, 1));
}

}  // namespace
}  // namespace qxscsi::backends::sg
