// The emulated disk against a tgtd disk LUN of the same size: each command both answer goes to
// both, and status, sense key, ASC/ASCQ and the data bytes the standard defines must agree.
// Where tgt takes a shortcut of its own the case says so (and the README lists it).
#include <cstring>
#include <functional>
#include <ostream>

#include "tgt_support.h"

namespace qxscsi::test {
namespace {

using Bytes = std::vector<unsigned char>;

const char* kDisk = "iqn.2026-12.org.example:compare";
// As tgt's 1 MiB file; unit attentions on, as tgt raises them.
const char* kEmulated = "emulated:disk?capacity=2048&block=512&id=compare&ua=1";

// What one command came back with.
struct Answer {
  int status = -1;
  unsigned key = 0, asc = 0, ascq = 0;
  Bytes data;
};

Answer send(QXScsiSPITarget& t, const Bytes& cdb, Bytes data, int direction) {
  Answer a;
  Record r(call(t, cdb, data.empty() ? nullptr : data.data(), data.size(), direction));
  if (!r) return a;
  a.status = r->scsiStatus();
  if (a.status == 2) a.key = senseKey(*r.cmd), a.asc = asc(*r.cmd), a.ascq = ascq(*r.cmd);
  if (direction == 0) a.data = data;
  return a;
}

Bytes be64(uint64_t v) {
  Bytes b(8);
  for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(v >> (56 - 8 * i));
  return b;
}

// A PERSISTENT RESERVE OUT parameter list.
Bytes prList(uint64_t key, uint64_t serviceKey) {
  Bytes l = be64(key), s = be64(serviceKey);
  l.insert(l.end(), s.begin(), s.end());
  l.resize(24, 0);
  return l;
}

// Status, sense key, ASC and ASCQ that one side must give.
struct Expected {
  int status;
  unsigned key, asc, ascq;
  bool operator==(const Expected& o) const {
    return status == o.status && key == o.key && asc == o.asc && ascq == o.ascq;
  }
};

std::ostream& operator<<(std::ostream& out, const Expected& e) {
  return out << "status " << e.status << " sense " << e.key << "/" << e.asc << "/" << e.ascq;
}

// One of the two devices, opened by two initiators.
struct Side {
  std::unique_ptr<QXScsiSPITarget> a, b;
};

class EmulatedCompareTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!world.start()) return;
    if (!world.tgtd->addDisk(1, kDisk, 1)) world.whyNot = "tgtadm could not set up the target", world.stop();
  }
  static void TearDownTestSuite() { world.stop(); }
  void SetUp() override {
    if (!world.tgtd) GTEST_SKIP() << world.whyNot;
    const std::string url = world.tgtd->url(kDisk, 1);
    for (const char* who : {"a", "b"}) {
      QXScsiTarget::Parameters p;
      QXScsi::setParameter("iscsi_initiator_name", std::string("iqn.2026-12.org.example:") + who, p);
      (who[0] == 'a' ? peer.a : peer.b) = std::make_unique<QXScsiSPITarget>(url.c_str(), &p);
      const std::string name = std::string(kEmulated) + "&initiator=" + who;
      (who[0] == 'a' ? ours.a : ours.b) = std::make_unique<QXScsiSPITarget>(name.c_str());
    }
    ASSERT_TRUE(peer.a->valid() && peer.b->valid() && ours.a->valid() && ours.b->valid());
    // The iSCSI opening takes the new nexus's power-on attention; so do we here, once.
    for (QXScsiSPITarget* t : {ours.a.get(), ours.b.get()})
      for (int i = 0; i < 3 && send(*t, {0, 0, 0, 0, 0, 0}, {}, 2).status != 0; ++i) {
      }
  }

  // Where tgt takes a shortcut: what it answers, and what we answer as the standard has it.
  void differ(const char* what, char who, const Bytes& cdb, const Bytes& data, int direction, Expected tgt,
              Expected standard) {
    SCOPED_TRACE(what);
    Answer p = send(*(who == 'a' ? peer.a : peer.b), cdb, data, direction);
    Answer o = send(*(who == 'a' ? ours.a : ours.b), cdb, data, direction);
    EXPECT_EQ((Expected{p.status, p.key, p.asc, p.ascq}), tgt);
    EXPECT_EQ((Expected{o.status, o.key, o.asc, o.ascq}), standard);
  }

  // MODE SELECT(6) of each side's own caching page as its MODE SENSE gave it, changed by `change`.
  void selectCaching(const char* what, const std::function<void(Bytes&)>& change) {
    SCOPED_TRACE(what);
    Answer answers[2];
    int i = 0;
    for (QXScsiSPITarget* t : {peer.a.get(), ours.a.get()}) {
      Answer page = send(*t, {0x1A, 0x08, 0x08, 0, 24, 0}, Bytes(24), 0);
      ASSERT_EQ(page.status, 0);
      Bytes list = page.data;
      list[0] = list[1] = list[2] = list[3] = 0;  // mode data length, medium type, parameter, descriptors
      list[4] &= 0x3F;                            // PS is reserved in MODE SELECT
      change(list);
      answers[i++] = send(*t, {0x15, 0x10, 0, 0, 24, 0}, list, 1);
    }
    EXPECT_EQ(answers[1].status, answers[0].status);
    EXPECT_EQ(answers[1].key, answers[0].key);
    EXPECT_EQ(answers[1].asc, answers[0].asc);
  }

  // Sends the command to both by initiator `who` and compares; `bytes` picks the data bytes
  // compared (all of them when empty).
  void both(const char* what, char who, const Bytes& cdb, const Bytes& data, int direction,
            const std::vector<size_t>& bytes = {}) {
    SCOPED_TRACE(what);
    Answer p = send(*(who == 'a' ? peer.a : peer.b), cdb, data, direction);
    Answer o = send(*(who == 'a' ? ours.a : ours.b), cdb, data, direction);
    ASSERT_NE(p.status, -1);
    EXPECT_EQ(o.status, p.status);
    EXPECT_EQ(o.key, p.key);
    EXPECT_EQ(o.asc, p.asc);
    EXPECT_EQ(o.ascq, p.ascq);
    if (p.status != 0 || direction != 0) return;
    if (bytes.empty()) {
      EXPECT_EQ(o.data, p.data);
    } else {
      for (size_t i : bytes) EXPECT_EQ(o.data.at(i), p.data.at(i)) << "byte " << i;
    }
  }

  // The same for one data byte, compared in the bits of `mask` alone.
  void bothBits(const char* what, char who, const Bytes& cdb, size_t index, unsigned char mask) {
    SCOPED_TRACE(what);
    Answer p = send(*(who == 'a' ? peer.a : peer.b), cdb, Bytes(255), 0);
    Answer o = send(*(who == 'a' ? ours.a : ours.b), cdb, Bytes(255), 0);
    ASSERT_EQ(p.status, 0);
    ASSERT_EQ(o.status, 0);
    EXPECT_EQ(o.data.at(index) & mask, p.data.at(index) & mask);
  }

  static TgtdWorld world;
  Side peer, ours;
};

