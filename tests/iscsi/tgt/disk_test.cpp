// A disk LUN of a real iSCSI target (tgtd on loopback) through QXScsiSPITarget: opening by URL,
// the six standard commands, READ/WRITE(10) round trips, residuals and refused logins.
#include <cstring>

#include "qxscsiplatform/errors.h"
#include "tgt_support.h"

namespace qxscsi::test {
namespace {

using namespace QXScsiPlatform;

const char* kDisk = "iqn.2026-12.org.example:disk";
const char* kLocked = "iqn.2026-12.org.example:locked";
const std::string kLongIqn =
    "iqn.2026-12.org.example.storage.department-of-long-names:disk-number-0001-mirror";

class IscsiDiskTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!world.start()) return;
    bool ok = world.tgtd->addDisk(1, kDisk, 16) && world.tgtd->addDisk(2, kLongIqn, 1) &&
              world.tgtd->addDisk(3, kLocked, 1) && world.tgtd->addAccount(3, "alice", "wonderland12");
    if (!ok) world.whyNot = "tgtadm could not set up the targets", world.stop();
  }
  static void TearDownTestSuite() { world.stop(); }
  void SetUp() override {
    if (!world.tgtd) GTEST_SKIP() << world.whyNot;
  }

  static std::string url(const std::string& iqn, int lun = 1) { return world.tgtd->url(iqn, lun); }
  // A target opened by name as a caller would; the first command's unit attention is consumed.
  static std::unique_ptr<QXScsiSPITarget> openDisk() {
    auto t = std::make_unique<QXScsiSPITarget>(url(kDisk).c_str());
    if (t->valid()) Record(t->cmdTestUnitReady());
    return t;
  }

  static TgtdWorld world;
};

TgtdWorld IscsiDiskTest::world;

TEST_F(IscsiDiskTest, OpensByUrlWithTheLunAddress) {
  QXScsiSPITarget t(url(kDisk).c_str());
  ASSERT_TRUE(t.valid());
  EXPECT_EQ(t.implementationError(), 0);
  QXScsiAddress a;
  ASSERT_TRUE(t.getScsiAddress(a));
  QXScsiLunAddress lun;
  ASSERT_TRUE(a.toLunAddress(lun));
  EXPECT_EQ(lun.bus(), 0);
  EXPECT_EQ(lun.target(), 0);
  EXPECT_EQ(lun.lun(), 1);
  EXPECT_EQ(t.scsi_transport(), 1);
}

// With "iscsi_unit_attention" = "report" the caller sees the unit attention of the new I_T nexus.
TEST_F(IscsiDiskTest, FirstCommandOfASessionSeesPowerOnUnitAttentionWhenReported) {
  QXScsiTarget::Parameters report;
  QXScsi::setParameter("iscsi_unit_attention", "report", report);
  QXScsiSPITarget t(url(kDisk).c_str(), &report);
  ASSERT_TRUE(t.valid());
  Record first(t.cmdTestUnitReady());
  ASSERT_TRUE(first);
  EXPECT_EQ(first->scsiStatus(), 2);
  EXPECT_EQ(senseKey(*first.cmd), 0x6u);
  EXPECT_EQ(asc(*first.cmd), 0x29u);
  EXPECT_EQ(ascq(*first.cmd), 0x00u);
  Record second(t.cmdTestUnitReady());
  ASSERT_TRUE(second);
  EXPECT_EQ(second->scsiStatus(), 0);
  EXPECT_EQ(senseKey(*second.cmd), 0u);
}

// By default the opening takes it: the caller's first command is answered about itself.
TEST_F(IscsiDiskTest, FirstCommandOfASessionIsAnsweredAboutItself) {
  for (const char* command : {"tur", "read capacity"}) {
    QXScsiSPITarget t(url(kDisk).c_str());
    ASSERT_TRUE(t.valid());
    unsigned char capacity[8] = {};
    Record first(command[0] == 't' ? t.cmdTestUnitReady()
                                   : call(t, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, capacity, 8, 0));
    ASSERT_TRUE(first) << command;
    EXPECT_EQ(first->scsiStatus(), 0) << command;
  }
}

