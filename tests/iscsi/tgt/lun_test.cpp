// Every single-level LUN through a URL: LUNs 0-255 go out with peripheral addressing, 256-16383
// with flat space addressing; each LUN here has its own backing file and serial number, so the
// serial that answers proves which LUN a URL reached.
#include <algorithm>
#include <string>

#include "tgt_support.h"

namespace qxscsi::test {
namespace {

const char* kMany = "iqn.2026-12.org.example:many-luns";

struct LunCase {
  int lun;
  const char* serial;
};
// Boundaries of both addressing methods, and 300, whose low byte (2Ch) another LUN could share.
const LunCase kLuns[] = {{0, "SN-L0"},     {1, "SN-L1"},     {255, "SN-L255"},
                         {256, "SN-L256"}, {300, "SN-L300"}, {16383, "SN-L16383"}};

class IscsiLunTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!world.start()) return;
    bool ok = world.tgtd->addTarget(1, kMany);
    for (const LunCase& c : kLuns) ok = ok && world.tgtd->addLun(1, c.lun, 1, c.serial);
    // LUN 44 shares the low byte of 300: reaching it instead would show a wrongly encoded 300.
    ok = ok && world.tgtd->addLun(1, 44, 1, "SN-L44");
    if (!ok) world.whyNot = "tgtadm could not set up the LUNs", world.stop();
  }
  static void TearDownTestSuite() { world.stop(); }
  void SetUp() override {
    if (!world.tgtd) GTEST_SKIP() << world.whyNot;
  }

  // The unit serial number (VPD page 80h) of the LUN that answers `url`; "" when none answered.
  static std::string serialAt(const std::string& url) {
    QXScsiSPITarget t(url.c_str());
    if (!t.valid()) return "";
    unsigned char page[255] = {};
    Record r(call(t, {0x12, 0x01, 0x80, 0x00, sizeof page, 0x00}, page, sizeof page, 0));
    if (!r || r->scsiStatus() != 0 || page[1] != 0x80) return "";
    std::string s(reinterpret_cast<char*>(page + 4), std::min<size_t>(page[3], sizeof page - 4));
    // tgt right-aligns the serial in a field of spaces.
    size_t first = s.find_first_not_of(' ');
    size_t last = s.find_last_not_of(std::string(" \0", 2));
    return first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
  }

  static TgtdWorld world;
};

TgtdWorld IscsiLunTest::world;

TEST_F(IscsiLunTest, EveryUrlReachesItsOwnLun) {
  for (const LunCase& c : kLuns)
    EXPECT_EQ(serialAt(world.tgtd->url(kMany, c.lun)), c.serial) << "LUN " << c.lun;
  EXPECT_EQ(serialAt(world.tgtd->url(kMany, 44)), "SN-L44");
}

TEST_F(IscsiLunTest, LunsWithoutAUnitAreNotFound) {
  for (int lun : {2, 257, 16382}) {
    QXScsiSPITarget t(world.tgtd->url(kMany, lun).c_str());
    EXPECT_FALSE(t.valid()) << "LUN " << lun;
    EXPECT_EQ(t.implementationError(), QXScsiPlatform::deviceNotFound_c) << "LUN " << lun;
  }
}

TEST_F(IscsiLunTest, ListingNamesEveryLunByItsNumber) {
  std::vector<backends::DeviceGroup> groups;
  std::string error;
  ASSERT_TRUE(world.installation->list(world.tgtd->portal(), 10, groups, error)) << error;
  ASSERT_EQ(groups.size(), 1u);
  std::vector<unsigned long> luns = groups[0].luns;
  std::sort(luns.begin(), luns.end());
  EXPECT_EQ(luns, (std::vector<unsigned long>{0, 1, 44, 255, 256, 300, 16383}));
  // Each listed URL opens the LUN it names.
  ASSERT_EQ(groups[0].devices.size(), groups[0].luns.size());
  for (size_t i = 0; i < groups[0].luns.size(); ++i) {
    unsigned long lun = groups[0].luns[i];
    EXPECT_EQ(groups[0].devices[i], world.tgtd->url(kMany, static_cast<int>(lun)));
    EXPECT_EQ(serialAt(groups[0].devices[i]), "SN-L" + std::to_string(lun));
  }
}

}  // namespace
}  // namespace qxscsi::test
