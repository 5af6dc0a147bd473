// The command-line tool against hostile devices: every device subcommand in every mode ends with
// an exit status that says what happened, a JSON document that parses, and no sanitizer or
// valgrind report.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifdef QXSCSI_TOOL_PATH
#include <nlohmann/json.hpp>
#endif

namespace qxscsi::hostile {
namespace {

struct ToolRun {
  bool exited = false;  // false: killed by a signal
  int status = -1;
  std::string out;
  std::string err;
};

class HostileToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef QXSCSI_TOOL_PATH
    GTEST_SKIP() << "the command-line tool is not built";
#endif
    listFile = ::testing::TempDir() + "hostile_xcopy_list_" + std::to_string(getpid()) + ".bin";
    std::ofstream(listFile, std::ios::binary) << std::string(16, '\0');
  }

  // Runs the tool with `args` (each quoted for the shell), optionally under `wrapper`.
  ToolRun tool(const std::vector<std::string>& args, const std::string& wrapper = "") {
    std::string command = wrapper;
#ifdef QXSCSI_TOOL_PATH
    command += std::string(" '") + QXSCSI_TOOL_PATH + "'";
#endif
    for (const std::string& a : args) command += " '" + a + "'";
    // One file per process: ctest runs the cases of this program side by side.
    const std::string errFile =
        ::testing::TempDir() + "hostile_tool_stderr_" + std::to_string(getpid()) + ".txt";
    command += " 2>'" + errFile + "'";
    ToolRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) run.out.append(chunk, n);
    const int raw = pclose(pipe);
    run.exited = WIFEXITED(raw);
    run.status = run.exited ? WEXITSTATUS(raw) : -1;
    std::ifstream err(errFile);
    std::stringstream text;
    text << err.rdbuf();
    run.err = text.str();
    return run;
  }

  std::vector<std::vector<std::string>> subcommands(const std::string& device) const {
    return {{"inquiry", device},
            {"inquiry", "--vpd", "0", device},
            {"inquiry", "--vpd", "128", device},
            {"inquiry", "--vpd", "131", device},
            {"tur", device},
            {"sense", device},
            {"luns", device},
            {"raw", "--cdb", "28 00 00 00 00 00 00 00 01 00", "--in", "512", device},
            {"copy-results", "--sa", "3", device},
            {"xcopy", "--list", listFile, device}};
  }

  static bool clean(const ToolRun& run) {
    return run.exited && run.err.find("Sanitizer") == std::string::npos &&
           run.err.find("runtime error") == std::string::npos;
  }

  void TearDown() override {
    std::remove(listFile.c_str());
    std::remove((::testing::TempDir() + "hostile_tool_stderr_" + std::to_string(getpid()) + ".txt").c_str());
  }

  std::string listFile;
};

TEST_F(HostileToolTest, EverySubcommandInEveryModeExitsWithAStatusThatSaysWhatHappened) {
#ifdef QXSCSI_TOOL_PATH
  // Exit statuses for modes that answer every command alike; -1: any status, as long as it is clean.
  const std::pair<const char*, int> modes[] = {{"busy", 26},     {"conflict", 24}, {"taskfull", 27},
                                               {"timeout", 33},  {"sense17", 11},  {"sense18", 11},
                                               {"sense255", 11}, {"sense0", 98},   {"nosense", 98},
                                               {"sense1", 20},   {"lengths", -1},  {"descriptors", -1}};
  for (const auto& [mode, expected] : modes) {
    const std::string device = std::string("emulated:disk?luns=2&hostile=") + mode;
    for (std::vector<std::string> args : subcommands(device)) {
      args.insert(args.begin(), "--json");
      const ToolRun run = tool(args);
      const std::string what = std::string(mode) + " " + args[1];
      ASSERT_TRUE(clean(run)) << what << "\n" << run.err;
      if (expected >= 0) {
        EXPECT_EQ(run.status, expected) << what << "\n" << run.out << run.err;
      }
      const nlohmann::json doc = nlohmann::json::parse(run.out, nullptr, false);
      ASSERT_FALSE(doc.is_discarded()) << what << "\n" << run.out;
      EXPECT_EQ(doc.value("exit_status", -1000), run.status) << what;
    }
  }
#endif
}

