// The emulated disk's LOG SENSE, REPORT SUPPORTED OPERATION CODES, REPORT TARGET PORT GROUPS,
// VPD page 86h and WRITE AND VERIFY(10), byte for byte.
#include "disk.h"
#include "engine_helpers.h"

namespace qxscsi::backends::emulated {
namespace {

using namespace testing;

Bytes fieldSense(unsigned byte, int bit = -1) {
  Bytes s = sense(0x05, 0x24, 0x00);
  s[15] = 0xC0 | (bit >= 0 ? 0x08 | bit : 0);
  s[17] = static_cast<unsigned char>(byte);
  return s;
}

Bytes logCdb(unsigned char byte1, unsigned char byte2, unsigned pointer = 0, unsigned alloc = 1024,
             unsigned char sub = 0) {
  return {0x4D,
          byte1,
          byte2,
          sub,
          0,
          static_cast<unsigned char>(pointer >> 8),
          static_cast<unsigned char>(pointer),
          static_cast<unsigned char>(alloc >> 8),
          static_cast<unsigned char>(alloc),
          0};
}

Bytes rsocCdb(unsigned char options, unsigned char op = 0, unsigned action = 0, uint32_t alloc = 8192) {
  Bytes c = {
      0xA3, 0x0C, options, op, static_cast<unsigned char>(action >> 8), static_cast<unsigned char>(action)};
  Bytes a = be32(alloc);
  c.insert(c.end(), a.begin(), a.end());
  c.insert(c.end(), {0, 0});
  return c;
}

class EngineReportsTest : public ::testing::Test {
 protected:
  std::unique_ptr<Device> device = makeDevice("emulated:disk?capacity=64");
  Bytes buffer;

