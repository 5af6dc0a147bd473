// The hostile modes of the emulated engine, byte for byte: what each mode hands the host and
// that the refusing modes leave the device untouched.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "hostile.h"
#include "options.h"

namespace qxscsi::backends::emulated {
namespace {

using Bytes = std::vector<unsigned char>;

class HostileEngineTest : public ::testing::Test {
 protected:
  static std::unique_ptr<Device> device(const std::string& name) {
    Options options;
    std::string error;
    EXPECT_TRUE(Options::parse(name, options, error)) << error;
    return Device::create(options);
  }

  CommandResult run(Hostility mode, const Bytes& cdb, int direction, unsigned char* data, unsigned long length) {
    return executeHostile(
        *disk, 0, Command{cdb.data(), static_cast<unsigned>(cdb.size()), direction, data, length}, mode, how);
  }

  std::unique_ptr<Device> disk = device("emulated:disk?luns=3&capacity=16");
  Mistreatment how;
};

TEST_F(HostileEngineTest, NamesAcceptEveryModeAndRefuseOthersWithTheList) {
  for (const char* mode : {"lengths", "descriptors", "sense0", "sense1", "sense17", "sense18", "sense255",
                           "nosense", "busy", "conflict", "taskfull", "timeout"}) {
    Options options;
    std::string error;
    EXPECT_TRUE(Options::parse(std::string("emulated:tape?hostile=") + mode, options, error)) << error;
    EXPECT_EQ(options.text("hostile"), mode);
  }
  for (const char* bad : {"emulated:disk?hostile=", "emulated:disk?hostile=Busy",
                          "emulated:disk?hostile=sense2", "emulated:disk?hostile=busy&hostile=timeout"}) {
    Options options;
    std::string error;
    EXPECT_FALSE(Options::parse(bad, options, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  Options options;
  std::string error;
  ASSERT_FALSE(Options::parse("emulated:disk?hostile=slow", options, error));
  EXPECT_NE(error.find("taskfull"), std::string::npos) << error;
}

TEST_F(HostileEngineTest, HostileDeviceIsNotTheWellBehavedOneOfTheSameShape) {
  Options plain;
  Options hostile;
  std::string error;
  ASSERT_TRUE(Options::parse("emulated:disk", plain, error));
  ASSERT_TRUE(Options::parse("emulated:disk?hostile=busy", hostile, error));
  EXPECT_NE(plain.deviceKey(), hostile.deviceKey());
  Hostility mode = Hostility::busy;
  EXPECT_TRUE(hostilityFrom(plain.text("hostile"), mode));
  EXPECT_EQ(mode, Hostility::none);
}

TEST_F(HostileEngineTest, SenseModesHandOverExactlyTheirBytes) {
  const Bytes honest = {0xF0, 0x00, 0x0B, 0xDE, 0xAD, 0xBE, 0xEF, 0x0A, 0xC0,
                        0xFF, 0xEE, 0x00, 0x08, 0x00, 0x00, 0x80, 0x00, 0x00};
  const Bytes tur = {0, 0, 0, 0, 0, 0};
  CommandResult o = run(Hostility::sense18, tur, 2, nullptr, 0);
  EXPECT_TRUE(o.executed);
  EXPECT_EQ(o.status, 0x02);
  EXPECT_EQ(o.sense, honest);

  o = run(Hostility::sense17, tur, 2, nullptr, 0);
  ASSERT_EQ(o.sense.size(), 17u);
  EXPECT_EQ(o.sense[7], 0xFF);  // claims more than arrives
  EXPECT_EQ(Bytes(o.sense.begin(), o.sense.begin() + 7), Bytes(honest.begin(), honest.begin() + 7));

  o = run(Hostility::sense1, tur, 2, nullptr, 0);
  EXPECT_EQ(o.sense, Bytes{0xF0});

  o = run(Hostility::sense255, tur, 2, nullptr, 0);
  ASSERT_EQ(o.sense.size(), 255u);
  EXPECT_EQ(o.sense[7], 0xFF);
  EXPECT_EQ(o.sense[18], 18);
  EXPECT_EQ(o.sense[254], 254);
  EXPECT_FALSE(how.deliverEmptySense);

  o = run(Hostility::sense0, tur, 2, nullptr, 0);
  EXPECT_EQ(o.status, 0x02);
  EXPECT_TRUE(o.sense.empty());
  EXPECT_TRUE(how.deliverEmptySense);

  o = run(Hostility::noSense, tur, 2, nullptr, 0);
  EXPECT_EQ(o.status, 0x02);
  EXPECT_TRUE(o.sense.empty());
  EXPECT_FALSE(how.deliverEmptySense);
}

TEST_F(HostileEngineTest, RefusingModesNeitherTransferNorChangeTheMedium) {
  const Bytes write10 = {0x2A, 0, 0, 0, 0, 2, 0, 0, 1, 0};
  const Bytes read10 = {0x28, 0, 0, 0, 0, 2, 0, 0, 1, 0};
  Bytes block(512, 0x5C);
  const std::pair<Hostility, unsigned char> refusals[] = {
      {Hostility::busy, 0x08},    {Hostility::conflict, 0x18}, {Hostility::taskSetFull, 0x28},
      {Hostility::sense18, 0x02}, {Hostility::noSense, 0x02},  {Hostility::timeout, 0x00}};
  for (const auto& [mode, status] : refusals) {
    CommandResult o = run(mode, write10, 1, block.data(), block.size());
    EXPECT_EQ(o.status, status);
    EXPECT_EQ(how.timedOut, mode == Hostility::timeout);
    Bytes in(512, 0xA5);
    o = run(mode, read10, 0, in.data(), in.size());
    EXPECT_EQ(o.transferred, 0u);
    EXPECT_EQ(in, Bytes(512, 0xA5)) << "data arrived from a refusing device";
  }
  // The medium never saw the writes.
  Bytes in(512, 0xA5);
  CommandResult o = run(Hostility::none, read10, 0, in.data(), in.size());
  EXPECT_EQ(o.status, 0x00);
  EXPECT_EQ(in, Bytes(512, 0x00));
}

TEST_F(HostileEngineTest, LengthsModeOverstatesAndCutsTheTransferShort) {
  // REPORT LUNS of a three-unit device into 40 bytes: 32 arrive from the device, 20 reach the host.
  const Bytes reportLuns = {0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0};
  Bytes buffer(40, 0xA5);
  CommandResult o = run(Hostility::lengths, reportLuns, 0, buffer.data(), buffer.size());
  EXPECT_EQ(o.status, 0x00);
  EXPECT_EQ(o.transferred, 20u);
  const Bytes expected = {0xFF, 0xFF, 0xFF, 0xFC, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0};
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 20), expected);
  EXPECT_EQ(Bytes(buffer.begin() + 20, buffer.end()), Bytes(20, 0xA5));

  // Standard INQUIRY: additional length 255 in a 36-byte answer of which 22 bytes arrive.
  const Bytes inquiry = {0x12, 0, 0, 0, 36, 0};
  buffer.assign(36, 0xA5);
  o = run(Hostility::lengths, inquiry, 0, buffer.data(), buffer.size());
  EXPECT_EQ(buffer[4], 0xFF);
  EXPECT_EQ(o.transferred, 22u);
  EXPECT_EQ(Bytes(buffer.begin() + 22, buffer.end()), Bytes(14, 0xA5));

  // Fewer than the bytes of a length field: nothing is overstated outside what arrived.
  const Bytes shortInquiry = {0x12, 0, 0, 0, 4, 0};
  buffer.assign(4, 0xA5);
  o = run(Hostility::lengths, shortInquiry, 0, buffer.data(), buffer.size());
  EXPECT_EQ(o.transferred, 4u);
  EXPECT_NE(buffer[3], 0xA5);
}

TEST_F(HostileEngineTest, DescriptorsModeRunsTheFirstDesignatorPastThePage) {
  const Bytes vpd83 = {0x12, 1, 0x83, 0, 255, 0};
  Bytes honest(255, 0);
  CommandResult o = run(Hostility::none, vpd83, 0, honest.data(), honest.size());
  ASSERT_EQ(o.status, 0x00);
  Bytes buffer(255, 0);
  o = run(Hostility::descriptors, vpd83, 0, buffer.data(), buffer.size());
  ASSERT_EQ(o.status, 0x00);
  const unsigned pageLength = honest[2] << 8 | honest[3];
  EXPECT_EQ(buffer[2] << 8 | buffer[3], pageLength + 200);
  EXPECT_EQ(buffer[7], 0xFF);
  EXPECT_EQ(Bytes(buffer.begin() + 8, buffer.end()), Bytes(honest.begin() + 8, honest.end()));
}

}  // namespace
}  // namespace qxscsi::backends::emulated
