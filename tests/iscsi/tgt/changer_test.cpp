// A medium changer LUN of tgtd through cmdCall with a QXScsiMediumChanger: READ ELEMENT STATUS,
// MOVE MEDIUM and INITIALIZE ELEMENT STATUS, each with the changer's default timeout.
#include "qxscsi/devices.h"
#include "tgt_support.h"

namespace qxscsi::test {
namespace {

const char* kDrive = "iqn.2026-12.org.example:drive";
const char* kChanger = "iqn.2026-12.org.example:changer";
constexpr int kSlots = 1000, kLoadedSlot = 1001, kDriveElement = 500;

struct Element {
  int address;
  bool full;
  std::string tag;
};

// Element descriptors of a READ ELEMENT STATUS answer, read within the bytes that came. tgt 1.0.85
// sends 8 bytes fewer than its own header announces (the residual shows it), so a last descriptor
// counts once its address and flags arrived; a volume tag only when all of it arrived.
std::vector<Element> parseElements(const std::vector<unsigned char>& d, size_t received) {
  std::vector<Element> out;
  auto be = [&](size_t at, int n) {
    unsigned v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | d[at + i];
    return v;
  };
  if (received < 8) return out;
  size_t end = std::min(received, 8 + static_cast<size_t>(be(5, 3)));
  for (size_t page = 8; page + 8 <= end;) {
    bool voltag = d[page + 1] & 0x80;
    size_t length = be(page + 2, 2), bytes = be(page + 5, 3);
    if (length == 0) break;
    size_t stop = std::min(end, page + 8 + bytes);
    for (size_t e = page + 8; e + 3 <= stop; e += length) {
      std::string tag;
      if (voltag && e + 12 + 32 <= stop) {
        tag.assign(reinterpret_cast<const char*>(&d[e + 12]), 32);
        tag.erase(tag.find_last_not_of(' ') + 1);
      }
      out.push_back({static_cast<int>(be(e, 2)), (d[e + 2] & 0x01) != 0, tag});
    }
    page += 8 + bytes;
  }
  return out;
}

class IscsiChangerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!world.start()) return;
    if (!world.tgtd->addTape(1, kDrive, "DRIVE0") || !world.tgtd->addChanger(2, kChanger, 1, "B2"))
      world.whyNot = "tgtimg/tgtadm failed", world.stop();
  }
  static void TearDownTestSuite() { world.stop(); }
  void SetUp() override {
    if (!world.tgtd) GTEST_SKIP() << world.whyNot;
    name = world.tgtd->url(kChanger, 1);
    target = std::make_unique<QXScsiSPITarget>(name.c_str());
    ASSERT_TRUE(target->valid()) << target->implementationError();
    Record ua(target->cmdTestUnitReady());
  }

  QXScsiCmd* changer(std::vector<unsigned char> cdb, unsigned char* data = nullptr, unsigned long length = 0,
                     int direction = 2) {
    return call(*target, std::move(cdb), data, length, direction, QXScsiMediumChanger(name));
  }
  // READ ELEMENT STATUS with volume tags for count elements of a type from an address.
  std::vector<Element> elements(unsigned char type, int first, int count, unsigned long* timeout = nullptr) {
    std::vector<unsigned char> data(1024, 0);
    Record r(changer(
        {0xB8, static_cast<unsigned char>(0x10 | type), static_cast<unsigned char>(first >> 8),
         static_cast<unsigned char>(first), 0, static_cast<unsigned char>(count), 0, 0, 0x04, 0x00, 0, 0},
        data.data(), data.size(), 0));
    EXPECT_TRUE(r);
    if (!r) return {};
    EXPECT_EQ(r->scsiStatus(), 0);
    if (timeout) *timeout = r->timeout();
    backends::CommandFacts facts;
    facts.transferred = data.size();
    backends::lastCommand(*target, facts);
    return parseElements(data, facts.transferred);
  }
  Element element(unsigned char type, int address) {
    auto list = elements(type, address, 1);
    return list.empty() ? Element{-1, false, ""} : list[0];
  }
  QXScsiCmd* move(int from, int to) {
    return changer({0xA5, 0, 0, 1, static_cast<unsigned char>(from >> 8), static_cast<unsigned char>(from),
                    static_cast<unsigned char>(to >> 8), static_cast<unsigned char>(to), 0, 0, 0, 0});
  }

  static TgtdWorld world;
  std::string name;
  std::unique_ptr<QXScsiSPITarget> target;
};

TgtdWorld IscsiChangerTest::world;

TEST_F(IscsiChangerTest, ReadElementStatusShowsTheLoadedSlot) {
  unsigned long timeout = 0;
  auto slots = elements(2, kSlots, 4, &timeout);
  EXPECT_EQ(timeout, 30u);
  ASSERT_EQ(slots.size(), 4u);
  for (const Element& e : slots) {
    EXPECT_EQ(e.full, e.address == kLoadedSlot) << e.address;
    if (e.full) {
      EXPECT_EQ(e.tag, "B2");
    }
  }
  auto drive = element(4, kDriveElement);
  EXPECT_EQ(drive.address, kDriveElement);
  EXPECT_FALSE(drive.full);
}

TEST_F(IscsiChangerTest, MoveMediumLoadsTheDriveAndBack) {
  Record load(move(kLoadedSlot, kDriveElement));
  ASSERT_TRUE(load);
  EXPECT_EQ(load->timeout(), 60u);
  EXPECT_EQ(load->scsiStatus(), 0) << "sense key " << senseKey(*load.cmd);
  EXPECT_FALSE(element(2, kLoadedSlot).full);
  Element drive = element(4, kDriveElement);
  EXPECT_TRUE(drive.full);
  EXPECT_EQ(drive.tag, "B2");

  // Moving into the full drive again is refused by the changer, and the refusal arrives as sense.
  Record twice(move(kLoadedSlot, kDriveElement));
  ASSERT_TRUE(twice);
  EXPECT_EQ(twice->scsiStatus(), 2);
  EXPECT_EQ(senseKey(*twice.cmd), 0x5u);

  Record unload(move(kDriveElement, kLoadedSlot));
  ASSERT_TRUE(unload);
  EXPECT_EQ(unload->scsiStatus(), 0);
  EXPECT_TRUE(element(2, kLoadedSlot).full);
  EXPECT_FALSE(element(4, kDriveElement).full);
}

TEST_F(IscsiChangerTest, InitializeElementStatusTakesTheLongTimeout) {
  Record init(changer({0x07, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(init);
  EXPECT_EQ(init->timeout(), 3600u);
  EXPECT_EQ(init->scsiStatus(), 0);
  EXPECT_TRUE(element(2, kLoadedSlot).full);
}

}  // namespace
}  // namespace qxscsi::test