  CommandResult get(const Bytes& cdb, unsigned long length = 8192) {
    return in(*device, cdb, buffer, length);
  }
  Bytes got(const CommandResult& o) const { return Bytes(buffer.begin(), buffer.begin() + o.transferred); }
};

TEST_F(EngineReportsTest, LogPagesByteForByte) {
  Bytes counters = {0x82, 0, 0, 56};
  for (unsigned char code = 0; code <= 6; ++code)
    counters.insert(counters.end(), {0, code, 0x02, 4, 0, 0, 0, 0});
  Bytes readCounters = counters;
  readCounters[0] = 0x83;
  Bytes selfTests = {0x90, 0, 0x01, 0x90};  // 400 bytes of parameters
  for (unsigned char code = 1; code <= 20; ++code) {
    selfTests.insert(selfTests.end(), {0, code, 0x03, 0x10});
    selfTests.resize(selfTests.size() + 16, 0);
  }
  struct Case {
    const char* what;
    Bytes cdb;
    Bytes expected;
  };
  const Case cases[] = {
      {"supported pages", logCdb(0, 0x40), {0x80, 0, 0, 6, 0x00, 0x02, 0x03, 0x0D, 0x10, 0x2F}},
      {"write error counters", logCdb(0, 0x42), counters},
      {"read error counters, threshold values", logCdb(0, 0x03), readCounters},
      {"read error counters from parameter 5", logCdb(0, 0x43, 5), {0x83, 0, 0, 16, 0,    5, 0x02, 4, 0, 0,
                                                                    0,    0, 0, 6,  0x02, 4, 0,    0, 0, 0}},
      {"temperature", logCdb(0, 0x4D), {0x8D, 0, 0, 12, 0, 0, 0x03, 2, 0, 40, 0, 1, 0x03, 2, 0, 60}},
      {"temperature, reference only", logCdb(0, 0xCD, 1), {0x8D, 0, 0, 6, 0, 1, 0x03, 2, 0, 60}},
      {"self-test results", logCdb(0, 0x50), selfTests},
      {"informational exceptions", logCdb(0, 0x6F), {0xAF, 0, 0, 7, 0, 0, 0x03, 3, 0, 0, 40}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CommandResult o = get(c.cdb);
    ASSERT_EQ(o.status, 0);
    EXPECT_EQ(got(o), c.expected);
  }
  // The allocation length cuts the page, the page length still tells all of it.
  CommandResult o = get(logCdb(0, 0x50, 0, 6));
  EXPECT_EQ(got(o), (Bytes{0x90, 0, 0x01, 0x90, 0, 1}));
}

TEST_F(EngineReportsTest, LogSenseRefusals) {
  struct Case {
    const char* what;
    Bytes cdb;
    Bytes sense;
  };
  const Case cases[] = {
      {"SP", logCdb(0x01, 0x42), fieldSense(1, 0)},
      {"PPC", logCdb(0x02, 0x42), fieldSense(1, 1)},
      {"reserved", logCdb(0x04, 0x42), fieldSense(1, 2)},
      {"page 01h", logCdb(0, 0x41), fieldSense(2, 5)},
      {"page 3Fh", logCdb(0, 0x7F), fieldSense(2, 5)},
      {"subpage", logCdb(0, 0x42, 0, 1024, 0x01), fieldSense(3)},
      {"pointer on the supported pages", logCdb(0, 0x40, 1), fieldSense(5)},
      {"pointer past the last parameter", logCdb(0, 0x42, 7), fieldSense(5)},
      {"pointer past the last self-test", logCdb(0, 0x50, 21), fieldSense(5)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CommandResult o = get(c.cdb);
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.sense, c.sense);
  }
}

TEST_F(EngineReportsTest, SupportedOperationCodesListWhatTheDiskAnswers) {
  CommandResult o = get(rsocCdb(0x00));
  ASSERT_EQ(o.status, 0);
  const Bytes all = got(o);
  ASSERT_GE(all.size(), 4u);
  ASSERT_EQ(all.size() - 4, (uint32_t(all[0]) << 24 | all[1] << 16 | all[2] << 8 | all[3]));
  ASSERT_EQ((all.size() - 4) % 8, 0u);
  EXPECT_EQ(Bytes(all.begin() + 4, all.begin() + 12), (Bytes{0x00, 0, 0, 0, 0, 0, 0, 6}));  // TEST UNIT READY
  std::vector<std::pair<unsigned char, unsigned>> listed;
  for (size_t at = 4; at < all.size(); at += 8) {
    const unsigned char op = all[at];
    const unsigned action = all[at + 2] << 8 | all[at + 3];
    const unsigned length = all[at + 6] << 8 | all[at + 7];
    SCOPED_TRACE(static_cast<int>(op));
    listed.push_back({op, action});
    EXPECT_EQ(length, op < 0x20 ? 6u : op < 0x60 ? 10u : op < 0xA0 ? 16u : 12u);
    // The one-command form gives the same length and the operation code first in its usage data.
    CommandResult one = get(rsocCdb((all[at + 5] & 0x01) ? 0x02 : 0x01, op, action));
    ASSERT_EQ(one.status, 0);
    EXPECT_EQ(buffer[1], 0x03);
    EXPECT_EQ(unsigned(buffer[2] << 8 | buffer[3]), length);
    EXPECT_EQ(buffer[4], op);
    if (all[at + 5] & 0x01) {
      EXPECT_EQ(buffer[5] & 0x1F, action & 0x1F);  // the service action in its field
    }
    // The disk knows it.
    Bytes cdb(16, 0);
    cdb[0] = op;
    if (all[at + 5] & 0x01) cdb[1] = static_cast<unsigned char>(action);
    Bytes data(256 * 512, 0);
    CommandResult r;
    for (int direction : {0, 1, 2}) {
      r = device->execute(0, Command{cdb.data(), 16, direction, direction == 2 ? nullptr : data.data(),
                                     direction == 2 ? 0 : data.size()});
      if (r.executed) break;
    }
    ASSERT_TRUE(r.executed) << r.refusal;
    if (!r.sense.empty()) {
      EXPECT_NE(r.sense[12], 0x20);
    }
  }
  // Every operation code it does not list is unknown to it.
  for (unsigned op = 0; op < 256; ++op) {
    bool isListed = false;
    for (const auto& l : listed) isListed = isListed || l.first == op;
    if (isListed) continue;
    SCOPED_TRACE(op);
    Bytes cdb(16, 0);
    cdb[0] = static_cast<unsigned char>(op);
    EXPECT_EQ(device->execute(0, Command{cdb.data(), 16, 2, nullptr, 0}).sense, sense(0x05, 0x20, 0x00));
  }
}

TEST_F(EngineReportsTest, SupportedOperationCodesOneCommandForms) {
  const Bytes timeouts = {0x00, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 30};
  Bytes read10 = {0, 0x03, 0, 10, 0x28, 0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0xFF, 0xFF, 0};
  Bytes read10Timeouts = read10;
  read10Timeouts[1] = 0x83;
  read10Timeouts.insert(read10Timeouts.end(), timeouts.begin(), timeouts.end());
  struct Case {
    const char* what;
    Bytes cdb;
    Bytes expected;  // empty: the sense below
    Bytes sense;
  };
  const Case cases[] = {
      {"READ(10)", rsocCdb(0x01, 0x28), read10, {}},
      {"READ(10) with timeouts", rsocCdb(0x81, 0x28), read10Timeouts, {}},
      {"READ CAPACITY(16)",
       rsocCdb(0x02, 0x9E, 0x10),
       {0,    0x03, 0,    16,   0x9E, 0x10, 0xFF, 0xFF, 0xFF, 0xFF,
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0},
       {}},
      {"PERSISTENT RESERVE OUT, PREEMPT",
       rsocCdb(0x02, 0x5F, 0x04),
       {0, 0x03, 0, 10, 0x5F, 0x04, 0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0},
       {}},
      {"an unknown operation code", rsocCdb(0x01, 0xC7), {0, 0x01, 0, 0}, {}},
      {"an unknown service action", rsocCdb(0x02, 0x5F, 0x07), {0, 0x01, 0, 0}, {}},
      {"a command with service actions asked without", rsocCdb(0x01, 0x5E), {}, fieldSense(2, 0)},
      {"a command without service actions asked with", rsocCdb(0x02, 0x28), {}, fieldSense(2, 1)},
      {"a service action with option 1", rsocCdb(0x01, 0x28, 1), {}, fieldSense(4)},
      {"reporting options 3", rsocCdb(0x03, 0x28), {}, fieldSense(2, 2)},
      {"reserved bits", rsocCdb(0x08, 0x28), {}, fieldSense(2, 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CommandResult o = get(c.cdb);
    if (c.expected.empty()) {
      EXPECT_EQ(o.sense, c.sense);
      continue;
    }
    ASSERT_EQ(o.status, 0);
    EXPECT_EQ(got(o), c.expected);
  }
  // RCTD in the list of all: 20-byte descriptors with CTDP set.
  CommandResult o = get(rsocCdb(0x80));
  ASSERT_EQ(o.status, 0);
  EXPECT_EQ(Bytes(buffer.begin() + 4, buffer.begin() + 24),
            (Bytes{0x00, 0, 0, 0, 0, 0x02, 0, 6, 0x00, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 30}));
  EXPECT_EQ((o.transferred - 4) % 20, 0u);
}

TEST_F(EngineReportsTest, TargetPortGroupsAndExtendedInquiry) {
  const Bytes group = {0x80, 0x01, 0x00, 0x01, 0, 0, 0, 1, 0, 0, 0x00, 0x01};
  Bytes plain = {0, 0, 0, 12};
  plain.insert(plain.end(), group.begin(), group.end());
  Bytes extended = {0, 0, 0, 16, 0x10, 0, 0, 0};
  extended.insert(extended.end(), group.begin(), group.end());
  CommandResult o = get({0xA3, 0x0A, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0});
  EXPECT_EQ(got(o), plain);
  o = get({0xA3, 0x2A, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0});
  EXPECT_EQ(got(o), extended);
  EXPECT_EQ(get({0xA3, 0x4A, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}).sense, fieldSense(1, 7));
  EXPECT_EQ(get({0xA3, 0x05, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}).sense,
            fieldSense(1, 4));  // other service actions
  // INQUIRY says so: TPGS 01b.
  get({0x12, 0, 0, 0, 36, 0});
  EXPECT_EQ(buffer[5] & 0x30, 0x10);

  Bytes page86(64, 0);
  page86[1] = 0x86;
  page86[3] = 0x3C;
  page86[5] = 0x07;
  page86[6] = 0x01;
  page86[7] = 0x01;
  o = get({0x12, 0x01, 0x86, 0, 255, 0});
  EXPECT_EQ(got(o), page86);
  std::unique_ptr<Device> tape = makeDevice("emulated:tape");
  o = in(*tape, {0x12, 0x01, 0x86, 0, 255, 0}, buffer, 255);
  page86[0] = 0x01;
  page86[6] = 0x00;  // no write cache
  EXPECT_EQ(got(o), page86);
}

TEST_F(EngineReportsTest, WriteAndVerifyWritesAndChecksItsCdb) {
  Disk& disk = static_cast<Disk&>(*device);
  Bytes data(2 * 512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 3 + 1);
  for (unsigned char byte1 : {0x00, 0x02, 0x10}) {  // BYTCHK 0, BYTCHK 1, DPO
    SCOPED_TRACE(static_cast<int>(byte1));
    std::fill(disk.medium(0).begin(), disk.medium(0).end(), 0);
    CommandResult o = out(*device, {0x2E, byte1, 0, 0, 0, 7, 0, 0, 2, 0}, data);
    ASSERT_EQ(o.status, 0);
    EXPECT_EQ(o.transferred, 1024u);
    EXPECT_EQ(Bytes(disk.medium(0).begin() + 7 * 512, disk.medium(0).begin() + 9 * 512), data);
  }
  const Bytes before = disk.medium(0);
  struct Case {
    const char* what;
    Bytes cdb;
    Bytes sense;
  };
  const Case cases[] = {
      {"BYTCHK 10b", {0x2E, 0x04, 0, 0, 0, 7, 0, 0, 2, 0}, fieldSense(1, 2)},
      {"BYTCHK 11b", {0x2E, 0x06, 0, 0, 0, 7, 0, 0, 2, 0}, fieldSense(1, 2)},
      {"reserved bit 3", {0x2E, 0x08, 0, 0, 0, 7, 0, 0, 2, 0}, fieldSense(1, 3)},
      {"obsolete bit 0", {0x2E, 0x01, 0, 0, 0, 7, 0, 0, 2, 0}, fieldSense(1, 0)},
      {"WRPROTECT", {0x2E, 0x20, 0, 0, 0, 7, 0, 0, 2, 0}, fieldSense(1, 7)},
      {"past the end", {0x2E, 0, 0, 0, 0, 63, 0, 0, 2, 0}, sense(0x05, 0x21, 0x00)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(out(*device, c.cdb, data).sense, c.sense);
  }
  ASSERT_EQ(none(*device, {0x1B, 0, 0, 0, 0, 0}).status, 0);  // stopped
  EXPECT_EQ(out(*device, {0x2E, 0, 0, 0, 0, 7, 0, 0, 2, 0}, data).sense, sense(0x02, 0x04, 0x02));
  EXPECT_EQ(disk.medium(0), before);
}

}  // namespace
}  // namespace qxscsi::backends::emulated
