// rtpg: its decoder on answers a real array could give and the built program on the emulated disk.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "cli/daily.h"

namespace {

using namespace qxscsi::cli;

// Two groups, extended header: group 1 standby with ports 1 and 2, group 0x8001 preferred,
// active/non optimized, altered by SET TARGET PORT GROUPS, with port 0x0102.
const std::vector<uint8_t> twoGroups = {
    0, 0, 0, 0x20, 0x10, 0x3c, 0, 0,                   // header: 32 bytes follow, 60 s transition
    0x02, 0xd7, 0x00, 0x01, 0, 0x00, 0x00, 2,          // group 1
    0, 0, 0, 1, 0, 0, 0, 2,                            // ports 1, 2
    0x81, 0x03, 0x80, 0x01, 0, 0x01, 0x5a, 1,          // group 0x8001
    0, 0, 0x01, 0x02};                                 // port 0x0102

TEST(RtpgDecode, GroupsStatesAndPortsComeFromTheirBytes) {
  Options options;
  options.json = true;
  Output out(options);
  ASSERT_EQ(describeTargetPortGroups(twoGroups.data(), twoGroups.size(), 1024, true, out), "");
  const nlohmann::json& d = out.doc();
  EXPECT_TRUE(d["extended_header"]);
  EXPECT_EQ(d["implicit_transition_time"], 60);
  ASSERT_EQ(d["target_port_groups"].size(), 2u);
  const nlohmann::json& a = d["target_port_groups"][0];
  EXPECT_EQ(a["target_port_group"], 1);
  EXPECT_FALSE(a["preferred"]);
  EXPECT_EQ(a["asymmetric_access_state_text"], "standby");
  EXPECT_TRUE(a["transitioning_supported"]);
  EXPECT_TRUE(a["offline_supported"]);
  EXPECT_TRUE(a["logical_block_dependent_supported"]);
  EXPECT_FALSE(a["unavailable_supported"]);  // bit 3 clear in D7h
  EXPECT_EQ(a["relative_target_ports"], nlohmann::json({1, 2}));
  const nlohmann::json& b = d["target_port_groups"][1];
  EXPECT_EQ(b["target_port_group"], 0x8001);
  EXPECT_TRUE(b["preferred"]);
  EXPECT_EQ(b["asymmetric_access_state"], 1);
  EXPECT_EQ(b["status_code"], 1);
  EXPECT_EQ(b["vendor_specific"], 0x5a);
  EXPECT_EQ(b["relative_target_ports"], nlohmann::json({0x0102}));
}

TEST(RtpgDecode, StateNames) {
  const std::pair<unsigned, const char*> cases[] = {
      {0, "active/optimized"}, {1, "active/non optimized"}, {2, "standby"}, {3, "unavailable"},
      {4, "logical block dependent"}, {5, "reserved"}, {0xd, "reserved"}, {0xe, "offline"},
      {0xf, "transitioning between states"}};
  for (const auto& c : cases) EXPECT_STREQ(asymmetricAccessStateName(c.first), c.second) << c.first;
}

TEST(RtpgDecode, AnswersThatContradictThemselvesAreProblems) {
  struct Case {
    const char* what;
    size_t length;      // bytes of twoGroups that arrived
    size_t allocation;  // allocation length sent
    bool problem;
  };
  const Case cases[] = {
      {"no header", 3, 1024, true},
      {"fewer bytes than the header says, below the allocation", 30, 1024, true},
      {"cut by the allocation inside a group's ports", 20, 20, true},
      {"cut by the allocation between groups", 24, 24, false},
      {"all of it", 36, 1024, false},
  };
  Options options;
  options.json = true;  // the document only: no text on the test's stdout
  for (const Case& c : cases) {
    Output out(options);
    EXPECT_EQ(!describeTargetPortGroups(twoGroups.data(), c.length, c.allocation, true, out).empty(), c.problem)
        << c.what;
  }
  // A header that claims one group whose port count runs past the data.
  std::vector<uint8_t> d = {0, 0, 0, 8, 0x00, 0x01, 0, 1, 0, 0, 0, 3};
  Output out(options);
  EXPECT_NE(describeTargetPortGroups(d.data(), d.size(), 1024, false, out), "");
  // Length-only form asked for: byte 4 is the first group's (reserved bit 4 set), not a format.
  d = {0, 0, 0, 8, 0x10, 0x01, 0, 1, 0, 0, 0, 0};
  Output out2(options);
  EXPECT_EQ(describeTargetPortGroups(d.data(), d.size(), 1024, false, out2), "");
  EXPECT_FALSE(out2.doc()["extended_header"]);
  EXPECT_EQ(out2.doc()["target_port_groups"][0]["target_port_group"], 1);
}

}  // namespace
