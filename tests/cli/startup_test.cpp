// What a run sets up before it parses: only the named subcommand gets its options, and libiscsi is
// loaded only by a run that opens an iscsi:// name. Neither may change what any command line does.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tool_run.h"

namespace {

using qxscsi::test::runTool;

const char sense_c[] = "70 00 05 00 00 00 00 0a 00 00 00 00 24 00 00 00 00 00";

TEST(StartupTest, OptionsOnEitherSideOfTheNamedSubcommandStillCount) {
  struct Case {
    std::string args;
    int status;
    const char* shows;  // text the output holds
  };
  const Case cases[] = {
      {"-t 5 readcap emulated:disk", 0, "last LBA: 2047"},
      {"readcap -t 5 emulated:disk", 0, "last LBA: 2047"},
      {"--json tur", 0, "\"subcommand\""},
      {"tur --json", 0, "\"subcommand\""},
      {"--hex decode-sense " + std::string(sense_c), 0, "Invalid field in cdb"},
      {"modes -p 0x08 emulated:disk", 0, "08h"},
      {"--timeout 7 -v inquiry emulated:disk", 0, "timeout 7 s"},
      // The value of a value-taking option is not the subcommand's name.
      {"--address 0:0:0 tur emulated:disk", 31, "--address"},
      {"-t tur tur", 1, "-t/--timeout"},
      // Another subcommand's options stay unknown here.
      {"tur --long", 1, "--long"},
      {"readcap --vpd 0x80", 1, "--vpd"},
      // Help of one subcommand lists the options it takes, common ones included.
      {"tur --help", 0, "-t,--timeout SECONDS"},
      {"persist --help", 0, "--prout-type"},
      // Without a subcommand's name every subcommand is set up.
      {"--help", 0, "rtpg"},
      {"bogus", 1, "unknown subcommand 'bogus' (subcommands: inquiry, tur"},
      {"-v", 1, "A subcommand is required"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    qxscsi::test::ToolRun r = runTool(c.args, true);
    EXPECT_EQ(r.status, c.status) << r.out;
    EXPECT_NE(r.out.find(c.shows), std::string::npos) << r.out;
  }
  EXPECT_NE(runTool("bogus", true).out.find("persist, rtpg, luns, opcodes, copy)"), std::string::npos);
}

// The dynamic loader's report (LD_DEBUG=libs) of a run with `args`, merged with its output.
std::string loaderReport(const std::string& args) {
  const std::string cmd = std::string("LD_DEBUG=libs ") + QXSCSI_TOOL_PATH + " " + args + " 2>&1";
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

TEST(StartupTest, LibiscsiIsLoadedOnlyToOpenAnIscsiNameAndNoRunPathIsSearched) {
  const std::string soname = QXSCSI_TOOL_LAZY_LIBISCSI;
  if (soname.empty()) GTEST_SKIP() << "this program links libiscsi (and perhaps our libraries) at start";
  for (const std::string& args : {"decode-sense " + std::string(sense_c), std::string("tur emulated:disk"),
                                 std::string("--help")}) {
    SCOPED_TRACE(args);
    const std::string report = loaderReport(args);
    EXPECT_NE(report.find("libc.so.6"), std::string::npos) << "no loader report:\n" << report;
    EXPECT_EQ(report.find(soname), std::string::npos) << report;
    // The program loads no library of ours: a run path (an empty one meant the current directory)
    // would only send the loader through directories it must not search.
    EXPECT_EQ(report.find("RUNPATH"), std::string::npos) << report;
  }
  // Port 1 on loopback refuses the connection: libiscsi was loaded to try it, and the run ends
  // with the connection's failure, not the loading's.
  const std::string report = loaderReport("tur iscsi://127.0.0.1:1/iqn.2026-12.org.example:none/0");
  EXPECT_NE(report.find("find library=" + soname), std::string::npos) << report;
  EXPECT_EQ(report.find("could not be loaded"), std::string::npos) << report;
  EXPECT_NE(report.find("qxscsi:"), std::string::npos) << report;
}

}  // namespace