TgtdWorld EmulatedCompareTest::world;

std::vector<size_t> range(size_t from, size_t to) {
  std::vector<size_t> r;
  for (size_t i = from; i < to; ++i) r.push_back(i);
  return r;
}

std::vector<size_t> plus(std::vector<size_t> a, const std::vector<size_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(EmulatedCompareTest, ModeSenseAndSelect) {
  // Header, block descriptor length and block length (tgt gives 0 blocks), the caching page's
  // code and length.
  both("MODE SENSE(6) caching with block descriptor", 'a', {0x1A, 0x00, 0x08, 0, 255, 0}, Bytes(255), 0,
       {0, 1, 2, 3, 9, 10, 11, 13});
  both("MODE SENSE(10) control, DBD", 'a', {0x5A, 0x08, 0x0A, 0, 0, 0, 0, 0, 255, 0}, Bytes(255), 0,
       {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11});
  both("MODE SENSE(6) informational exceptions, DBD", 'a', {0x1A, 0x08, 0x1C, 0, 255, 0}, Bytes(255), 0,
       {0, 1, 2, 3, 5, 6});
  bothBits("MODE SENSE(6) changeable caching: WCE", 'a', {0x1A, 0x08, 0x48, 0, 255, 0}, 6, 0x04);
  both("MODE SENSE(6) a page neither has", 'a', {0x1A, 0x08, 0x19, 0, 255, 0}, Bytes(255), 0);
  both("MODE SENSE(6) subpage 01h", 'a', {0x1A, 0x08, 0x08, 0x01, 255, 0}, Bytes(255), 0);
  selectCaching("MODE SELECT(6) caching as it is", [](Bytes&) {});
  selectCaching("MODE SELECT(6) caching, WCE off", [](Bytes& l) { l[6] &= ~0x04; });
  bothBits("MODE SENSE(6) caching after it: WCE", 'a', {0x1A, 0x08, 0x08, 0, 255, 0}, 6, 0x04);
  selectCaching("MODE SELECT(6) caching, WCE back on", [](Bytes& l) { l[6] |= 0x04; });
  selectCaching("MODE SELECT(6) a bit that cannot change", [](Bytes& l) { l[7] ^= 0xFF; });
  selectCaching("MODE SELECT(6) page length", [](Bytes& l) { l[5] = 0x0A; });
  // The other initiator hears of the changes first: MODE PARAMETERS CHANGED, once for each MODE
  // SELECT that changed a page, in both.
  unsigned attentions[2] = {0, 0};
  QXScsiSPITarget* sides[2] = {peer.b.get(), ours.b.get()};
  for (int side = 0; side < 2; ++side) {
    for (Answer a; (a = send(*sides[side], {0, 0, 0, 0, 0, 0}, {}, 2)).status == 2 && attentions[side] < 8;) {
      EXPECT_EQ((Expected{a.status, a.key, a.asc, a.ascq}), (Expected{2, 6, 0x2A, 0x01}));
      ++attentions[side];
    }
  }
  EXPECT_EQ(attentions[1], 2u);  // WCE off, WCE on
  EXPECT_EQ(attentions[0], attentions[1]);
  bothBits("MODE SENSE(6) by the other initiator: WCE", 'b', {0x1A, 0x08, 0x08, 0, 255, 0}, 6, 0x04);
}

TEST_F(EmulatedCompareTest, WriteAndVerifyAndSupportedOperationCodes) {
  Bytes data(1024);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 13 + 5);
  both("WRITE AND VERIFY(10)", 'a', {0x2E, 0, 0, 0, 0, 7, 0, 0, 2, 0}, data, 1);
  both("READ(10) of it", 'a', {0x28, 0, 0, 0, 0, 7, 0, 0, 2, 0}, Bytes(1024), 0);
  both("WRITE AND VERIFY(10) past the end", 'a', {0x2E, 0, 0, 0, 0x07, 0xFF, 0, 0, 2, 0}, data, 1);
  // One command: SUPPORT, CDB size and the operation code of the usage data.
  both("REPORT SUPPORTED OPERATION CODES, READ(10)", 'a', {0xA3, 0x0C, 0x01, 0x28, 0, 0, 0, 0, 1, 0, 0, 0},
       Bytes(256), 0, {1, 2, 3, 4});
  // The standard has SUPPORT 001b (not supported) for it; tgt refuses the CDB.
  differ("REPORT SUPPORTED OPERATION CODES, an unknown code", 'a',
         {0xA3, 0x0C, 0x01, 0xC7, 0, 0, 0, 0, 1, 0, 0, 0}, Bytes(256), 0, {2, 5, 0x24, 0}, {0, 0, 0, 0});
}