TEST_F(IscsiDiskTest, InquiryRequestSenseAndReportLuns) {
  auto t = openDisk();
  ASSERT_TRUE(t->valid());
  unsigned char inq[36] = {};
  Record i(t->cmdInquiry(inq, sizeof inq));
  ASSERT_TRUE(i);
  EXPECT_EQ(i->scsiStatus(), 0);
  EXPECT_EQ(inq[0], 0x00);  // connected direct-access device
  EXPECT_EQ(std::string(reinterpret_cast<char*>(inq + 8), 8), "IET     ");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(inq + 16), 16), "VIRTUAL-DISK    ");

  unsigned char sense[18] = {};
  Record r(t->cmdRequestSense(sense, sizeof sense));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->scsiStatus(), 0);
  EXPECT_EQ(sense[0] & 0x7F, 0x70);
  EXPECT_EQ(sense[2] & 0x0F, 0);  // NO SENSE: the unit attention was consumed

  unsigned char luns[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  unsigned long count = 4;
  Record l(t->cmdReportLuns(luns, &count));
  ASSERT_TRUE(l);
  EXPECT_EQ(l->scsiStatus(), 0);
  ASSERT_EQ(count, 2u);  // the controller LUN 0 and our disk
  EXPECT_EQ(luns[0], 0);
  EXPECT_EQ(luns[1], 1);
  EXPECT_EQ(luns[2], 0xEE);
}

TEST_F(IscsiDiskTest, CopyCommandsShowWhatTgtAnswers) {
  auto t = openDisk();
  ASSERT_TRUE(t->valid());
  unsigned char list[52] = {};
  Record x(t->cmdExtendedCopy(0, false, false, 0, list, sizeof list));
  ASSERT_TRUE(x);
  EXPECT_EQ(x->scsiStatus(), 2);
  EXPECT_EQ(senseKey(*x.cmd), 0x5u);  // ILLEGAL REQUEST
  EXPECT_EQ(asc(*x.cmd), 0x20u);      // INVALID COMMAND OPERATION CODE
  EXPECT_EQ(ascq(*x.cmd), 0x00u);
  EXPECT_EQ(x->implementationError(), 0);

  unsigned char results[1024] = {};
  Record c(t->cmdReceiveCopyResults(0, 7, results, sizeof results));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->scsiStatus(), 2);
  EXPECT_EQ(senseKey(*c.cmd), 0x5u);
  EXPECT_EQ(asc(*c.cmd), 0x20u);
}

TEST_F(IscsiDiskTest, WriteThenReadBackThroughCmdCall) {
  auto t = openDisk();
  ASSERT_TRUE(t->valid());
  std::vector<unsigned char> out(8 * 512), in(8 * 512, 0);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<unsigned char>(i * 7 + 3);
  // WRITE(10) / READ(10) of 8 blocks at LBA 100.
  Record w(call(*t, {0x2A, 0, 0, 0, 0, 100, 0, 0, 8, 0}, out.data(), out.size(), 1));
  ASSERT_TRUE(w);
  EXPECT_EQ(w->scsiStatus(), 0);
  Record r(call(*t, {0x28, 0, 0, 0, 0, 100, 0, 0, 8, 0}, in.data(), in.size(), 0));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->scsiStatus(), 0);
  EXPECT_EQ(in, out);

  // A second block range stays apart from the first.
  std::vector<unsigned char> other(512, 0xFF);
  Record r2(call(*t, {0x28, 0, 0, 0, 0, 99, 0, 0, 1, 0}, other.data(), other.size(), 0));
  ASSERT_TRUE(r2);
  EXPECT_EQ(other, std::vector<unsigned char>(512, 0));
}

