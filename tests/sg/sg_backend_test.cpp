// The SG back-end's entry in the routing installation: which names it takes and which handles it adopts.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>

#include "qxscsi/backends/backend.h"
#include "sg_target.h"

namespace qxscsi::backends {
std::unique_ptr<Backend> makeSgBackend();

namespace {

class SgBackendTest : public ::testing::Test {
 protected:
  std::unique_ptr<Backend> backend = makeSgBackend();
};

TEST_F(SgBackendTest, TakesDevicePathsAndAdapterNamesOnly) {
  EXPECT_STREQ("sg", backend->name());
  for (const char* name : {"/dev/sg0", "/dev/sda", "/dev/nst0", "/dev/sch0", "//./scsi0:", "//./scsi12:",
                           "/dev/disk/by-id/scsi-0QEMU_QEMU_HARDDISK_drive-scsi0-0-1-0"})
    EXPECT_TRUE(backend->takes(name)) << name;
  for (const char* name : {"", "sg0", "emulated:disk", "iscsi://127.0.0.1/iqn.x/0", "dev/sg0", "/nowhere/sg9",
                           "/devices/sg0", "//./scsi:", "//./scsi0"})
    EXPECT_FALSE(backend->takes(name)) << name;
  std::unique_ptr<QXScsiTargetImpl> impl = backend->create("/dev/sg0");
  ASSERT_NE(nullptr, impl);
  EXPECT_NE(nullptr, dynamic_cast<sg::SgTargetImpl*>(impl.get()));
  EXPECT_EQ(-1, impl->handle()) << "created closed";
}

TEST_F(SgBackendTest, AdoptsDeviceNodesButNotOtherDescriptors) {
  int null = ::open("/dev/null", O_RDONLY);  // a character device
  ASSERT_GE(null, 0);
  EXPECT_NE(nullptr, backend->adopt(null));
  int pipes[2];
  ASSERT_EQ(0, ::pipe(pipes));
  EXPECT_EQ(nullptr, backend->adopt(pipes[0]));
  EXPECT_EQ(nullptr, backend->adopt(-1));
  ::close(pipes[0]);
  ::close(pipes[1]);
  ::close(null);
}

}  // namespace
}  // namespace qxscsi::backends
