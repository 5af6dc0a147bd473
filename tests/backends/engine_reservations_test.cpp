// Initiators of the emulated disk and its persistent reservations: PERSISTENT RESERVE IN/OUT
// byte for byte, and which commands each reservation type bars for the other initiators.
#include "disk.h"
#include "engine_helpers.h"
#include "options.h"
#include "qxscsi/backends/install.h"
#include "qxscsi/commands.h"
#include "qxscsi/target.h"

namespace qxscsi::backends::emulated {
namespace {

using namespace testing;

constexpr unsigned char conflict_c = 0x18;

Bytes be64(uint64_t v) {
  Bytes b = be32(static_cast<uint32_t>(v >> 32)), low = be32(static_cast<uint32_t>(v));
  b.insert(b.end(), low.begin(), low.end());
  return b;
}

class EngineReservationsTest : public ::testing::Test {
 protected:
  std::unique_ptr<Device> device = makeDevice("emulated:disk?capacity=64");
  Disk& disk = static_cast<Disk&>(*device);
  Bytes buffer;

  CommandResult prOut(const std::string& who, unsigned char action, unsigned char type, uint64_t key,
                      uint64_t serviceKey, unsigned char flags = 0, unsigned length = 24) {
    Bytes list = be64(key);
    Bytes s = be64(serviceKey);
    list.insert(list.end(), s.begin(), s.end());
    list.resize(24, 0);
    list[20] = flags;
    list.resize(length, 0);
    Bytes cdb = {0x5F, action, type, 0, 0, 0, 0, 0, static_cast<unsigned char>(length), 0};
    return device->execute(0, Command{cdb.data(), 10, 1, list.data(), list.size()}, who);
  }
  Bytes prIn(const std::string& who, unsigned char action) {
    Bytes cdb = {0x5E, action, 0, 0, 0, 0, 0, 0, 200, 0};
    buffer.assign(200, 0xEE);
    CommandResult o = device->execute(0, Command{cdb.data(), 10, 0, buffer.data(), 200}, who);
    EXPECT_EQ(o.status, 0);
    return Bytes(buffer.begin(), buffer.begin() + o.transferred);
  }
  unsigned char status(const std::string& who, Bytes cdb, int direction = 0) {
    buffer.assign(4096, 0);
    return device
        ->execute(0, Command{cdb.data(), static_cast<unsigned>(cdb.size()), direction, buffer.data(), 4096},
                  who)
        .status;
  }
  unsigned char read(const std::string& who) { return status(who, {0x28, 0, 0, 0, 0, 1, 0, 0, 1, 0}); }
  unsigned char write(const std::string& who) { return status(who, {0x2A, 0, 0, 0, 0, 1, 0, 0, 1, 0}, 1); }
};

TEST_F(EngineReservationsTest, RegisterReserveAndReadBack) {
  EXPECT_EQ(prIn("a", 0x00), (Bytes{0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(prIn("a", 0x01), (Bytes{0, 0, 0, 0, 0, 0, 0, 0}));
  ASSERT_EQ(prOut("a", 0x00, 0, 0, 0xA1).status, 0);
  ASSERT_EQ(prOut("b", 0x00, 0, 0, 0xB2).status, 0);
  EXPECT_EQ(prIn("b", 0x00),
            (Bytes{0, 0, 0, 2, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0xA1, 0, 0, 0, 0, 0, 0, 0, 0xB2}));
  ASSERT_EQ(prOut("a", 0x01, 0x03, 0xA1, 0).status, 0);  // exclusive access
  // RESERVE does not count as a generation.
  EXPECT_EQ(prIn("b", 0x01),
            (Bytes{0, 0, 0, 2, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0xA1, 0, 0, 0, 0, 0, 0x03, 0, 0}));
  EXPECT_EQ(read("b"), conflict_c);
  EXPECT_EQ(read("a"), 0);
  // Capabilities: PTPL_C; TMV; types WE, EA, WE-RO, EA-RO, WE-AR, EA-AR.
  EXPECT_EQ(prIn("c", 0x02), (Bytes{0, 8, 0x01, 0x80, 0xEA, 0x01, 0, 0}));
  ASSERT_EQ(prOut("a", 0x00, 0, 0xA1, 0xA1, 0x01).status, 0);  // APTPL set
  EXPECT_EQ(prIn("c", 0x02)[3], 0x81);
}

TEST_F(EngineReservationsTest, OutChecksAndConflicts) {
  ASSERT_EQ(prOut("a", 0x00, 0, 0, 0xA1).status, 0);
  struct Case {
    const char* what;
    std::string who;
    unsigned char action, type;
    uint64_t key, serviceKey;
    unsigned char flags;
    unsigned length;
    unsigned char status;
    Bytes sense;
  };
  Bytes cdbField = sense(0x05, 0x24, 0x00);
  cdbField[15] = 0xC0;
  auto inCdb = [&](unsigned byte, int bit) {
    Bytes s = cdbField;
    if (bit >= 0) s[15] |= 0x08 | bit;
    s[17] = static_cast<unsigned char>(byte);
    return s;
  };
  auto inList = [&](unsigned byte, int bit) {
    Bytes s = sense(0x05, 0x26, 0x00);
    s[15] = 0x80 | (bit >= 0 ? 0x08 | bit : 0);
    s[17] = static_cast<unsigned char>(byte);
    return s;
  };
  const Case cases[] = {
      {"REGISTER with a wrong key", "a", 0x00, 0, 0xA2, 0xA3, 0, 24, conflict_c, {}},
      {"REGISTER unregistered with a key", "b", 0x00, 0, 0x01, 0xB1, 0, 24, conflict_c, {}},
      {"RESERVE unregistered", "b", 0x01, 0x01, 0, 0, 0, 24, conflict_c, {}},
      {"RESERVE with a wrong key", "a", 0x01, 0x01, 0xA2, 0, 0, 24, conflict_c, {}},
      {"RESERVE type 2", "a", 0x01, 0x02, 0xA1, 0, 0, 24, 2, inCdb(2, 3)},
      {"RESERVE element scope", "a", 0x01, 0x21, 0xA1, 0, 0, 24, 2, inCdb(2, 7)},
      {"REGISTER AND MOVE", "a", 0x07, 0, 0xA1, 0, 0, 24, 2, inCdb(1, 4)},
      {"parameter list of 28 bytes", "a", 0x00, 0, 0xA1, 0, 0, 28, 2, sense(0x05, 0x1A, 0x00)},
      {"SPEC_I_PT", "a", 0x00, 0, 0xA1, 0xA5, 0x08, 24, 2, inList(20, 3)},
      {"ALL_TG_PT", "a", 0x00, 0, 0xA1, 0xA5, 0x04, 24, 2, inList(20, 2)},
      {"PREEMPT of key 0 without a reservation", "a", 0x04, 0x01, 0xA1, 0, 0, 24, 2, inList(8, -1)},
      {"PREEMPT of a key nobody has", "a", 0x04, 0x01, 0xA1, 0x77, 0, 24, conflict_c, {}},
      {"CLEAR unregistered", "b", 0x03, 0, 0, 0, 0, 24, conflict_c, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CommandResult o = prOut(c.who, c.action, c.type, c.key, c.serviceKey, c.flags, c.length);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.sense, c.sense);
    EXPECT_EQ(prIn("a", 0x00), (Bytes{0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0xA1}));
    EXPECT_EQ(prIn("a", 0x01).size(), 8u);
  }
  EXPECT_EQ(status("a", {0x5E, 0x03, 0, 0, 0, 0, 0, 0, 200, 0}), 2);  // READ FULL STATUS
}

TEST_F(EngineReservationsTest, EachTypeBarsWhatTheStandardSays) {
  // Per type: READ and WRITE from a registered non-holder, then from an unregistered initiator.
  struct Case {
    unsigned char type;
    unsigned char registeredRead, registeredWrite, strangerRead, strangerWrite;
  };
  const Case cases[] = {
      {0x01, 0, conflict_c, 0, conflict_c},                    // write exclusive
      {0x03, conflict_c, conflict_c, conflict_c, conflict_c},  // exclusive access
      {0x05, 0, 0, 0, conflict_c},                             // write exclusive, registrants only
      {0x06, 0, 0, conflict_c, conflict_c},                    // exclusive access, registrants only
      {0x07, 0, 0, 0, conflict_c},                             // write exclusive, all registrants
      {0x08, 0, 0, conflict_c, conflict_c},                    // exclusive access, all registrants
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.type));
    device = makeDevice("emulated:disk?capacity=64");
    ASSERT_EQ(prOut("h", 0x00, 0, 0, 0x11).status, 0);
    ASSERT_EQ(prOut("r", 0x00, 0, 0, 0x22).status, 0);
    ASSERT_EQ(prOut("h", 0x01, c.type, 0x11, 0).status, 0);
    EXPECT_EQ(read("r"), c.registeredRead);
    EXPECT_EQ(write("r"), c.registeredWrite);
    EXPECT_EQ(read("s"), c.strangerRead);
    EXPECT_EQ(write("s"), c.strangerWrite);
    EXPECT_EQ(write("h"), 0);
    // Always allowed: INQUIRY, TEST UNIT READY, READ CAPACITY, REPORT LUNS, PR IN, a start.
    EXPECT_EQ(status("s", {0x12, 0, 0, 0, 36, 0}), 0);
    EXPECT_EQ(status("s", {0x00, 0, 0, 0, 0, 0}, 2), 0);
    EXPECT_EQ(status("s", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 0);
    EXPECT_EQ(status("s", {0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0}), 0);
    EXPECT_EQ(status("s", {0x5E, 0, 0, 0, 0, 0, 0, 0, 8, 0}), 0);
    EXPECT_EQ(status("s", {0x1B, 0, 0, 0, 0x01, 0}, 2), 0);
    // Barred for a stranger under every type: MODE SENSE, MODE SELECT, a stop, SYNCHRONIZE CACHE.
    EXPECT_EQ(status("s", {0x1A, 0x08, 0x08, 0, 64, 0}), conflict_c);
    EXPECT_EQ(status("s", {0x1B, 0, 0, 0, 0x00, 0}, 2), conflict_c);
    EXPECT_EQ(status("s", {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 2), conflict_c);
  }
}

TEST_F(EngineReservationsTest, ReleaseClearAndPreempt) {
  ASSERT_EQ(prOut("a", 0x00, 0, 0, 0xA1).status, 0);
  ASSERT_EQ(prOut("b", 0x06, 0, 0x999, 0xB2).status, 0);  // REGISTER AND IGNORE EXISTING KEY
  ASSERT_EQ(prOut("c", 0x00, 0, 0, 0xB2).status, 0);      // two nexuses may share a key
  ASSERT_EQ(prOut("a", 0x01, 0x01, 0xA1, 0).status, 0);
  EXPECT_EQ(prOut("b", 0x01, 0x01, 0xB2, 0).status, conflict_c);  // held by another
  EXPECT_EQ(prOut("a", 0x01, 0x03, 0xA1, 0).status, conflict_c);  // the holder, another type
  EXPECT_EQ(prOut("a", 0x01, 0x01, 0xA1, 0).status, 0);           // the same again
  EXPECT_EQ(prOut("b", 0x02, 0x01, 0xB2, 0).status, 0);           // not the holder: nothing
  EXPECT_EQ(prIn("a", 0x01).size(), 24u);
  EXPECT_EQ(prOut("a", 0x02, 0x03, 0xA1, 0).sense, sense(0x05, 0x26, 0x04));  // wrong type
  // PREEMPT the holder: the registrations of its key go, the reservation changes hands.
  ASSERT_EQ(prOut("b", 0x04, 0x03, 0xB2, 0xA1).status, 0);
  EXPECT_EQ(prIn("b", 0x01),
            (Bytes{0, 0, 0, 4, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0xB2, 0, 0, 0, 0, 0, 0x03, 0, 0}));
  EXPECT_EQ(prIn("b", 0x00),
            (Bytes{0, 0, 0, 4, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0xB2, 0, 0, 0, 0, 0, 0, 0, 0xB2}));
  EXPECT_EQ(write("a"), conflict_c);
  // The holder unregisters: its reservation ends with it.
  ASSERT_EQ(prOut("b", 0x00, 0, 0xB2, 0).status, 0);
  EXPECT_EQ(prIn("c", 0x01), (Bytes{0, 0, 0, 5, 0, 0, 0, 0}));
  // All registrants: every registrant holds it, READ RESERVATION shows key 0; PREEMPT with key 0
  // takes it over and removes everyone else.
  ASSERT_EQ(prOut("a", 0x00, 0, 0, 0xA1).status, 0);
  ASSERT_EQ(prOut("c", 0x01, 0x08, 0xB2, 0).status, 0);
  EXPECT_EQ(write("a"), 0);
  EXPECT_EQ(prIn("a", 0x01),
            (Bytes{0, 0, 0, 6, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x08, 0, 0}));
  ASSERT_EQ(prOut("a", 0x04, 0x01, 0xA1, 0).status, 0);
  EXPECT_EQ(prIn("a", 0x01),
            (Bytes{0, 0, 0, 7, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0xA1, 0, 0, 0, 0, 0, 0x01, 0, 0}));
  EXPECT_EQ(prIn("a", 0x00), (Bytes{0, 0, 0, 7, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0xA1}));
  // CLEAR: nothing is left.
  ASSERT_EQ(prOut("a", 0x03, 0, 0xA1, 0).status, 0);
  EXPECT_EQ(prIn("a", 0x00), (Bytes{0, 0, 0, 8, 0, 0, 0, 0}));
  EXPECT_EQ(prIn("a", 0x01), (Bytes{0, 0, 0, 8, 0, 0, 0, 0}));
  EXPECT_EQ(write("c"), 0);
}

TEST_F(EngineReservationsTest, StateKeepsReservationsOnlyWithAptpl) {
  ASSERT_EQ(prOut("a", 0x00, 0, 0, 0xA1).status, 0);
  ASSERT_EQ(prOut("a", 0x01, 0x01, 0xA1, 0).status, 0);
  DiskState back;
  std::string error;
  ASSERT_TRUE(DiskState::decode(disk.state().encode(), &back, &error)) << error;
  EXPECT_FALSE(back.units[0].reservations.reserved());  // lost with the power
  ASSERT_EQ(prOut("a", 0x00, 0, 0xA1, 0xA1, 0x01).status, 0);
  ASSERT_TRUE(DiskState::decode(disk.state().encode(), &back, &error)) << error;
  EXPECT_EQ(back, disk.state());
  // A fresh disk given the state has the reservation.
  device = makeDevice("emulated:disk?capacity=64");
  ASSERT_TRUE(static_cast<Disk&>(*device).restore(back, &error)) << error;
  EXPECT_EQ(write("b"), conflict_c);
  EXPECT_EQ(write("a"), 0);
}

TEST(InitiatorOptionTest, NamesANexusNotADevice) {
  Options a, b;
  std::string error;
  ASSERT_TRUE(Options::parse("emulated:disk?initiator=iqn.2026-01.org.example:host-1", a, error)) << error;
  ASSERT_TRUE(Options::parse("emulated:disk", b, error)) << error;
  EXPECT_EQ(a.deviceKey(), b.deviceKey());
  EXPECT_EQ(a.text("serial"), b.text("serial"));
  EXPECT_EQ(a.text("initiator"), "iqn.2026-01.org.example:host-1");
  ASSERT_TRUE(Options::parse("emulated:tape?ua=1", a, error)) << error;
  EXPECT_EQ(a.number("ua"), 1u);
  for (const char* bad :
       {"emulated:disk?initiator=", "emulated:disk?initiator=a b", "emulated:disk?initiator=a/b",
        "emulated:disk?ua=2", "emulated:disk?initiator=x&initiator=y"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(Options::parse(bad, a, error));
  }
  EXPECT_TRUE(Options::parse("emulated:disk?initiator=" + std::string(223, 'x'), a, error));
  EXPECT_FALSE(Options::parse("emulated:disk?initiator=" + std::string(224, 'x'), a, error));
}

// Through targets: two openings of one disk under different initiators are two nexuses.
TEST(InitiatorTargetTest, OpeningsWithOtherInitiatorsAreOtherNexuses) {
  std::unique_ptr<Installation> installation = install();
  ASSERT_NE(installation, nullptr);
  auto open = [](QXScsiTarget& t, const char* name) {
    QXScsiTarget::Parameters params;
    QXScsi::setParameter("access_target", "y", params);
    return t.initScsiTarget(name, QXScsiDevice(std::string(name)), -1, &params);
  };
  auto run = [](QXScsiTarget& t, Bytes cdb, Bytes& data, int direction) {
    QXScsiAnyArgs args(cdb.data(), static_cast<int>(cdb.size()), data.data(), data.size(), direction);
    QXScsiCmd* cmd = t.cmdCall(args, 0);
    int status = cmd ? cmd->scsiStatus() : -1;
    QXScsiFreeCmd(cmd);
    return status;
  };
  QXScsiTarget a, b;
  ASSERT_TRUE(open(a, "emulated:disk?initiator=alpha&id=nexus"));
  ASSERT_TRUE(open(b, "emulated:disk?id=nexus&initiator=beta"));
  Bytes list = be64(0);
  Bytes key = be64(0x0A);
  list.insert(list.end(), key.begin(), key.end());
  list.resize(24, 0);
  ASSERT_EQ(run(a, {0x5F, 0x00, 0, 0, 0, 0, 0, 0, 24, 0}, list, 1), 0);
  Bytes reserve = key;
  reserve.resize(24, 0);
  ASSERT_EQ(run(a, {0x5F, 0x01, 0x03, 0, 0, 0, 0, 0, 24, 0}, reserve, 1), 0);
  Bytes block(512, 0);
  EXPECT_EQ(run(a, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, block, 0), 0);
  EXPECT_EQ(run(b, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, block, 0), conflict_c);
}

}  // namespace
}  // namespace qxscsi::backends::emulated
