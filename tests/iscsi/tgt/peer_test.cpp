// Cross-check with libiscsi's own tools: INQUIRY and REPORT LUNS through the library give what
// iscsi-inq and iscsi-ls print for the same LUNs.
#include <unistd.h>

#include <map>
#include <sstream>

#include "tgt_support.h"

namespace qxscsi::test {
namespace {

const char* kDisk = "iqn.2026-12.org.example:disk";
const char* kTape = "iqn.2026-12.org.example:tape";
const char* kChanger = "iqn.2026-12.org.example:changer";

// The device type names the tools print.
std::string typeName(unsigned type) {
  static const std::map<unsigned, std::string> names = {{0x00, "DIRECT_ACCESS"},
                                                        {0x01, "SEQUENTIAL_ACCESS"},
                                                        {0x08, "MEDIA_CHANGER"},
                                                        {0x0C, "STORAGE_ARRAY_CONTROLLER"}};
  auto it = names.find(type);
  return it == names.end() ? "type " + std::to_string(type) : it->second;
}

// "Key:value" lines of a tool's output.
std::map<std::string, std::string> fields(const std::string& text) {
  std::map<std::string, std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    size_t colon = line.find(':');
    if (colon != std::string::npos && !out.count(line.substr(0, colon)))
      out[line.substr(0, colon)] = line.substr(colon + 1);
  }
  return out;
}

class IscsiPeerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!world.start()) return;
    if (access("/usr/bin/iscsi-inq", X_OK) != 0 || access("/usr/bin/iscsi-ls", X_OK) != 0) {
      world.whyNot = "libiscsi-bin is not installed";
      world.stop();
      return;
    }
    bool ok = world.tgtd->addDisk(1, kDisk, 16) && world.tgtd->addTape(2, kTape, "PEER01") &&
              world.tgtd->addChanger(3, kChanger, 2, "PEER02");
    if (!ok) world.whyNot = "tgtadm failed", world.stop();
  }
  static void TearDownTestSuite() { world.stop(); }
  void SetUp() override {
    if (!world.tgtd) GTEST_SKIP() << world.whyNot;
  }

  static TgtdWorld world;
};

TgtdWorld IscsiPeerTest::world;

TEST_F(IscsiPeerTest, InquiryMatchesIscsiInq) {
  for (const char* iqn : {kDisk, kTape, kChanger}) {
    for (int lun : {0, 1}) {
      std::string url = world.tgtd->url(iqn, lun);
      std::string text;
      ASSERT_EQ(runProgram({"/usr/bin/iscsi-inq", url}, &text), 0) << text;
      auto peer = fields(text);

      QXScsiSPITarget t(url.c_str());
      ASSERT_TRUE(t.valid()) << url;
      unsigned char inq[96] = {};
      Record r(t.cmdInquiry(inq, sizeof inq));
      ASSERT_TRUE(r);
      ASSERT_EQ(r->scsiStatus(), 0);
      std::string where = url + "\n" + text;
      EXPECT_EQ(peer["Peripheral Device Type"], typeName(inq[0] & 0x1F)) << where;
      EXPECT_EQ(peer["Peripheral Qualifier"], (inq[0] >> 5) == 0 ? "CONNECTED" : "?") << where;
      EXPECT_EQ(peer["Removable"], std::to_string(inq[1] >> 7)) << where;
      EXPECT_EQ(peer["Vendor"], std::string(reinterpret_cast<char*>(inq + 8), 8)) << where;
      EXPECT_EQ(peer["Product"], std::string(reinterpret_cast<char*>(inq + 16), 16)) << where;
      EXPECT_EQ(peer["Revision"], std::string(reinterpret_cast<char*>(inq + 32), 4)) << where;
      EXPECT_EQ(peer["Version"].substr(0, peer["Version"].find(' ')), std::to_string(inq[2])) << where;
    }
  }
}

