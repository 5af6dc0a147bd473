// Unit attentions of the emulated devices (ua=1): which initiator gets which, and how INQUIRY,
// REPORT LUNS and REQUEST SENSE behave while one is pending.
#include "disk.h"
#include "engine_helpers.h"

namespace qxscsi::backends::emulated {
namespace {

using namespace testing;

class EngineUnitAttentionTest : public ::testing::Test {
 protected:
  std::unique_ptr<Device> device = makeDevice("emulated:disk?capacity=64&luns=2&ua=1");
  Bytes buffer;

  CommandResult tur(const std::string& who, unsigned lun = 0) {
    Bytes cdb(6, 0);
    return device->execute(lun, Command{cdb.data(), 6, 2, nullptr, 0}, who);
  }
  // The sense of the next TEST UNIT READY ({} when it answers GOOD).
  Bytes next(const std::string& who, unsigned lun = 0) { return tur(who, lun).sense; }
  CommandResult inWith(const std::string& who, Bytes cdb, unsigned long length) {
    buffer.assign(length, 0xEE);
    return device->execute(
        0, Command{cdb.data(), static_cast<unsigned>(cdb.size()), 0, buffer.data(), length}, who);
  }
  CommandResult outWith(const std::string& who, Bytes cdb, Bytes data) {
    return device->execute(
        0, Command{cdb.data(), static_cast<unsigned>(cdb.size()), 1, data.data(), data.size()}, who);
  }
  CommandResult prOut(const std::string& who, unsigned char action, unsigned char type, unsigned char key,
                      unsigned char serviceKey) {
    Bytes list(24, 0);
    list[7] = key;
    list[15] = serviceKey;
    return outWith(who, {0x5F, action, type, 0, 0, 0, 0, 0, 24, 0}, list);
  }
  // Each initiator's power-on attention taken away.
  void meet(std::initializer_list<const char*> who) {
    for (const char* w : who) {
      EXPECT_EQ(next(w), sense(0x06, 0x29, 0x00));
      EXPECT_EQ(next(w, 1), sense(0x06, 0x29, 0x00));
    }
  }
};

TEST_F(EngineUnitAttentionTest, PowerOnOncePerInitiatorAndUnit) {
  EXPECT_EQ(next("a"), sense(0x06, 0x29, 0x00));
  EXPECT_EQ(next("a"), Bytes());
  EXPECT_EQ(next("b"), sense(0x06, 0x29, 0x00));
  EXPECT_EQ(next("a", 1), sense(0x06, 0x29, 0x00));
  EXPECT_EQ(next("a", 1), Bytes());
  EXPECT_EQ(next(""), sense(0x06, 0x29, 0x00));  // the default initiator is one more nexus
  // An unknown operation code hears of the attention first.
  Bytes cdb = {0xC7, 0, 0, 0, 0, 0};
  EXPECT_EQ(device->execute(0, Command{cdb.data(), 6, 2, nullptr, 0}, "c").sense, sense(0x06, 0x29, 0x00));
  EXPECT_EQ(device->execute(0, Command{cdb.data(), 6, 2, nullptr, 0}, "c").sense, sense(0x05, 0x20, 0x00));
}

TEST_F(EngineUnitAttentionTest, OffByDefault) {
  device = makeDevice("emulated:disk?capacity=64");
  EXPECT_EQ(tur("a").status, 0);
  static_cast<Disk&>(*device).capacityChanged(0);
  EXPECT_EQ(tur("a").status, 0);
}

TEST_F(EngineUnitAttentionTest, InquiryAndReportLunsPassRequestSenseTakesIt) {
  CommandResult o = inWith("a", {0x12, 0, 0, 0, 36, 0}, 36);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(buffer[0], 0x00);
  EXPECT_EQ(inWith("a", {0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}, 32).status, 0);
  o = inWith("a", {0x03, 0, 0, 0, 18, 0}, 18);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(buffer, sense(0x06, 0x29, 0x00));
  o = inWith("a", {0x03, 0, 0, 0, 18, 0}, 18);
  EXPECT_EQ(buffer, sense(0x00, 0x00, 0x00));
  EXPECT_EQ(next("a"), Bytes());
  // MODE SENSE is an ordinary command: it reports the attention.
  EXPECT_EQ(inWith("b", {0x1A, 0x08, 0x08, 0, 64, 0}, 64).sense, sense(0x06, 0x29, 0x00));
}

TEST_F(EngineUnitAttentionTest, ModeParametersChangedForTheOthers) {
  meet({"a", "b"});
  Bytes caching(24, 0);
  caching[4] = 0x08;
  caching[5] = 0x12;
  caching[6] = 0x04;  // as it is: no change, no attention
  ASSERT_EQ(outWith("a", {0x15, 0x10, 0, 0, 24, 0}, caching).status, 0);
  EXPECT_EQ(next("b"), Bytes());
  caching[6] = 0x00;
  ASSERT_EQ(outWith("a", {0x15, 0x10, 0, 0, 24, 0}, caching).status, 0);
  EXPECT_EQ(next("a"), Bytes());
  EXPECT_EQ(next("b"), sense(0x06, 0x2A, 0x01));
  EXPECT_EQ(next("b"), Bytes());
  EXPECT_EQ(next("b", 1), Bytes());  // the other unit's pages did not change
}

TEST_F(EngineUnitAttentionTest, ReservationEventsAndCapacity) {
  meet({"a", "b", "c"});
  ASSERT_EQ(prOut("a", 0x00, 0, 0, 0x0A).status, 0);
  ASSERT_EQ(prOut("b", 0x00, 0, 0, 0x0B).status, 0);
  ASSERT_EQ(prOut("c", 0x00, 0, 0, 0x0C).status, 0);
  ASSERT_EQ(prOut("a", 0x01, 0x05, 0x0A, 0).status, 0);  // write exclusive, registrants only
  ASSERT_EQ(prOut("a", 0x02, 0x05, 0x0A, 0).status, 0);  // released: the registrants hear of it
  EXPECT_EQ(next("b"), sense(0x06, 0x2A, 0x04));
  EXPECT_EQ(next("c"), sense(0x06, 0x2A, 0x04));
  EXPECT_EQ(next("a"), Bytes());
  ASSERT_EQ(prOut("a", 0x04, 0x01, 0x0A, 0x0B).status, 0);  // PREEMPT b's registration
  EXPECT_EQ(next("b"), sense(0x06, 0x2A, 0x05));
  EXPECT_EQ(next("c"), Bytes());
  ASSERT_EQ(prOut("c", 0x03, 0, 0x0C, 0).status, 0);  // CLEAR
  EXPECT_EQ(next("a"), sense(0x06, 0x2A, 0x03));
  EXPECT_EQ(next("b"), Bytes());  // no longer registered
  static_cast<Disk&>(*device).capacityChanged(1);
  for (const char* who : {"a", "b", "c"}) {
    EXPECT_EQ(next(who), Bytes());
    EXPECT_EQ(next(who, 1), sense(0x06, 0x2A, 0x09));
  }
  // Queued attentions come one per command, oldest first.
  static_cast<Disk&>(*device).capacityChanged(0);
  static_cast<Disk&>(*device).capacityChanged(0);
  EXPECT_EQ(next("a"), sense(0x06, 0x2A, 0x09));
  EXPECT_EQ(next("a"), sense(0x06, 0x2A, 0x09));
  EXPECT_EQ(next("a"), Bytes());
}

}  // namespace
}  // namespace qxscsi::backends::emulated
