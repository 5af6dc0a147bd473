// One SG_IO command: the header the driver receives and how its answer is read.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "qxscsiplatform/errors.h"
#include "sg_node.h"
#include "support/fake_sg_system.h"

namespace qxscsi::backends::sg {
namespace {

using namespace QXScsiPlatform;
using testing::FakeSgSystem;

class SgExecuteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    system.addNode("sg0", 21, 0, "0:0:1:0");
    fd = openNode(system, "/dev/sg0", false);
    request.cdb = cdb;
    request.cdbLength = 6;
    request.data = buffer;
    request.length = sizeof buffer;
    request.direction = 0;
    request.timeoutSeconds = 30;
  }

  FakeSgSystem system;
  int fd = -1;
  unsigned char cdb[16] = {0x12, 0, 0, 0, 96, 0};
  unsigned char buffer[96] = {};
  Request request;
  DriverReply outcome;
};

TEST_F(SgExecuteTest, HeaderCarriesCallersBuffersWithoutCopy) {
  ASSERT_EQ(0, execute(system, fd, request, outcome));
  ASSERT_EQ(1u, system.headers.size());
  const sg_io_hdr_t& h = system.headers[0];
  EXPECT_EQ(fd, system.ioDescriptors[0]);
  EXPECT_EQ('S', h.interface_id);
  EXPECT_EQ(SG_DXFER_FROM_DEV, h.dxfer_direction);
  EXPECT_EQ(6, h.cmd_len);
  EXPECT_EQ(cdb, h.cmdp);
  EXPECT_EQ(static_cast<void*>(buffer), h.dxferp);
  EXPECT_EQ(96u, h.dxfer_len);
  EXPECT_EQ(255, h.mx_sb_len);
  EXPECT_NE(nullptr, h.sbp);
  EXPECT_EQ(30000u, h.timeout);
  EXPECT_EQ(0u, h.flags);
  EXPECT_EQ(0, h.iovec_count);
}

TEST_F(SgExecuteTest, DirectionsMapToSgTransfers) {
  request.direction = 1;
  ASSERT_EQ(0, execute(system, fd, request, outcome));
  EXPECT_EQ(SG_DXFER_TO_DEV, system.headers.back().dxfer_direction);

  request.direction = 2;  // a buffer with "no data" is not handed to the driver
  ASSERT_EQ(0, execute(system, fd, request, outcome));
  EXPECT_EQ(SG_DXFER_NONE, system.headers.back().dxfer_direction);
  EXPECT_EQ(0u, system.headers.back().dxfer_len);
  EXPECT_EQ(nullptr, system.headers.back().dxferp);

  request.direction = 0;  // data in with length 0 moves nothing
  request.length = 0;
  ASSERT_EQ(0, execute(system, fd, request, outcome));
  EXPECT_EQ(SG_DXFER_NONE, system.headers.back().dxfer_direction);
}

TEST_F(SgExecuteTest, InvalidRequestsNeverReachTheDriver) {
  Request r = request;
  r.cdbLength = 0;
  EXPECT_EQ(invalidRequest_c, execute(system, fd, r, outcome));
  r = request;
  r.cdbLength = 17;
  EXPECT_EQ(invalidRequest_c, execute(system, fd, r, outcome));
  r = request;
  r.cdb = nullptr;
  EXPECT_EQ(invalidRequest_c, execute(system, fd, r, outcome));
  r = request;
  r.direction = 3;
  EXPECT_EQ(invalidRequest_c, execute(system, fd, r, outcome));
  r = request;
  r.direction = -1;
  EXPECT_EQ(invalidRequest_c, execute(system, fd, r, outcome));
  r = request;
  r.data = nullptr;
  EXPECT_EQ(invalidRequest_c, execute(system, fd, r, outcome));
  r = request;
  r.length = static_cast<unsigned long>(UINT_MAX) + 1;
  EXPECT_EQ(invalidRequest_c, execute(system, fd, r, outcome));
  EXPECT_TRUE(system.headers.empty());
}

TEST_F(SgExecuteTest, TimeoutInMillisecondsSaturates) {
  EXPECT_EQ(0u, timeoutMilliseconds(0));
  EXPECT_EQ(1000u, timeoutMilliseconds(1));
  EXPECT_EQ(4294967000u, timeoutMilliseconds(4294967));
  EXPECT_EQ(UINT_MAX, timeoutMilliseconds(4294968));
  EXPECT_EQ(UINT_MAX, timeoutMilliseconds(ULONG_MAX));
  request.timeoutSeconds = ULONG_MAX;
  ASSERT_EQ(0, execute(system, fd, request, outcome));
  EXPECT_EQ(UINT_MAX, system.headers[0].timeout);
}

