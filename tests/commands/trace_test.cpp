// Layout of the trace formatter: indentation, titles, separators, terminator.
#include <gtest/gtest.h>

#include <string>

#include "qxscsi/trace.h"

namespace {

std::string text(std::ostrstream& os) { return std::string(os.str(), static_cast<size_t>(os.pcount())); }

class TraceTest : public ::testing::Test {
protected:
  ~TraceTest() override { os.freeze(false); }
  QXScsiTrace trace;
  std::ostrstream os;
};

TEST_F(TraceTest, IndentAppendsFourBlanksPerPositiveLevel) {
  std::string s;
  EXPECT_EQ(trace.indent(s, 0), "");
  EXPECT_EQ(trace.indent(s, 1), "    ");
  s.clear();
  EXPECT_EQ(trace.indent(s, 3), std::string(12, ' '));
  s.clear();
  EXPECT_EQ(trace.indent(s, -2), "");
  s = "  ";
  EXPECT_EQ(trace.indent(s, 1), std::string(6, ' '));
}

TEST_F(TraceTest, PrefixWritesIndentedTitleOrNothing) {
  trace.tracePrefix(os, nullptr, 3);
  EXPECT_EQ(os.pcount(), 0);
  trace.tracePrefix(os, "BUFFER PAGE:", 2);
  EXPECT_EQ(text(os), "        BUFFER PAGE:\n");
}

TEST_F(TraceTest, SeparatorAtLevelZeroHasNoIndent) {
  trace.traceSeparator(os, 0);
  trace.traceSeparator(os, 1);
  EXPECT_EQ(text(os), "*** END ***\n    *** END ***\n");
}

TEST_F(TraceTest, TerminateAppendsExactlyOneNul) {
  trace.terminate(os, false);
  trace.traceDebug(os);
  EXPECT_EQ(os.pcount(), 0);
  trace.terminate(os, true);
  ASSERT_EQ(os.pcount(), 1);
  EXPECT_EQ(text(os), std::string(1, '\0'));
}

}  // namespace
