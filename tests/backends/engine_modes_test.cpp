// The emulated disk's MODE SENSE and MODE SELECT (6 and 10): pages, PC, block descriptors and
// the checks of a parameter list, byte for byte.
#include "disk.h"
#include "engine_helpers.h"

namespace qxscsi::backends::emulated {
namespace {

using namespace testing;

// The pages as MODE SENSE returns them (PS set): current/default values and changeable masks.
const Bytes p01 = {0x81, 0x0A, 0xC0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes p08 = {0x88, 0x12, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes p0A = {0x8A, 0x0A, 0x02, 0x10, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes p1C = {0x9C, 0x0A, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes m01 = {0x81, 0x0A, 0xC0, 0xFF, 0, 0, 0, 0, 0xFF, 0, 0xFF, 0xFF};
const Bytes m08 = {0x88, 0x12, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes m0A = {0x8A, 0x0A, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes m1C = {0x9C, 0x0A, 0x9D, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
// Block descriptors of a 300-block disk of 512-byte blocks.
const Bytes shortBd = {0, 0, 0x01, 0x2C, 0, 0, 0x02, 0x00};
const Bytes longBd = {0, 0, 0, 0, 0, 0, 0x01, 0x2C, 0, 0, 0, 0, 0, 0, 0x02, 0x00};

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes fieldSense(unsigned char asc, bool inCdb, unsigned byte, int bit = -1) {
  Bytes s = sense(0x05, asc, 0x00);
  s[15] = (inCdb ? 0xC0 : 0x80) | (bit >= 0 ? 0x08 | bit : 0);
  s[17] = static_cast<unsigned char>(byte);
  return s;
}

Bytes withoutPs(Bytes page) {
  page[0] &= 0x3F;
  return page;
}

class EngineModesTest : public ::testing::Test {
 protected:
  std::unique_ptr<Device> device = makeDevice("emulated:disk?capacity=300&block=512");
  Bytes buffer;

  CommandResult sense6(unsigned char byte1, unsigned char byte2, unsigned char sub = 0,
                       unsigned char alloc = 255) {
    return in(*device, {0x1A, byte1, byte2, sub, alloc, 0}, buffer, 255);
  }
  CommandResult sense10(unsigned char byte1, unsigned char byte2, unsigned char sub = 0) {
    return in(*device, {0x5A, byte1, byte2, sub, 0, 0, 0, 0x01, 0x00, 0}, buffer, 256);
  }
  Bytes got(const CommandResult& o) const { return Bytes(buffer.begin(), buffer.begin() + o.transferred); }
  CommandResult select6(unsigned char byte1, Bytes list) {
    return out(*device, {0x15, byte1, 0, 0, static_cast<unsigned char>(list.size()), 0}, list);
  }
  CommandResult select10(unsigned char byte1, Bytes list) {
    return out(*device,
               {0x55, byte1, 0, 0, 0, 0, 0, static_cast<unsigned char>(list.size() >> 8),
                static_cast<unsigned char>(list.size()), 0},
               list);
  }
  // The current value of `page` read back with MODE SENSE(6), DBD set.
  Bytes current(unsigned char page, unsigned char pc = 0) {
    CommandResult o = sense6(0x08, static_cast<unsigned char>(pc << 6 | page));
    EXPECT_EQ(o.status, 0);
    return Bytes(buffer.begin() + 4, buffer.begin() + o.transferred);
  }
};

TEST_F(EngineModesTest, SenseReturnsEachPageAndControlOfEveryForm) {
  struct Case {
    const char* what;
    bool ten;
    unsigned char byte1, byte2, sub;
    Bytes expected;
  };
  const Case cases[] = {
      {"6, caching, block descriptor", false, 0x00, 0x08, 0, cat({{31, 0, 0x10, 8}, shortBd, p08})},
      {"6, DBD, error recovery", false, 0x08, 0x01, 0, cat({{15, 0, 0x10, 0}, p01})},
      {"6, DBD, control", false, 0x08, 0x0A, 0, cat({{15, 0, 0x10, 0}, p0A})},
      {"6, DBD, informational exceptions", false, 0x08, 0x1C, 0, cat({{15, 0, 0x10, 0}, p1C})},
      {"6, all pages", false, 0x00, 0x3F, 0, cat({{67, 0, 0x10, 8}, shortBd, p01, p08, p0A, p1C})},
      {"6, all pages and subpages", false, 0x08, 0x3F, 0xFF, cat({{59, 0, 0x10, 0}, p01, p08, p0A, p1C})},
      {"6, changeable", false, 0x08, 0x7F, 0, cat({{59, 0, 0x10, 0}, m01, m08, m0A, m1C})},
      {"6, default", false, 0x08, 0x88, 0, cat({{23, 0, 0x10, 0}, p08})},
      {"6, saved", false, 0x08, 0xC8, 0, cat({{23, 0, 0x10, 0}, p08})},
      {"10, short block descriptor", true, 0x00, 0x0A, 0, cat({{0, 26, 0, 0x10, 0, 0, 0, 8}, shortBd, p0A})},
      {"10, LLBAA: long block descriptor", true, 0x10, 0x0A, 0,
       cat({{0, 34, 0, 0x10, 1, 0, 0, 16}, longBd, p0A})},
      {"10, LLBAA and DBD", true, 0x18, 0x1C, 0, cat({{0, 18, 0, 0x10, 0, 0, 0, 0}, p1C})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CommandResult o = c.ten ? sense10(c.byte1, c.byte2, c.sub) : sense6(c.byte1, c.byte2, c.sub);
    ASSERT_EQ(o.status, 0) << c.what;
    EXPECT_EQ(got(o), c.expected);
  }
}

TEST_F(EngineModesTest, SenseRefusesWhatItDoesNotHaveAndHonoursTheAllocationLength) {
  struct Case {
    const char* what;
    Bytes cdb;
    Bytes sense;
  };
  const Case cases[] = {
      {"LLBAA in the 6-byte form", {0x1A, 0x10, 0x08, 0, 255, 0}, fieldSense(0x24, true, 1, 4)},
      {"reserved bit", {0x5A, 0x01, 0x08, 0, 0, 0, 0, 0, 255, 0}, fieldSense(0x24, true, 1, 0)},
      {"page 02h", {0x1A, 0x00, 0x02, 0, 255, 0}, fieldSense(0x24, true, 2, 5)},
      {"subpage 01h", {0x1A, 0x00, 0x08, 0x01, 255, 0}, fieldSense(0x24, true, 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CommandResult o = in(*device, c.cdb, buffer, 255);
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.sense, c.sense);
    EXPECT_EQ(o.transferred, 0u);
  }
  // Four bytes allowed: the header arrives, still telling the whole length.
  CommandResult o = sense6(0x00, 0x3F, 0, 4);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(got(o), (Bytes{67, 0, 0x10, 8}));
  EXPECT_EQ(o.beyond, 0u);  // what the allocation length cuts off is no residual of the buffer
}

TEST_F(EngineModesTest, SelectChangesOnlyChangeableBitsAndSavesWithSp) {
  Bytes caching = withoutPs(p08);
  caching[2] = 0x01;  // WCE off, RCD on
  CommandResult o = select6(0x10, cat({{0, 0, 0, 0}, caching}));
  ASSERT_EQ(o.status, 0) << o.sense.size();
  Bytes expected = p08;
  expected[2] = 0x01;
  EXPECT_EQ(current(0x08), expected);
  EXPECT_EQ(current(0x08, 3), p08);  // not saved
  EXPECT_EQ(current(0x08, 2), p08);

  // PS as MODE SENSE gave it is accepted; SP saves every page.
  Bytes recovery = p01;
  recovery[3] = 5;      // read retry count
  recovery[10] = 0x12;  // recovery time limit
  o = select10(0x11, cat({{0, 0, 0, 0, 0, 0, 0, 8}, shortBd, recovery}));
  ASSERT_EQ(o.status, 0);
  EXPECT_EQ(current(0x01), recovery);
  EXPECT_EQ(current(0x01, 3), recovery);
  EXPECT_EQ(current(0x08, 3), expected);
  Disk& disk = static_cast<Disk&>(*device);
  EXPECT_EQ(disk.state().units[0].savedPages.at(0x01), withoutPs(recovery));

  // A long LBA block descriptor with 0 blocks changes nothing.
  o = select10(0x10, cat({{0, 0, 0, 0, 1, 0, 0, 16}, Bytes(14, 0), {0x02, 0x00}}));
  EXPECT_EQ(o.status, 0);
  // No parameter list: nothing to do.
  EXPECT_EQ(select6(0x11, {}).status, 0);
}

TEST_F(EngineModesTest, SelectRefusesBadListsAndChangesNothing) {
  const Bytes h6 = {0, 0, 0, 0};
  Bytes fixedBit = withoutPs(p0A);
  fixedBit[3] = 0x00;  // QAM is not changeable
  Bytes wrongLength = withoutPs(p08);
  wrongLength[1] = 0x0A;
  Bytes subpage = withoutPs(p08);
  subpage[0] |= 0x40;
  Bytes badBlock = shortBd;
  badBlock[6] = 0x10;  // 4096-byte blocks
  Bytes badCount = shortBd;
  badCount[3] = 0x2B;
  struct Case {
    const char* what;
    bool ten;
    unsigned char byte1;
    Bytes list;
    Bytes sense;
  };
  const Case cases[] = {
      {"PF clear", false, 0x00, cat({h6, withoutPs(p08)}), fieldSense(0x24, true, 1, 4)},
      {"reserved CDB bit", false, 0x12, cat({h6, withoutPs(p08)}), fieldSense(0x24, true, 1, 1)},
      {"shorter than its header", false, 0x10, {0, 0, 0}, sense(0x05, 0x1A, 0x00)},
      {"10-byte header cut short", true, 0x10, {0, 0, 0, 0, 0, 0}, sense(0x05, 0x1A, 0x00)},
      {"medium type", false, 0x10, cat({{0, 1, 0, 0}, withoutPs(p08)}), fieldSense(0x26, false, 1)},
      {"block descriptor length 4", false, 0x10, cat({{0, 0, 0, 4}, {0, 0, 0, 0}}),
       fieldSense(0x26, false, 3)},
      {"block descriptor beyond the list", false, 0x10, {0, 0, 0, 8, 0, 0}, sense(0x05, 0x1A, 0x00)},
      {"other block length", false, 0x10, cat({{0, 0, 0, 8}, badBlock}), fieldSense(0x26, false, 9)},
      {"other capacity", false, 0x10, cat({{0, 0, 0, 8}, badCount}), fieldSense(0x26, false, 4)},
      {"reserved bit of the 10-byte header",
       true,
       0x10,
       {0, 0, 0, 0, 0x02, 0, 0, 0},
       fieldSense(0x26, false, 4, 1)},
      {"a bit that cannot change", false, 0x10, cat({h6, fixedBit}), fieldSense(0x26, false, 7, 4)},
      {"page length", false, 0x10, cat({h6, wrongLength}), fieldSense(0x26, false, 5)},
      {"subpage format", false, 0x10, cat({h6, subpage}), fieldSense(0x26, false, 4, 6)},
      {"page 02h", false, 0x10, cat({h6, {0x02, 0x0E}, Bytes(14, 0)}), fieldSense(0x26, false, 4, 1)},
      {"page cut short", false, 0x10, cat({h6, Bytes(p08.begin(), p08.begin() + 10)}),
       sense(0x05, 0x1A, 0x00)},
      {"one lone byte after a page", false, 0x10, cat({h6, withoutPs(p01), {0x08}}), sense(0x05, 0x1A, 0x00)},
      {"second page bad: the first is not taken either", false, 0x11,
       cat({h6, {0x08, 0x12, 0x00}, Bytes(17, 0), fixedBit}), fieldSense(0x26, false, 27, 4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CommandResult o = c.ten ? select10(c.byte1, c.list) : select6(c.byte1, c.list);
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.sense, c.sense);
    EXPECT_EQ(current(0x08), p08);
    EXPECT_EQ(current(0x0A), p0A);
    EXPECT_EQ(current(0x08, 3), p08);
  }
}

TEST_F(EngineModesTest, RestoredStateGivesSavedAndCurrentValues) {
  Disk& disk = static_cast<Disk&>(*device);
  DiskState state = disk.state();
  state.units[0].savedPages[0x08][2] = 0x00;  // write cache off
  state.units[0].savedPages.erase(0x1C);      // a page the state lacks keeps its default
  std::string error;
  ASSERT_TRUE(disk.restore(state, &error)) << error;
  Bytes off = p08;
  off[2] = 0x00;
  EXPECT_EQ(current(0x08), off);
  EXPECT_EQ(current(0x08, 3), off);
  EXPECT_EQ(current(0x1C, 3), p1C);
  state.units.push_back({});
  EXPECT_FALSE(disk.restore(state, &error));
  EXPECT_NE(error.find("2 logical unit(s)"), std::string::npos) << error;
}

}  // namespace
}  // namespace qxscsi::backends::emulated
