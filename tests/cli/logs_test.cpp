// logs: the LOG SENSE decoder on captured bytes and the built program on the emulated disk.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/daily.h"
#include "tool_run.h"

namespace {

using namespace qxscsi::cli;

struct LogRun {
  Options options;
  Output out{options};
  std::string problem;
  LogRun(const std::vector<uint8_t>& bytes, unsigned asked, unsigned subpage = 0, size_t allocation = 4096) {
    options.json = true;
    problem = describeLogPage(bytes.data(), bytes.size(), asked, subpage, allocation, out);
  }
};

// Self-test results of a drive: a foreground extended test that failed in its second segment at
// LBA 12345678h with an unrecovered read error, then an empty slot.
const std::vector<uint8_t> selfTests = {
    0x10, 0x00, 0x00, 0x28,                                                  // page 10h, 40 bytes
    0x00, 0x01, 0x03, 0x10, 0xc6, 0x02, 0x12, 0x34, 0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78, 0x03, 0x11, 0x00, 0x00,
    0x00, 0x02, 0x03, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
};

TEST(LogPageDecode, SelfTestResultsComeFromTheirBits) {
  LogRun r(selfTests, 0x10);
  ASSERT_EQ(r.problem, "");
  const nlohmann::json& p = r.out.doc()["parameters"];
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0]["self_test_code"], 6);  // foreground extended
  EXPECT_EQ(p[0]["self_test_result"], 6);
  EXPECT_EQ(p[0]["self_test_result_text"], "failed in the second segment");
  EXPECT_EQ(p[0]["segment_number"], 2);
  EXPECT_EQ(p[0]["power_on_hours"], 0x1234);
  EXPECT_EQ(p[0]["first_failure_address_hex"], "0x12345678");
  EXPECT_EQ(p[0]["sense_key"], 3);
  EXPECT_EQ(p[0]["additional_sense_code_hex"], "0x11");
  EXPECT_FALSE(p[0].contains("empty"));
  EXPECT_EQ(p[1]["empty"], true);
  EXPECT_EQ(r.out.doc()["page_length"], 40);
  EXPECT_EQ(r.out.doc()["disable_save"], false);
}

TEST(LogPageDecode, TemperatureCountersAndExceptionsAreNamed) {
  // Temperature not available (FFh), reference 65 C.
  LogRun t({0x0d, 0, 0, 12, 0, 0, 3, 2, 0, 0xff, 0, 1, 3, 2, 0, 65}, 0x0d);
  ASSERT_EQ(t.problem, "");
  EXPECT_EQ(t.out.doc()["parameters"][0]["temperature_available"], false);
  EXPECT_FALSE(t.out.doc()["parameters"][0].contains("temperature_celsius"));
  EXPECT_EQ(t.out.doc()["parameters"][1]["temperature_celsius"], 65);
  // Read error counters: a 6-byte counter of bytes processed, a 9-byte one (too wide: hex only),
  // and a vendor parameter 8000h.
  LogRun c({0x03, 0, 0, 27, 0, 5, 2, 6, 0, 1, 0, 0, 0, 0,  //
            0, 6, 2, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9,        //
            0x80, 0, 3, 0},
           0x03);
  ASSERT_EQ(c.problem, "");
  const nlohmann::json& p = c.out.doc()["parameters"];
  ASSERT_EQ(p.size(), 3u);
  EXPECT_EQ(p[0]["name"], "total bytes processed");
  EXPECT_EQ(p[0]["value"], 0x0100000000ull);
  EXPECT_EQ(p[0]["value_hex"], "0x100000000");
  EXPECT_FALSE(p[1].contains("value"));
  EXPECT_EQ(p[1]["data_hex"], "010203040506070809");
  EXPECT_EQ(p[2]["parameter_code_hex"], "0x8000");
  EXPECT_EQ(p[2]["data_hex"], "");
  // Informational exceptions: failure prediction threshold exceeded, 38 C.
  LogRun e({0x2f, 0, 0, 8, 0, 0, 3, 4, 0x5d, 0x00, 38, 0}, 0x2f);
  ASSERT_EQ(e.problem, "");
  EXPECT_EQ(e.out.doc()["parameters"][0]["additional_sense_code"], 0x5d);
  EXPECT_NE(e.out.doc()["parameters"][0]["additional_sense_text"].get<std::string>().find("threshold"),
            std::string::npos);
  EXPECT_EQ(e.out.doc()["parameters"][0]["temperature_celsius"], 38);
  // Supported pages of a subpage-format answer list codes without the top bits.
  LogRun s({0x00, 0, 0, 3, 0x00, 0x0d, 0x7f}, 0x00);
  ASSERT_EQ(s.problem, "");
  EXPECT_EQ(s.out.doc()["supported_pages_hex"], nlohmann::json({"0x00", "0x0d", "0x3f"}));
  // Supported pages and subpages (00h, FFh): pairs, not single codes.
  LogRun pairs({0x40, 0xff, 0, 4, 0x00, 0x00, 0x0d, 0x00}, 0x00, 0xff);
  ASSERT_EQ(pairs.problem, "");
  EXPECT_FALSE(pairs.out.doc().contains("supported_pages"));
  EXPECT_EQ(pairs.out.doc()["subpage_code"], 0xff);
}

