// opcodes: the decoders of both answer forms of REPORT SUPPORTED OPERATION CODES on answer bytes,
// the options as typed, and the built program on the emulated disk.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/daily.h"
#include "tool_run.h"

namespace {

using namespace qxscsi::cli;
using qxscsi::test::runTool;

// Text that the decoder writes on stdout, captured.
struct Captured {
  std::ostringstream text;
  std::streambuf* old = std::cout.rdbuf(text.rdbuf());
  ~Captured() { std::cout.rdbuf(old); }
};

// All commands, in the device's order: READ(10), TEST UNIT READY, PERSISTENT RESERVE IN with
// service action 1, the last with its timeouts descriptor (no nominal time, 30 s recommended).
const std::vector<uint8_t> allCommands = {
    0, 0, 0, 36,                                                    // COMMAND DATA LENGTH
    0x28, 0, 0, 0, 0, 0x00, 0, 10,                                  // READ(10)
    0x00, 0, 0, 0, 0, 0x00, 0, 6,                                   // TEST UNIT READY
    0x5e, 0, 0, 1, 0, 0x03, 0, 10,                                  // SERVACTV and CTDP
    0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 30};                          // timeouts descriptor

TEST(OpcodesDecode, AllCommandsSortedAndNamedByTheLibrary) {
  Options options;
  Output out(options);
  Captured c;
  ASSERT_EQ(describeAllCommands(allCommands.data(), allCommands.size(), 8192, false, -1, out), "");
  EXPECT_EQ(c.text.str(),
            "Opcode  Service    CDB  RWCDLP,  Name\n(hex)   action(h)  size   CDLP\n" + std::string(47, '-') +
                "\n"
                " 00                  6    0,0    Test Unit Ready\n"
                " 28                 10    0,0    Read(10)\n"
                " 5e        1        10    0,0    Persistent reserve in, read reservation\n");
  const nlohmann::json& list = out.doc()["commands"];
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[2]["service_action"], 1);
  EXPECT_EQ(list[2]["service_action_hex"], "0x0001");
  EXPECT_EQ(list[2]["timeouts"]["recommended_seconds"], 30);
  EXPECT_EQ(list[2]["timeouts"]["nominal_seconds"], 0);
  EXPECT_FALSE(list[0].contains("service_action"));
  EXPECT_EQ(list[1]["operation_code_hex"], "0x28");
}

TEST(OpcodesDecode, AllCommandsWithTimeoutsShowTheirColumns) {
  Options options;
  Output out(options);
  Captured c;
  ASSERT_EQ(describeAllCommands(allCommands.data(), allCommands.size(), 8192, true, -1, out), "");
  const std::string text = c.text.str();
  EXPECT_EQ(text,
            "Opcode  Service    CDB   Nominal  Recommended  Name\n(hex)   action(h)  size  timeout  timeout(sec)\n" +
                std::string(64, '-') +
                "\n"
                " 00                6                         Test Unit Ready\n"
                " 28               10                         Read(10)\n"
                " 5e        1      10         -         30    Persistent reserve in, read reservation\n");
}

TEST(OpcodesDecode, AllCommandsAnswersThatContradictThemselves) {
  std::vector<uint8_t> lies = allCommands;
  lies[3] = 200;  // claims 204 bytes
  std::vector<uint8_t> shortByTimeouts = allCommands;
  shortByTimeouts[3] = 32;  // the header ends inside the timeouts descriptor of the last one
  const struct {
    const char* what;
    const std::vector<uint8_t>* data;
    size_t length, allocation;
    const char* problem;  // "" for none
    size_t shown;
  } cases[] = {
      {"whole", &allCommands, 40, 8192, "", 3},
      {"cut by the allocation inside a descriptor", &allCommands, 30, 30, "", 2},
      {"cut by the allocation inside the timeouts", &allCommands, 36, 36, "", 2},
      {"a length that lies", &lies, 40, 8192, "says 204 bytes, 40 arrived", 0},
      {"a descriptor past the header's length", &shortByTimeouts, 40, 8192, "runs past the COMMAND DATA LENGTH", 0},
      {"no header", &allCommands, 3, 8192, "3 bytes arrived", 0},
  };
  Options options;
  options.json = true;
  for (const auto& c : cases) {
    Output out(options);
    const std::string problem = describeAllCommands(c.data->data(), c.length, c.allocation, false, -1, out);
    if (*c.problem != '\0') {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << c.what << ": " << problem;
      continue;
    }
    EXPECT_EQ(problem, "") << c.what;
    EXPECT_EQ(out.doc()["commands"].size(), c.shown) << c.what;
  }
}