TEST_F(IscsiDiskTest, ResidualOfShortAndLongTransfers) {
  auto t = openDisk();
  ASSERT_TRUE(t->valid());
  std::vector<unsigned char> buf(8192, 0xAB);
  backends::CommandFacts facts;
  facts.residual = 99;
  facts.overflow = true;
  // 8 blocks into a 16-block buffer: 4096 bytes did not come.
  Record under(call(*t, {0x28, 0, 0, 0, 0, 0, 0, 0, 8, 0}, buf.data(), buf.size(), 0));
  ASSERT_TRUE(under);
  ASSERT_TRUE(backends::lastCommand(*t, facts));
  EXPECT_EQ(facts.residual, 4096u);
  EXPECT_FALSE(facts.overflow);
  EXPECT_EQ(facts.transferred, 4096u);
  EXPECT_EQ(buf[4096], 0xAB);  // untouched beyond what came

  // 16 blocks into an 8-block buffer: the device had 4096 bytes more.
  Record over(call(*t, {0x28, 0, 0, 0, 0, 0, 0, 0, 16, 0}, buf.data(), 4096, 0));
  ASSERT_TRUE(over);
  ASSERT_TRUE(backends::lastCommand(*t, facts));
  EXPECT_EQ(facts.residual, 4096u);
  EXPECT_TRUE(facts.overflow);
  EXPECT_EQ(buf[4096], 0xAB);  // nothing written past the buffer the record names

  Record exact(call(*t, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, buf.data(), 512, 0));
  ASSERT_TRUE(exact);
  ASSERT_TRUE(backends::lastCommand(*t, facts));
  EXPECT_EQ(facts.residual, 0u);
  EXPECT_EQ(facts.transferred, 512u);
}

TEST_F(IscsiDiskTest, IqnLongerThanADeviceNameStillOpens) {
  std::string u = url(kLongIqn);
  ASSERT_GT(u.size(), 64u);
  QXScsiSPITarget t(u.c_str());
  ASSERT_TRUE(t.valid()) << t.implementationError();
  Record tur(t.cmdTestUnitReady());
  ASSERT_TRUE(tur);
}

TEST_F(IscsiDiskTest, UnknownTargetOrLunIsDeviceNotFound) {
  QXScsiSPITarget noTarget(url("iqn.2026-12.org.example:nobody").c_str());
  EXPECT_FALSE(noTarget.valid());
  EXPECT_EQ(noTarget.implementationError(), deviceNotFound_c);
  std::string hint;
  noTarget.implementationErrorHint(hint);
  EXPECT_NE(hint.find("Target not found"), std::string::npos) << hint;

  QXScsiSPITarget noLun(url(kDisk, 5).c_str());
  EXPECT_FALSE(noLun.valid());
  EXPECT_EQ(noLun.implementationError(), deviceNotFound_c);
  noLun.implementationErrorHint(hint);
  EXPECT_NE(hint.find("LUN 5"), std::string::npos) << hint;
}

TEST_F(IscsiDiskTest, ChapDecidesTheLogin) {
  std::string portalPath = world.tgtd->portal() + "/" + kLocked + "/1";
  QXScsiSPITarget anonymous(url(kLocked).c_str());
  EXPECT_FALSE(anonymous.valid());
  EXPECT_EQ(anonymous.implementationError(), accessDenied_c);
  QXScsiSPITarget wrong(("iscsi://alice%nottheone@" + portalPath).c_str());
  EXPECT_FALSE(wrong.valid());
  EXPECT_EQ(wrong.implementationError(), accessDenied_c);
  std::string hint;
  wrong.implementationErrorHint(hint);
  EXPECT_NE(hint.find("Authentication failure"), std::string::npos) << hint;
  QXScsiSPITarget right(("iscsi://alice%wonderland12@" + portalPath).c_str());
  EXPECT_TRUE(right.valid()) << right.implementationError();
}