TEST_F(IscsiPeerTest, ReportLunsMatchesIscsiLs) {
  std::string text;
  ASSERT_EQ(runProgram({"/usr/bin/iscsi-ls", "-s", "iscsi://" + world.tgtd->portal()}, &text), 0) << text;
  // Per target: LUN -> type name, as iscsi-ls lists them.
  std::map<std::string, std::map<int, std::string>> peer;
  std::istringstream in(text);
  std::string line, current;
  while (std::getline(in, line)) {
    if (line.rfind("Target:", 0) == 0) current = line.substr(7, line.find(' ') - 7);
    if (line.rfind("Lun:", 0) == 0) {
      int lun = std::stoi(line.substr(4));
      size_t type = line.find("Type:") + 5;
      peer[current][lun] = line.substr(type, line.find(' ', type) - type);
    }
  }
  ASSERT_EQ(peer.size(), 3u) << text;

  for (const char* iqn : {kDisk, kTape, kChanger}) {
    QXScsiSPITarget t(world.tgtd->url(iqn, 1).c_str());
    ASSERT_TRUE(t.valid());
    unsigned char list[16] = {};
    unsigned long count = sizeof list;
    Record r(t.cmdReportLuns(list, &count));
    ASSERT_TRUE(r);
    ASSERT_EQ(r->scsiStatus(), 0);
    std::map<int, std::string> ours;
    for (unsigned long i = 0; i < count; ++i) {
      QXScsiSPITarget lunTarget(world.tgtd->url(iqn, list[i]).c_str());
      ASSERT_TRUE(lunTarget.valid());
      unsigned char inq[36] = {};
      Record ri(lunTarget.cmdInquiry(inq, sizeof inq));
      ASSERT_TRUE(ri);
      ours[list[i]] = typeName(inq[0] & 0x1F);
    }
    EXPECT_EQ(ours, peer[iqn]) << text;
  }
}

TEST_F(IscsiPeerTest, PortalListingMatchesIscsiLs) {
  std::string text;
  ASSERT_EQ(runProgram({"/usr/bin/iscsi-ls", "-s", "iscsi://" + world.tgtd->portal()}, &text), 0) << text;
  std::map<std::string, std::vector<int>> peer;
  std::istringstream in(text);
  std::string line, current;
  while (std::getline(in, line)) {
    if (line.rfind("Target:", 0) == 0) current = line.substr(7, line.find(' ') - 7);
    if (line.rfind("Lun:", 0) == 0) peer[current].push_back(std::stoi(line.substr(4)));
  }

  std::vector<backends::DeviceGroup> listing;
  std::string error;
  ASSERT_TRUE(world.installation->list(world.tgtd->portal(), 10, listing, error)) << error;
  std::map<std::string, std::vector<int>> ours;
  for (const auto& t : listing) {
    EXPECT_TRUE(t.error.empty()) << t.name << ": " << t.error;
    ASSERT_FALSE(t.addresses.empty());
    EXPECT_EQ(t.addresses[0].rfind(world.tgtd->portal(), 0), 0u) << t.addresses[0];
    ours[t.name].assign(t.luns.begin(), t.luns.end());
  }
  EXPECT_EQ(ours, peer) << text;
}

TEST_F(IscsiPeerTest, ListingAnUnreachablePortalSaysWhy) {
  std::vector<backends::DeviceGroup> listing;
  std::string error;
  EXPECT_FALSE(world.installation->list("iscsi://127.0.0.1:1", 2, listing, error));
  EXPECT_TRUE(listing.empty());
  EXPECT_NE(error.find("cannot connect to 127.0.0.1:1"), std::string::npos) << error;
  EXPECT_FALSE(world.installation->list("127.0.0.1/iqn.x:y/1", 10, listing, error));
  EXPECT_NE(error.find("bad iSCSI portal"), std::string::npos) << error;
}

}  // namespace
}  // namespace qxscsi::test