TEST_F(HostileToolTest, TextOutputNamesTheStatusTheTimeoutAndTheOverstatedCount) {
  ToolRun run = tool({"tur", "emulated:tape?hostile=busy"});
  EXPECT_EQ(run.status, 26);
  EXPECT_NE(run.out.find("status: 0x08"), std::string::npos) << run.out;

  run = tool({"luns", "emulated:tape?hostile=timeout"});
  EXPECT_EQ(run.status, 33);
  EXPECT_NE(run.err.find("timed out"), std::string::npos) << run.err;

  // A LUN LIST LENGTH that is no multiple of 8 is named and nothing is listed.
  run = tool({"luns", "emulated:disk?luns=3&hostile=lengths"});
  ASSERT_TRUE(clean(run)) << run.err;
  EXPECT_EQ(run.status, 97) << run.err;
  EXPECT_NE(run.err.find("LUN LIST LENGTH 4294967292 is not a multiple of 8"), std::string::npos) << run.err;
  EXPECT_EQ(run.out.find("addressing"), std::string::npos) << run.out;

  run = tool({"sense", "emulated:changer?hostile=sense255"});
  ASSERT_TRUE(clean(run)) << run.err;
  EXPECT_EQ(run.status, 11);
  EXPECT_NE(run.out.find("status: 0x02"), std::string::npos) << run.out;
}

TEST_F(HostileToolTest, TestUnitReadySaysWhatTheStatusMeans) {
  const struct {
    const char* mode;
    int status;
    const char* line;
  } cases[] = {{"busy", 26, "busy\n"},
               {"conflict", 24, "reservation conflict\n"},
               {"taskfull", 27, "task set full\n"},
               {"nosense", 98, "check condition without sense data\n"}};
  for (const auto& c : cases) {
    ToolRun run = tool({"tur", std::string("emulated:disk?hostile=") + c.mode});
    EXPECT_EQ(run.status, c.status) << c.mode;
    EXPECT_NE(run.out.find(c.line), std::string::npos) << c.mode << "\n" << run.out;
    EXPECT_EQ(run.out.find("not ready"), std::string::npos) << c.mode << "\n" << run.out;
  }
}

TEST_F(HostileToolTest, OnlyTheBytesThatArrivedAreDecodedAndContradictionsAreReported) {
  // VPD pages whose own length runs past what arrived are never decoded as valid.
  for (const char* mode : {"lengths", "descriptors"}) {
    for (const char* page : {"0", "128", "131"}) {
      const std::string device = std::string("emulated:disk?hostile=") + mode;
      ToolRun run = tool({"inquiry", "--vpd", page, device});
      ASSERT_TRUE(clean(run)) << run.err;
      EXPECT_EQ(run.status, 97) << mode << " " << page << "\n" << run.out << run.err;
      EXPECT_NE(run.err.find("response failed sanity checks"), std::string::npos) << run.err;
      EXPECT_EQ(run.out.find("VPD page"), std::string::npos) << run.out;
    }
  }
  // REPORT LUNS: a list length that cannot be right fails the checks; no entry is listed.
  ToolRun run = tool({"--json", "luns", "emulated:disk?luns=3&hostile=lengths"});
  EXPECT_EQ(run.status, 97);
  const nlohmann::json doc = nlohmann::json::parse(run.out, nullptr, false);
  ASSERT_FALSE(doc.is_discarded()) << run.out;
  EXPECT_FALSE(doc.contains("logical_units")) << doc;
  EXPECT_EQ(doc["command"]["data_in"]["residual_known"], true);
  EXPECT_LT(doc["command"]["data_in"]["received"].get<size_t>(), doc["command"]["data_in"]["requested"].get<size_t>());
}

TEST_F(HostileToolTest, ToolLeaksNothingAndTouchesNoMemoryItDoesNotOwnUnderValgrind) {
#if defined(__SANITIZE_ADDRESS__) || !defined(QXSCSI_VALGRIND_PATH)
  GTEST_SKIP() << "the sanitizer build checks the tool itself; valgrind runs on plain builds";
#else
  const std::string valgrind = std::string(QXSCSI_VALGRIND_PATH) +
                               " --quiet --error-exitcode=120 --leak-check=full"
                               " --errors-for-leak-kinds=definite,indirect";
  const std::vector<std::vector<std::string>> runs = {
      {"--json", "luns", "emulated:disk?luns=3&hostile=lengths"},
      {"--json", "inquiry", "--vpd", "131", "emulated:disk?hostile=descriptors"},
      {"sense", "emulated:tape?hostile=sense255"},
      {"tur", "emulated:changer?hostile=timeout"}};
  for (const std::vector<std::string>& args : runs) {
    const ToolRun run = tool(args, valgrind);
    EXPECT_TRUE(run.exited) << args[1];
    EXPECT_NE(run.status, 120) << args.back() << "\n" << run.err;
  }
#endif
}

}  // namespace
}  // namespace qxscsi::hostile