TEST(LogPageDecode, AnswersThatContradictTheRequestOrThemselvesAreRefused) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    unsigned asked, subpage;
    size_t allocation;
    const char* problem;  // a part of the message; "" for none
  } cases[] = {
      {"header cut", {0x0d, 0, 0}, 0x0d, 0, 4096, "3 bytes arrived"},
      {"another page", {0x0e, 0, 0, 0}, 0x0d, 0, 4096, "page 0x0e subpage 0x00 answered"},
      {"another subpage", {0x4d, 1, 0, 0}, 0x0d, 0, 4096, "subpage 0x01 answered"},
      {"subpage asked, none given", {0x0d, 5, 0, 0}, 0x0d, 5, 4096, "subpage 0x00 answered"},
      {"length past the bytes", {0x0d, 0, 0, 6, 0, 0, 3, 2, 0}, 0x0d, 0, 4096, "claims 10 bytes, 9 arrived"},
      {"parameter past the page", {0x0d, 0, 0, 6, 0, 0, 3, 3, 0, 40}, 0x0d, 0, 4096, "byte 4 runs past"},
      {"parameter header cut", {0x0d, 0, 0, 2, 0, 0}, 0x0d, 0, 4096, "byte 4 runs past"},
      // The same cut at the allocation length is the device's honest answer: what fits is shown.
      {"cut by the allocation", {0x0d, 0, 0, 12, 0, 0, 3, 2, 0, 40, 0, 1}, 0x0d, 0, 12, ""},
      {"empty page", {0x10, 0, 0, 0}, 0x10, 0, 4096, ""},
  };
  for (const Case& k : cases) {
    LogRun r(k.bytes, k.asked, k.subpage, k.allocation);
    if (*k.problem == 0) {
      EXPECT_EQ(r.problem, "") << k.what;
    } else {
      EXPECT_NE(r.problem.find(k.problem), std::string::npos) << k.what << ": " << r.problem;
      EXPECT_FALSE(r.out.doc().contains("page_code")) << k.what << ": nothing believed";
    }
  }
  LogRun cut(cases[7].bytes, 0x0d, 0, 12);
  EXPECT_EQ(cut.out.doc()["parameters"].size(), 1u);
  EXPECT_EQ(cut.out.doc()["last_parameter_cut_off"], true);
}

TEST(LogPageArgument, TakesNumbersInThreeForms) {
  struct Case {
    const char* text;
    int page;
  } cases[] = {{"0", 0},     {"13", 13},   {"0x0d", 0x0d}, {"0Dh", 0x0d}, {"2fH", 0x2f}, {"63", 63},
               {"64", -1},   {"0x40", -1}, {"", -1},       {"h", -1},     {"0x", -1},    {"-1", -1},
               {"1 ", -1},   {"0x3f0", -1}, {"ie", -1}};
  for (const Case& k : cases) EXPECT_EQ(parseLogPage(k.text), k.page) << k.text;
}

using qxscsi::test::ToolRun;

ToolRun tool(const std::string& args) { return qxscsi::test::runTool(args, true); }

TEST(LogsTool, SendsTheFieldsAskedAndMapsWhatComesBack) {
  struct Case {
    const char* args;
    int status;
    const char* cdb;  // nullptr: refused before sending
  } cases[] = {
      {"logs", 0, "4d004000000000fffc00"},
      {"logs -p 0x2f -c threshold", 0, "4d002f00000000fffc00"},
      {"logs -p 3 -c 3 --ppointer 0x5", 0, "4d00c300000005fffc00"},
      {"logs -p 0x18", 5, "4d005800000000fffc00"},           // not kept by the disk
      {"logs -p 3 --ppointer 7", 5, "4d004300000007fffc00"},  // past the last parameter
      {"logs emulated:tape", 9, "4d004000000000fffc00"},
      {"logs 'emulated:disk?hostile=busy'", 26, "4d004000000000fffc00"},
      {"logs -p 0x0d 'emulated:disk?hostile=lengths'", 97, "4d004d00000000fffc00"},
      {"logs --ppointer 65536", 1, nullptr},
      {"logs -c saved", 1, nullptr},
      {"logs --subpage 256", 1, nullptr},
  };
  for (const Case& k : cases) {
    ToolRun r = tool(std::string(k.args) + " --json");
    EXPECT_EQ(r.status, k.status) << k.args << "\n" << r.out;
    const size_t brace = r.out.find('{');
    ASSERT_NE(brace, std::string::npos) << k.args;
    nlohmann::json j = nlohmann::json::parse(r.out.substr(brace), nullptr, false);
    if (k.cdb)
      EXPECT_EQ(j["command"]["cdb_hex"], k.cdb) << k.args;
    else
      EXPECT_FALSE(j.contains("command")) << k.args;
  }
  ToolRun t = tool("logs -p 0x0d");
  EXPECT_EQ(t.out, "Temperature [0Dh]: page length 12, DS=1\n  current temperature = 40 C\n"
                   "  reference temperature = 60 C\n");
  ToolRun bad = tool("logs -p 0x0d 'emulated:disk?hostile=lengths'");
  EXPECT_EQ(bad.out, "qxscsi: logs: response failed sanity checks: page length claims 16 bytes, 12 arrived\n");
}

}  // namespace
