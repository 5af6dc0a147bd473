// modes --set and --save: the MODE SELECT parameter list byte for byte, refusals, saving across runs.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/daily.h"
#include "cli/hex.h"
#include "tool_run.h"

namespace {

using namespace qxscsi::cli;
using qxscsi::test::runTool;
using Bytes = std::vector<uint8_t>;

Bytes bytes(const std::string& hex) {
  Bytes b;
  std::string error;
  EXPECT_TRUE(parseHex(hex, b, error)) << error;
  return b;
}

struct ListCase {
  const char* name;
  bool six;
  unsigned page;
  const char* sense;  // MODE SENSE data as it arrived
  const char* list;   // the parameter list MODE SELECT is to carry
};

TEST(ModeSelectListTest, HeaderAndPageBitsThatMustNotBeSentAreCleared) {
  const ListCase cases[] = {
      // MODE SENSE(10): data length, WP and PS cleared; medium type, DPOFUA, the block descriptor kept.
      {"ten_with_descriptor", false, 0x08,
       "00 22 00 90 00 00 00 08  00 00 10 00 00 00 02 00  88 12 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
       "00 00 00 10 00 00 00 08  00 00 10 00 00 00 02 00  08 12 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
      {"ten_no_descriptor", false, 0x1c, "00 12 05 80 00 00 00 00  9c 0a 08 03 00 00 00 00 00 00 00 00",
       "00 00 05 00 00 00 00 00  1c 0a 08 03 00 00 00 00 00 00 00 00"},
      // MODE SENSE(6): a one-byte data length.
      {"six", true, 0x0a, "11 00 80 00  8a 0a 02 10 00 00 00 00 00 00 00 00 ff ff",
       "00 00 00 00  0a 0a 02 10 00 00 00 00 00 00 00 00"},
  };
  for (const ListCase& c : cases) {
    const Bytes sense = bytes(c.sense);
    ModePageSpan span;
    ASSERT_EQ(locateModePage(sense.data(), sense.size(), c.six, c.page, span), "") << c.name;
    const Bytes list = modeSelectParameterList(sense.data(), span, c.six);
    EXPECT_EQ(toHex(list.data(), list.size()), toHex(bytes(c.list).data(), bytes(c.list).size())) << c.name;
  }
}

TEST(ModeSelectListTest, MalformedModeDataIsNamed) {
  const struct {
    const char* sense;
    bool six;
    const char* problem;
  } cases[] = {
      {"00 0a 00 00 00 00", false, "6 bytes arrived, the mode parameter header holds 8"},
      {"00 22 00 00 00 00 00 00  08 12 04", false, "claims 36 bytes, 11 arrived"},
      {"00 0e 00 00 00 00 00 08  00 00 00 00 00 00 02 00", false, "no page follows the 8 bytes"},
      {"00 0a 00 00 00 00 00 00  08 0a 08 03", false, "runs past the 12 bytes"},
      {"0b 00 00 00  01 0a 00 00 00 00 00 00 00 00", true, "page 0x08 asked, page 0x01 answered"},
      {"0b 00 00 00  48 0a 00 00 00 00 00 00 00 00", true, "page 0x08 asked"},  // a subpage format page
  };
  for (const auto& c : cases) {
    const Bytes sense = bytes(c.sense);
    ModePageSpan span;
    const std::string problem = locateModePage(sense.data(), sense.size(), c.six, 0x08, span);
    EXPECT_NE(problem.find(c.problem), std::string::npos) << c.sense << ": " << problem;
  }
}

nlohmann::json jsonOf(const std::string& args, int expectedStatus) {
  const qxscsi::test::ToolRun r = runTool("--json " + args, false);
  EXPECT_EQ(r.status, expectedStatus) << args << "\n" << r.out;
  return nlohmann::json::parse(r.out, nullptr, false);
}

TEST(ModesSetTest, SendsTheChangedPageWithModeSelect) {
  const struct {
    const char* args;
    const char* listHex;
    unsigned previous, value;
  } cases[] = {
      // Header (data length cleared, DPOFUA kept), the block descriptor as read, the page with PS cleared.
      {"modes --set caching.WCE=0",
       "0000001000000008" "0000080000000200" "0812000000000000000000000000000000000000", 1, 0},
      {"modes --set ca.rcd=1 -6", "00001008" "0000080000000200" "0812050000000000000000000000000000000000", 0, 1},
      {"modes --set 0x1c.MRIE=6", "0000001000000008" "0000080000000200" "1c0a08060000000000000000", 0, 6},
      {"modes --set rw.ARRE=0", "0000001000000008" "0000080000000200" "010a80000000000000000000", 1, 0},
      // Decimal even with a leading zero; hex with 0x.
      {"modes --set ie.MRIE=010", "0000001000000008" "0000080000000200" "1c0a080a0000000000000000", 0, 10},
      {"modes --set ie.INTT=0x0102AbCd", "0000001000000008" "0000080000000200" "1c0a08000102abcd00000000", 0,
       0x0102abcd},
  };
  for (const auto& c : cases) {
    const nlohmann::json j = jsonOf(c.args, 0);
    EXPECT_EQ(j["parameter_list_hex"], c.listHex) << c.args;
    EXPECT_EQ(j["previous_value"], c.previous) << c.args;
    EXPECT_EQ(j["value"], c.value) << c.args;
    EXPECT_EQ(j["saved"], false) << c.args;
  }
  const qxscsi::test::ToolRun text = runTool("modes --set caching.WCE=0", false);
  EXPECT_EQ(text.out, "Caching WCE: 1 -> 0 (MODE SELECT(10), current values only)\n");
}

TEST(ModesSetTest, RefusalsNameWhatIsWrong) {
  const struct {
    const char* args;
    int status;
    const char* text;
  } cases[] = {
      {"modes --set caching.XYZ=1", 1, "its fields: IC, ABPF, CAP, DISC, SIZE, WCE, MF, RCD"},
      {"modes --set ie.MRIE=16", 1, "MRIE is 4 bits wide: 16 does not fit (at most 15)"},
      {"modes --set ie.MRIE=-1", 1, "not a number"},
      {"modes --set ie.MRIE=", 1, "not a number"},
      {"modes --set caching.WCE=1x", 1, "not a number"},
      {"modes --set caching.WCE=0x", 1, "not a number"},
      {"modes --set caching.WCE=+1", 1, "not a number"},
      {"modes --set nosuch.WCE=1", 1, "has no fields to set"},
      {"modes --set 0x19.X=1", 1, "has no fields to set"},
      {"modes --set WCE=1", 1, "expected PAGE.FIELD=VALUE"},
      {"modes --save", 1, "--save goes with --set"},
      {"modes --set caching.WCE=0 -p ie", 31, "it excludes -p, -c"},
      {"modes --set caching.WCE=0 -c saved", 31, "it excludes -p, -c"},
      {"modes --set caching.WCE=0 --dbd", 31, "it excludes -p, -c"},
      {"modes --set control.SWP=1", 5, "Control SWP cannot be changed to 1 (changeable mask 0x0)"},
      {"modes --set caching.DRA=1 --save", 5, "Caching DRA cannot be changed"},
  };
  for (const auto& c : cases) {
    const qxscsi::test::ToolRun r = runTool(c.args, true);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(c.text), std::string::npos) << c.args << "\n" << r.out;
  }
  // A value equal to the current one needs no changeable bit.
  EXPECT_EQ(runTool("modes --set control.SWP=0", false).status, 0);
}

TEST(ModesSetTest, SaveOutlastsTheRunWithAFileBackedDisk) {
  char path[] = "/tmp/qxscsi-modes-set-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  const std::string dev = std::string(" 'emulated:disk?file=") + path + "'";
  auto wce = [&](const char* control) {
    const nlohmann::json j = jsonOf(std::string("modes -p ca -c ") + control + dev, 0);
    return j["pages"][0]["fields"]["write_cache_enable"];
  };
  // Without --save the next run (a new process) starts from the saved values again.
  jsonOf("modes --set caching.WCE=0" + dev, 0);
  EXPECT_EQ(wce("current"), 1);
  const nlohmann::json saved = jsonOf("modes --set caching.WCE=0 --save" + dev, 0);
  EXPECT_EQ(saved["saved"], true);
  EXPECT_EQ(wce("saved"), 0);
  EXPECT_EQ(wce("current"), 0);
  EXPECT_EQ(wce("default"), 1);
  jsonOf("modes --set caching.WCE=1 --save -6" + dev, 0);
  EXPECT_EQ(wce("saved"), 1);
  std::remove(path);
}

}  // namespace