TEST_F(EmulatedCompareTest, PersistentReservationsOfTwoInitiators) {
  const Bytes prOut = {0x5F, 0x00, 0, 0, 0, 0, 0, 0, 24, 0};
  auto out = [&](unsigned char action, unsigned char type) {
    Bytes c = prOut;
    c[1] = action;
    c[2] = type;
    return c;
  };
  const Bytes readKeys = {0x5E, 0x00, 0, 0, 0, 0, 0, 0, 200, 0};
  const Bytes readReservation = {0x5E, 0x01, 0, 0, 0, 0, 0, 0, 200, 0};
  const Bytes read10 = {0x28, 0, 0, 0, 0, 1, 0, 0, 1, 0};
  const Bytes write10 = {0x2A, 0, 0, 0, 0, 1, 0, 0, 1, 0};
  const Bytes block(512, 0x42);
  const std::vector<size_t> keys2 = plus(range(4, 8), range(8, 24));
  both("READ KEYS, none", 'a', readKeys, Bytes(200), 0, range(4, 8));
  both("REGISTER a", 'a', out(0x00, 0), prList(0, 0xA), 1);
  both("REGISTER b", 'b', out(0x00, 0), prList(0, 0xB), 1);
  both("REGISTER b again with the wrong key", 'b', out(0x00, 0), prList(0x7, 0xC), 1);
  both("READ KEYS", 'a', readKeys, Bytes(200), 0, keys2);
  both("RESERVE write exclusive", 'a', out(0x01, 0x01), prList(0xA, 0), 1);
  both("READ RESERVATION", 'b', readReservation, Bytes(200), 0, plus(range(4, 16), {21}));
  both("READ by the other", 'b', read10, Bytes(512), 0, {});
  both("WRITE by the other", 'b', write10, block, 1);
  both("WRITE by the holder", 'a', write10, block, 1);
  both("RESERVE by the other", 'b', out(0x01, 0x01), prList(0xB, 0), 1);
  both("RELEASE by the other: nothing", 'b', out(0x02, 0x01), prList(0xB, 0), 1);
  both("RELEASE of another type", 'a', out(0x02, 0x03), prList(0xA, 0), 1);
  both("PREEMPT the holder, exclusive access", 'b', out(0x04, 0x03), prList(0xB, 0xA), 1);
  // The preempted nexus hears of it: REGISTRATIONS PREEMPTED as the standard has it, tgt says
  // RESERVATIONS PREEMPTED.
  differ("READ by the preempted", 'a', read10, Bytes(512), 0, {2, 6, 0x2A, 0x03}, {2, 6, 0x2A, 0x05});
  both("READ by the preempted, again", 'a', read10, Bytes(512), 0, {});
  both("READ KEYS after it", 'b', readKeys, Bytes(200), 0, range(4, 16));
  both("CLEAR", 'b', out(0x03, 0), prList(0xB, 0), 1);
  both("the cleared reservation, told to the other", 'a', {0, 0, 0, 0, 0, 0}, {}, 2);
  both("READ KEYS, cleared", 'a', readKeys, Bytes(200), 0, range(4, 8));
  both("READ RESERVATION, cleared", 'a', readReservation, Bytes(200), 0, range(4, 8));
  both("WRITE by anyone", 'a', write10, block, 1);
}

}  // namespace
}  // namespace qxscsi::test
