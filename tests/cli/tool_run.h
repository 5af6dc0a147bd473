// Runs the built qxscsi program (QXSCSI_TOOL_PATH) for the tool's tests.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace qxscsi::test {

struct ToolRun {
  int status = -1;   // the exit status; -1 when the program did not exit normally
  std::string out;   // stdout, and stderr too with `withStderr`
};

// Runs the program with `args` (shell words), `input` (no single quotes) on its stdin when given,
// and collects what it prints.
inline ToolRun runTool(const std::string& args, bool withStderr, const std::string& input = "") {
  std::string cmd = std::string(QXSCSI_TOOL_PATH) + " " + args + (withStderr ? " 2>&1" : " 2>/dev/null");
  if (!input.empty()) cmd = "printf '%s' '" + input + "' | " + cmd;
  ToolRun r;
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

}  // namespace qxscsi::test