TEST(OpcodesDecode, TimeoutsDescriptorsAreBelievedOnlyWithTheirLength) {
  const struct {
    std::vector<uint8_t> bytes;
    bool valid;
    uint32_t nominal, recommended;
    unsigned specific;
  } cases[] = {
      {{0, 10, 0, 7, 0, 0, 0, 5, 0, 0, 1, 0}, true, 5, 256, 7},
      {{0, 10, 0, 0, 0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0}, true, 0xffffffff, 0, 0},
      {{0, 8, 0, 7, 0, 0, 0, 5, 0, 0, 1, 0}, false, 0, 0, 0},
      {{1, 10, 0, 7, 0, 0, 0, 5, 0, 0, 1, 0}, false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    const CommandTimeouts t = decodeCommandTimeouts(c.bytes.data());
    EXPECT_EQ(t.valid, c.valid) << unsigned(c.bytes[1]);
    EXPECT_EQ(t.nominal, c.nominal);
    EXPECT_EQ(t.recommended, c.recommended);
    EXPECT_EQ(t.commandSpecific, c.specific);
  }
}

// One command: READ(10)'s usage data and its timeouts descriptor, as the emulated disk has them.
const std::vector<uint8_t> readTen = {0, 0x83, 0, 10, 0x28, 0x18, 0xff, 0xff, 0xff, 0xff, 0, 0xff, 0xff, 0,
                                      0, 10, 0, 0, 0, 0, 0, 3, 0, 0, 0, 30};

TEST(OpcodesDecode, OneCommandShowsItsUsageDataAndTimeouts) {
  OpcodesOptions o;
  o.opcode = 0x28;
  o.reportingOptions = 1;
  Options options;
  Output out(options);
  Captured c;
  ASSERT_EQ(describeOneCommand(readTen.data(), readTen.size(), 8192, o, out), "");
  EXPECT_EQ(c.text.str(),
            "  Opcode=0x28\n  Command_name: Read(10)\n  Command is supported [conforming to SCSI standard]\n"
            "  Usage data: 28 18 ff ff ff ff 00 ff ff 00\n"
            "  nominal timeout: 3 secs, recommended timeout: 30 secs\n");
  EXPECT_EQ(out.doc()["cdb_usage_data_hex"], "2818ffffffff00ffff00");
  EXPECT_EQ(out.doc()["support"], 3);
  EXPECT_EQ(out.doc()["timeouts"]["nominal_seconds"], 3);
}

TEST(OpcodesDecode, OneCommandAnswersThatContradictThemOrItself) {
  std::vector<uint8_t> otherCode = readTen;
  otherCode[4] = 0x2a;
  const std::vector<uint8_t> unsupported = {0, 0x01, 0, 0};
  const struct {
    const char* what;
    const std::vector<uint8_t>* data;
    size_t length, allocation;
    const char* problem;  // "" for none
    const char* line;     // a line of the text (none when a problem)
  } cases[] = {
      {"not supported", &unsupported, 4, 8192, "", "  Command is NOT supported\n"},
      {"usage data of another command", &otherCode, 26, 8192, "of operation code 0x2a, not 0x28", ""},
      {"CDB SIZE past what arrived", &readTen, 20, 8192, "says 26 bytes, 20 arrived", ""},
      {"cut by the allocation in the usage data", &readTen, 8, 8, "", "  Usage data: 28 18 ff ff\n"},
      {"cut by the allocation in the timeouts", &readTen, 20, 20, "", "(the command timeouts descriptor was cut short)"},
      {"no header", &readTen, 2, 8192, "2 bytes arrived", ""},
  };
  OpcodesOptions o;
  o.opcode = 0x28;
  o.reportingOptions = 1;
  Options options;
  for (const auto& c : cases) {
    Output out(options);
    Captured captured;
    const std::string problem = describeOneCommand(c.data->data(), c.length, c.allocation, o, out);
    const std::string text = captured.text.str();
    if (*c.problem != '\0') {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << c.what << ": " << problem;
      EXPECT_EQ(text, "") << c.what;
      continue;
    }
    EXPECT_EQ(problem, "") << c.what;
    EXPECT_NE(text.find(c.line), std::string::npos) << c.what << "\n" << text;
  }
}

TEST(OpcodesOptionsParse, ReportingOptionsFollowWhatIsGiven) {
  const struct {
    const char *opcode, *action, *type;
    const char* problem;  // part of it; "" for none
    unsigned code, sa, reporting;
    int deviceType;
  } cases[] = {
      {"", "", "", "", 0, 0, 0, -1},
      {"0x28", "", "", "", 0x28, 0, 1, -1},
      {"28h", "", "1", "", 0x28, 0, 1, 1},
      {"0x9e,0x10", "", "", "", 0x9e, 0x10, 2, -1},
      {"94", "16", "-1", "", 94, 16, 2, -1},
      {"0xa3", "0xffff", "31", "", 0xa3, 0xffff, 2, 31},
      {"", "1", "", "--sa needs --opcode", 0, 0, 0, -1},
      {"256", "", "", "expected an operation code 0 to 255", 0, 0, 0, -1},
      {"0x5e,0x10000", "", "", "expected 0 to 65535", 0, 0, 0, -1},
      {"0x5e,1", "1", "", "give one", 0, 0, 0, -1},
      {"0x5e,", "", "", "a service action 0 to 65535 follows the comma", 0, 0, 0, -1},
      {"0x12", "", "32", "--pdt '32'", 0, 0, 0, -1},
  };
  for (const auto& c : cases) {
    OpcodesOptions o;
    o.opcodeText = c.opcode;
    o.actionText = c.action;
    o.typeText = c.type;
    const std::string problem = parseOpcodesOptions(o);
    if (*c.problem != '\0') {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << c.opcode << " " << c.action << ": " << problem;
      continue;
    }
    EXPECT_EQ(problem, "") << c.opcode;
    EXPECT_EQ(o.opcode, c.code) << c.opcode;
    EXPECT_EQ(o.serviceAction, c.sa) << c.opcode;
    EXPECT_EQ(o.reportingOptions, c.reporting) << c.opcode;
    EXPECT_EQ(o.deviceType, c.deviceType) << c.opcode;
  }
}

TEST(OpcodesTool, RunsOnTheEmulatedDisk) {
  qxscsi::test::ToolRun r = runTool("--json opcodes --timeouts", false);
  EXPECT_EQ(r.status, 0) << r.out;
  const nlohmann::json j = nlohmann::json::parse(r.out, nullptr, false);
  ASSERT_FALSE(j.is_discarded()) << r.out;
  EXPECT_EQ(j["command"]["cdb_hex"], "a30c80000000000020000000");  // RCTD, all commands, 8192 bytes
  ASSERT_GE(j["commands"].size(), 30u);
  EXPECT_EQ(j["commands"][0]["name"], "Test Unit Ready");
  EXPECT_EQ(j["commands"][0]["timeouts"]["recommended_seconds"], 30);

  r = runTool("opcodes -o 0x28 --timeouts", true);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out,
            "  Opcode=0x28\n  Command_name: Read(10)\n  Command is supported [conforming to SCSI standard]\n"
            "  Usage data: 28 18 ff ff ff ff 00 ff ff 00\n  no nominal timeout, recommended timeout: 30 secs\n");

  const struct {
    const char* args;
    int status;
    const char* line;
  } cases[] = {
      {"opcodes -o 0x5e,1", 0, "  Opcode=0x5e  Service_action=0x0001\n  Command_name: Persistent reserve in, read reservation"},
      {"opcodes -o 0x9e --sa 0x10", 0, "  Usage data: 9e 10 ff ff ff ff ff ff ff ff ff ff ff ff 01 00\n"},
      {"opcodes -o 0xff", 0, "  Command is NOT supported\n"},
      {"opcodes -o 0x5e", 5, "Invalid field in cdb"},  // it has service actions: reporting options 2
      {"opcodes --sa 1", 31, "--sa needs --opcode"},
      {"opcodes -o 0x100", 1, "expected an operation code 0 to 255"},
      {"opcodes emulated:tape", 9, "Invalid command operation code"},
      {"-t 2 opcodes 'emulated:disk?hostile=timeout'", 33, "timed out"},
  };
  for (const auto& c : cases) {
    r = runTool(c.args, true);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(c.line), std::string::npos) << c.args << "\n" << r.out;
  }
}

}  // namespace