TEST_F(SgExecuteTest, InterruptedCallIsRetried) {
  int calls = 0;
  system.onSgIo = [&](int, sg_io_hdr_t& h) {
    if (++calls < 3) return -EINTR;
    h.status = 0;
    return 0;
  };
  EXPECT_EQ(0, execute(system, fd, request, outcome));
  EXPECT_EQ(3, calls);
}

TEST_F(SgExecuteTest, IoctlErrorsMapToImplementationErrors) {
  const std::pair<int, long> cases[] = {{EBUSY, deviceBusy_c},      {ENODEV, deviceNotFound_c},
                                        {ENXIO, deviceNotFound_c},  {EINVAL, invalidRequest_c},
                                        {ENOMEM, outOfResources_c}, {EPERM, accessDenied_c},
                                        {EIO, ioError_c},           {ETIMEDOUT, commandTimeout_c}};
  for (const auto& c : cases) {
    system.onSgIo = [&](int, sg_io_hdr_t&) { return -c.first; };
    EXPECT_EQ(c.second, execute(system, fd, request, outcome)) << c.first;
  }
  EXPECT_EQ(notOpen_c, execute(system, 99, request, outcome)) << "EBADF";
}

TEST_F(SgExecuteTest, StatusSenseAndResidualComeBack) {
  system.onSgIo = [](int, sg_io_hdr_t& h) {
    h.status = 0x02;
    h.sb_len_wr = 18;
    std::memset(h.sbp, 0xee, h.mx_sb_len);
    h.sbp[0] = 0x70;
    h.sbp[2] = 0x02;
    h.sbp[12] = 0x3a;
    h.resid = 60;
    h.driver_status = 0x08;  // sense present: not an error
    return 0;
  };
  ASSERT_EQ(0, execute(system, fd, request, outcome));
  EXPECT_EQ(0x02, outcome.status);
  EXPECT_EQ(18u, outcome.senseLength);
  EXPECT_EQ(0x70, outcome.sense[0]);
  EXPECT_EQ(0x3a, outcome.sense[12]);
  EXPECT_EQ(60, outcome.residual);
}

TEST_F(SgExecuteTest, HostStatusValuesMapToImplementationErrors) {
  const std::pair<unsigned short, long> cases[] = {{0x01, deviceNotFound_c},   {0x02, hostAdapterError_c},
                                                   {0x03, commandTimeout_c},   {0x04, deviceNotFound_c},
                                                   {0x07, hostAdapterError_c}, {0x0e, hostAdapterError_c}};
  for (const auto& c : cases) {
    system.onSgIo = [&](int, sg_io_hdr_t& h) {
      h.host_status = c.first;
      return 0;
    };
    EXPECT_EQ(c.second, execute(system, fd, request, outcome)) << c.first;
    EXPECT_EQ(c.first, outcome.hostStatus);
  }
}

TEST_F(SgExecuteTest, DriverStatusValuesMapToImplementationErrors) {
  const std::pair<unsigned short, long> cases[] = {{0x00, 0},
                                                   {0x08, 0},
                                                   {0x06, commandTimeout_c},
                                                   {0x04, driverError_c},
                                                   {0x0c, driverError_c},
                                                   {0x01, driverError_c}};
  for (const auto& c : cases) {
    system.onSgIo = [&](int, sg_io_hdr_t& h) {
      h.driver_status = c.first;
      return 0;
    };
    EXPECT_EQ(c.second, execute(system, fd, request, outcome)) << c.first;
  }
}

TEST_F(SgExecuteTest, OutcomeIsResetForEachCommand) {
  system.onSgIo = [](int, sg_io_hdr_t& h) {
    h.status = 0x02;
    h.sb_len_wr = 18;
    h.resid = 5;
    return 0;
  };
  ASSERT_EQ(0, execute(system, fd, request, outcome));
  system.onSgIo = nullptr;
  ASSERT_EQ(0, execute(system, fd, request, outcome));
  EXPECT_EQ(0, outcome.status);
  EXPECT_EQ(0u, outcome.senseLength);
  EXPECT_EQ(0, outcome.residual);
}

}  // namespace
}  // namespace qxscsi::backends::sg