TEST_F(IscsiDiskTest, NothingListeningIsConnectionFailed) {
  TgtdInstance* t = world.tgtd.get();
  std::string closed = "iscsi://127.0.0.1:1/" + std::string(kDisk) + "/1";  // port 1: nobody listens
  auto start = std::chrono::steady_clock::now();
  QXScsiSPITarget target(closed.c_str());
  EXPECT_FALSE(target.valid());
  EXPECT_EQ(target.implementationError(), connectionFailed_c);
  EXPECT_LT(secondsSince(start), 5.0);
  EXPECT_TRUE(t->running());
}

TEST_F(IscsiDiskTest, DescriptorFormatSenseArrivesAsSent) {
  ASSERT_TRUE(world.tgtd->setLunParams(1, 1, "sense_format=1"));
  QXScsiTarget::Parameters report;
  QXScsi::setParameter("iscsi_unit_attention", "report", report);
  QXScsiSPITarget t(url(kDisk).c_str(), &report);
  ASSERT_TRUE(t.valid());
  Record ua(t.cmdTestUnitReady());
  ASSERT_TRUE(world.tgtd->setLunParams(1, 1, "sense_format=0"));
  ASSERT_TRUE(ua);
  EXPECT_EQ(ua->scsiStatus(), 2);
  unsigned char* bytes = nullptr;
  unsigned char length = 0;
  ua->senseData().getBuffer(bytes, length);
  EXPECT_EQ(bytes[0], 0x72);  // descriptor format, current error
  EXPECT_EQ(bytes[1], 0x06);  // UNIT ATTENTION
  EXPECT_EQ(bytes[2], 0x29);
  EXPECT_EQ(bytes[3], 0x00);
}

TEST_F(IscsiDiskTest, ReopeningLogsInAfreshSession) {
  QXScsiTarget::Parameters report;
  QXScsi::setParameter("iscsi_unit_attention", "report", report);
  QXScsiSPITarget t(url(kDisk).c_str(), &report);
  ASSERT_TRUE(t.valid());
  Record(t.cmdTestUnitReady());
  bool wasOpen = false;
  ASSERT_TRUE(t.open(wasOpen, nullptr));
  EXPECT_TRUE(wasOpen);
  // A new session is a new I_T nexus: tgt greets it with a unit attention of its own.
  Record first(t.cmdTestUnitReady());
  ASSERT_TRUE(first);
  EXPECT_EQ(first->scsiStatus(), 2);
  EXPECT_EQ(asc(*first.cmd), 0x29u);
  EXPECT_TRUE(t.close(false));
  EXPECT_TRUE(t.close(false));
}

// tgt negotiates CRC32C header digests: every offer logs in and carries a WRITE/READ round trip.
TEST_F(IscsiDiskTest, EveryHeaderDigestOfferWorks) {
  for (const char* digest : {"none", "crc32c", "prefer-crc32c", "prefer-none"}) {
    QXScsiTarget::Parameters p;
    QXScsi::setParameter("iscsi_header_digest", digest, p);
    QXScsiSPITarget t(url(kDisk).c_str(), &p);
    ASSERT_TRUE(t.valid()) << digest << ": " << t.implementationError();
    std::vector<unsigned char> out(4096, static_cast<unsigned char>(digest[0])), in(4096, 0);
    Record w(call(t, {0x2A, 0, 0, 0, 0, 200, 0, 0, 8, 0}, out.data(), out.size(), 1));
    ASSERT_TRUE(w) << digest;
    EXPECT_EQ(w->scsiStatus(), 0) << digest;
    Record r(call(t, {0x28, 0, 0, 0, 0, 200, 0, 0, 8, 0}, in.data(), in.size(), 0));
    ASSERT_TRUE(r) << digest;
    EXPECT_EQ(in, out) << digest;
  }
}

}  // namespace
}  // namespace qxscsi::test
